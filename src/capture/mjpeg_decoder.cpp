#include "capture/mjpeg_decoder.h"

#include "capture/jpeg_error_guard.h"

#include <QtEndian>
#include <algorithm>
#include <string>
#include <utility>

namespace vistrel {

namespace {

// QImage's RGB32 is one 0xffRRGGBB word per pixel, whatever the byte order.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32_Space = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kRgb32_Space = JCS_EXT_XRGB;
#endif

// Several rows per call let libjpeg-turbo upsample a whole band at once.
constexpr JDIMENSION kRows_Per_Call = 16;

// The decompressor and its error manager, released whichever way decoding
// ends. The functions below that call libjpeg jump back to their own start
// on an error (see jpeg_error_guard.h); the failure is thrown from here.
class Decompressor {
public:
    Decompressor() { info_.err = Use_Guard(guard_); }
    ~Decompressor() { jpeg_destroy_decompress(&info_); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct* Info() { return &info_; }
    Jpeg_Error_Guard& Guard() { return guard_; }

    [[noreturn]] void Throw() const {
        throw Jpeg_Error(std::string(guard_.damaged ? "JPEG frame damaged: " : "JPEG frame: ") +
                         guard_.message);
    }

private:
    Jpeg_Error_Guard guard_;
    jpeg_decompress_struct info_{};
};

bool Start(jpeg_decompress_struct* info, Jpeg_Error_Guard& guard, const uint8_t* data,
           size_t size) {
    if (setjmp(guard.jump))
        return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, static_cast<unsigned long>(size));
    jpeg_read_header(info, TRUE);
    info->out_color_space = kRgb32_Space;
    // The fast settings take about a third less time on every tick. What they
    // lose (a little precision, slightly softer colour edges) does not show
    // in pictures of at most 640 x 480 that are saved again as JPEG.
    info->dct_method = JDCT_IFAST;
    info->do_fancy_upsampling = FALSE;
    jpeg_start_decompress(info);
    return true;
}

// Every row is written whole, the X bytes as 0xff: a reused picture keeps
// nothing of the frame before.
bool Read_Rows(jpeg_decompress_struct* info, Jpeg_Error_Guard& guard, uchar* pixels,
               qsizetype bytes_per_line) {
    if (setjmp(guard.jump))
        return false;
    JSAMPROW rows[kRows_Per_Call];
    while (info->output_scanline < info->output_height) {
        const JDIMENSION first = info->output_scanline;
        const JDIMENSION count = std::min(kRows_Per_Call, info->output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = pixels + bytes_per_line * static_cast<qsizetype>(first + i);
        jpeg_read_scanlines(info, rows, count);
    }
    jpeg_finish_decompress(info);
    return true;
}

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
    if (!Start(d.Info(), d.Guard(), data, size))
        d.Throw();
    QImage image = Frame_Memory(std::move(spare), static_cast<int>(d.Info()->output_width),
                                static_cast<int>(d.Info()->output_height));
    if (image.isNull())
        throw Jpeg_Error("JPEG frame: no memory for the picture");
    if (!Read_Rows(d.Info(), d.Guard(), image.bits(), image.bytesPerLine()))
        d.Throw();
    return image;
}

} // namespace vistrel
