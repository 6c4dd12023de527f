#include "episodes/thumbnail_decoder.h"

#include "capture/jpeg_error_guard.h"

#include <QtEndian>
#include <fstream>
#include <iterator>

namespace vistrel {

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32_Space = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kRgb32_Space = JCS_EXT_XRGB;
#endif

// The decompressor and its guard, released however decoding ends. The
// functions below that call libjpeg jump back to their start on an error and
// hold nothing with a destructor (see jpeg_error_guard.h).
class Decompressor {
public:
    Decompressor() { info_.err = Use_Guard(guard_); }
    ~Decompressor() { jpeg_destroy_decompress(&info_); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct* Info() { return &info_; }
    Jpeg_Error_Guard& Guard() { return guard_; }

private:
    Jpeg_Error_Guard guard_;
    jpeg_decompress_struct info_{};
};

bool Read_Header(jpeg_decompress_struct* info, Jpeg_Error_Guard& guard, const std::string& jpeg) {
    if (setjmp(guard.jump))
        return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(jpeg.data()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(info, TRUE);
    return true;
}

bool Start_Scaled(jpeg_decompress_struct* info, Jpeg_Error_Guard& guard) {
    if (setjmp(guard.jump))
        return false;
    info->scale_num = 1;
    info->scale_denom = 8;
    info->out_color_space = kRgb32_Space;
    // At an eighth each output pixel is one DCT coefficient: the fast
    // settings lose nothing visible there.
    info->dct_method = JDCT_IFAST;
    info->do_fancy_upsampling = FALSE;
    jpeg_start_decompress(info);
    return true;
}

bool Read_Rows(jpeg_decompress_struct* info, Jpeg_Error_Guard& guard, uchar* pixels,
               qsizetype bytes_per_line) {
    if (setjmp(guard.jump))
        return false;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = pixels + bytes_per_line * static_cast<qsizetype>(info->output_scanline);
        jpeg_read_scanlines(info, &row, 1);
    }
    jpeg_finish_decompress(info);
    return true;
}

} // namespace

QSize Read_Jpeg_Size(const std::string& jpeg) noexcept {
    if (jpeg.empty())
        return {};
    Decompressor d;
    if (!Read_Header(d.Info(), d.Guard(), jpeg))
        return {};
    return {static_cast<int>(d.Info()->image_width), static_cast<int>(d.Info()->image_height)};
}

QImage Decode_Thumbnail_Bytes(const std::string& jpeg) noexcept {
    if (jpeg.empty())
        return {};
    Decompressor d;
    if (!Read_Header(d.Info(), d.Guard(), jpeg) || !Start_Scaled(d.Info(), d.Guard()))
        return {};
    // QImage reports a failed allocation by being null, not by throwing.
    QImage image(static_cast<int>(d.Info()->output_width),
                 static_cast<int>(d.Info()->output_height), QImage::Format_RGB32);
    if (image.isNull() || !Read_Rows(d.Info(), d.Guard(), image.bits(), image.bytesPerLine()))
        return {};
    return image;
}

QImage Decode_Thumbnail(const std::string& path) noexcept {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return {};
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        if (in.bad())
            return {};
        return Decode_Thumbnail_Bytes(bytes);
    } catch (...) {
        return {};
    }
}

} // namespace vistrel
