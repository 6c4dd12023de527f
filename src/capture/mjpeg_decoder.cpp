#include "capture/mjpeg_decoder.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <utility>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it needs its types.
#include <jerror.h>

namespace vistrel {

namespace {

// QImage's RGB32 is one 0xffRRGGBB word per pixel, whatever the byte order.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32_Space = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kRgb32_Space = JCS_EXT_XRGB;
#endif

[[noreturn]] void Throw_Jpeg_Error(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    throw Jpeg_Error(std::string("JPEG frame: ") + text);
}

// libjpeg must not exit() the program over a bad frame. The library is built
// with unwind tables, so the exception crosses its frames and the owner below
// still destroys the decompressor.
void Error_Exit(j_common_ptr cinfo) {
    Throw_Jpeg_Error(cinfo);
}

// Warnings about stray bytes are common in camera streams and harmless; a
// frame that ends early is not.
void Emit_Message(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        Throw_Jpeg_Error(cinfo);
}

class Decompressor {
public:
    Decompressor() {
        info_.err = jpeg_std_error(&errors_);
        errors_.error_exit = Error_Exit;
        errors_.emit_message = Emit_Message;
        jpeg_create_decompress(&info_);
    }
    ~Decompressor() { jpeg_destroy_decompress(&info_); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct* operator->() { return &info_; }
    jpeg_decompress_struct* Get() { return &info_; }

private:
    jpeg_error_mgr errors_{};
    jpeg_decompress_struct info_{};
};

} // namespace

QImage Frame_Memory(QImage spare, int width, int height) {
    if (spare.width() == width && spare.height() == height &&
        spare.format() == QImage::Format_RGB32 && spare.isDetached())
        return spare;
    return QImage(width, height, QImage::Format_RGB32);
}

QImage Decode_Mjpeg(const uint8_t* data, size_t size, QImage spare) {
    if (data == nullptr || size == 0)
        throw Jpeg_Error("JPEG frame: empty");
    Decompressor d;
    jpeg_mem_src(d.Get(), data, static_cast<unsigned long>(size));
    jpeg_read_header(d.Get(), TRUE);
    d->out_color_space = kRgb32_Space;
    // The fast settings take about a third less time on every tick. What they
    // lose (a little precision, slightly softer colour edges) does not show
    // in pictures of at most 640 x 480 that are saved again as JPEG.
    d->dct_method = JDCT_IFAST;
    d->do_fancy_upsampling = FALSE;
    jpeg_start_decompress(d.Get());

    // Every row is written whole, the X bytes as 0xff: a reused picture
    // keeps nothing of the frame before.
    QImage image = Frame_Memory(std::move(spare), static_cast<int>(d->output_width),
                                static_cast<int>(d->output_height));
    if (image.isNull())
        throw Jpeg_Error("JPEG frame: no memory for the picture");
    // Several rows per call let libjpeg-turbo upsample a whole band at once.
    std::array<JSAMPROW, 16> rows{};
    while (d->output_scanline < d->output_height) {
        const auto first = static_cast<int>(d->output_scanline);
        const auto count = std::min<JDIMENSION>(rows.size(), d->output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = image.scanLine(first + static_cast<int>(i));
        jpeg_read_scanlines(d.Get(), rows.data(), count);
    }
    jpeg_finish_decompress(d.Get());
    return image;
}

} // namespace vistrel
