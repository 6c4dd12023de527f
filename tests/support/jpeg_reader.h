// Reads a JPEG file back with libjpeg, to check what the program wrote.
#pragma once

#include <QImage>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace vistrel::test {

struct Decoded_Jpeg {
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    bool baseline_frame = false; // SOF0 marker
    long warnings = 0;           // a cut-off file decodes with warnings, grey at the end
    std::vector<std::array<uint16_t, 64>> quant_tables;
    QImage image; // Format_RGB888
};

namespace detail {
struct Reader_Error {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
inline void Reader_Error_Exit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Reader_Error*>(cinfo->err)->jump, 1);
}
inline bool Decode_Into(const std::string& bytes, Decoded_Jpeg& out) {
    jpeg_decompress_struct d;
    Reader_Error err;
    d.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = Reader_Error_Exit;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    out.progressive = d.progressive_mode != 0;
    out.components = d.num_components;
    for (int t = 0; t < NUM_QUANT_TBLS; ++t) {
        if (d.quant_tbl_ptrs[t] == nullptr)
            continue;
        std::array<uint16_t, 64> table{};
        for (int i = 0; i < 64; ++i)
            table[static_cast<size_t>(i)] = d.quant_tbl_ptrs[t]->quantval[i];
        out.quant_tables.push_back(table);
    }
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    out.width = static_cast<int>(d.output_width);
    out.height = static_cast<int>(d.output_height);
    out.image = QImage(out.width, out.height, QImage::Format_RGB888);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.image.scanLine(static_cast<int>(d.output_scanline));
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    out.warnings = err.pub.num_warnings;
    jpeg_destroy_decompress(&d);
    return true;
}
} // namespace detail

inline Decoded_Jpeg Decode_Jpeg(const std::string& bytes) {
    Decoded_Jpeg out;
    if (!detail::Decode_Into(bytes, out))
        throw std::runtime_error("not a readable JPEG");
    out.baseline_frame = bytes.find("\xFF\xC0", 0, 2) != std::string::npos;
    return out;
}

// Whether the file is a whole JPEG picture: it decodes without error and
// without the warnings libjpeg gives for missing or corrupt data.
inline bool Decodes_Fully(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::string bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, n);
    std::fclose(file);
    Decoded_Jpeg out;
    return detail::Decode_Into(bytes, out) && out.warnings == 0 && out.width > 0;
}

} // namespace vistrel::test
