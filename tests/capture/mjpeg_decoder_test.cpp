#include "capture/mjpeg_decoder.h"
#include "recording/snapshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

namespace vistrel {
namespace {

constexpr QRgb kQuadrants[] = {qRgb(200, 60, 30), qRgb(30, 160, 70), qRgb(40, 50, 210),
                               qRgb(240, 240, 240)};

// Four flat quadrants: colours JPEG keeps well away from their borders.
QImage Quadrant_Picture(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, kQuadrants[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)]);
    return picture;
}

QImage Decode(const std::string& bytes) {
    return Decode_Mjpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void Expect_Near(QRgb actual, QRgb expected, int tolerance) {
    EXPECT_EQ(qAlpha(actual), 255);
    EXPECT_NEAR(qRed(actual), qRed(expected), tolerance);
    EXPECT_NEAR(qGreen(actual), qGreen(expected), tolerance);
    EXPECT_NEAR(qBlue(actual), qBlue(expected), tolerance);
}

struct Size_Case {
    int width;
    int height;
};

void PrintTo(const Size_Case& c, std::ostream* os) {
    *os << c.width << "x" << c.height;
}

class Mjpeg_Decoder_Size : public testing::TestWithParam<Size_Case> {};

// Odd sizes leave partial blocks at the right and bottom edges.
TEST_P(Mjpeg_Decoder_Size, Gives_The_Picture_At_Its_Size_And_Colours) {
    const auto [width, height] = GetParam();
    const QImage decoded = Decode(Encode_Jpeg(Quadrant_Picture(width, height)));

    ASSERT_EQ(decoded.size(), QSize(width, height));
    EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
    const int xs[] = {width / 4, width * 3 / 4};
    const int ys[] = {height / 4, height * 3 / 4};
    for (int q = 0; q < 4; ++q) {
        SCOPED_TRACE(q);
        Expect_Near(decoded.pixel(xs[q % 2], ys[q / 2]), kQuadrants[q], 8);
    }
    Expect_Near(decoded.pixel(width - 1, height - 1), kQuadrants[3], 8);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Mjpeg_Decoder_Size,
                         testing::Values(Size_Case{64, 48}, Size_Case{33, 17},
                                         Size_Case{1280, 720}));

struct Bad_Case {
    const char* name;
    std::string bytes;
    // Part of the message when the row is about one kind of damage.
    const char* why = "";
};

std::string Valid_Jpeg() {
    return Encode_Jpeg(Quadrant_Picture(64, 48));
}

// Where the entropy-coded data of the (only) scan begins: after the SOS
// segment.
size_t Scan_Start(const std::string& jpeg) {
    const size_t sos = jpeg.find("\xff\xda");
    if (sos == std::string::npos || sos + 4 > jpeg.size())
        return jpeg.size();
    return sos + 2 + (size_t(uint8_t(jpeg[sos + 2])) << 8 | uint8_t(jpeg[sos + 3]));
}

// The frame a UVC camera hands over after losing packets: its data stops
// `eighths` eighths into the scan, and the end marker follows all the same.
std::string Cut_Then_End_Marker(int eighths) {
    const std::string jpeg = Valid_Jpeg();
    const size_t start = Scan_Start(jpeg);
    const size_t scan = jpeg.size() - 2 - start;
    return jpeg.substr(0, start + scan * size_t(eighths) / 8) + "\xff\xd9";
}

// One byte in the middle of the scan changed so that the bits there form a
// code the Huffman tables do not have.
std::string Corrupt_Huffman_Byte() {
    std::string jpeg = Valid_Jpeg();
    const size_t start = Scan_Start(jpeg);
    jpeg[start + (jpeg.size() - 2 - start) / 2] = '\xf0';
    return jpeg;
}

void PrintTo(const Bad_Case& c, std::ostream* os) {
    *os << c.name;
}

class Mjpeg_Decoder_Bad_Data : public testing::TestWithParam<Bad_Case> {};

TEST_P(Mjpeg_Decoder_Bad_Data, Throws_Instead_Of_Crashing_Or_Padding) {
    try {
        Decode(GetParam().bytes);
        ADD_FAILURE() << "decoded";
    } catch (const Jpeg_Error& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().why), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mjpeg_Decoder_Bad_Data,
    testing::Values(Bad_Case{"Empty", ""}, Bad_Case{"Garbage", std::string(500, '\x5a')},
                    Bad_Case{"Header_Only", Valid_Jpeg().substr(0, 20)},
                    Bad_Case{"Cut_In_The_Middle", Valid_Jpeg().substr(0, Valid_Jpeg().size() / 2)},
                    Bad_Case{"Without_Start_Marker", Valid_Jpeg().substr(2)},
                    Bad_Case{"Cut_Early_Then_End_Marker", Cut_Then_End_Marker(1), "damaged"},
                    Bad_Case{"Cut_At_A_Quarter_Then_End_Marker", Cut_Then_End_Marker(2), "damaged"},
                    Bad_Case{"Cut_Halfway_Then_End_Marker", Cut_Then_End_Marker(4), "damaged"},
                    Bad_Case{"Cut_Late_Then_End_Marker", Cut_Then_End_Marker(7), "damaged"},
                    Bad_Case{"Cut_Before_The_Scan_Then_End_Marker",
                             Valid_Jpeg().substr(0, Scan_Start(Valid_Jpeg()) - 20) + "\xff\xd9"},
                    Bad_Case{"One_Corrupt_Huffman_Byte", Corrupt_Huffman_Byte(), "Huffman"}),
    [](const testing::TestParamInfo<Bad_Case>& info) { return std::string(info.param.name); });

// Stray bytes between the segments are common in camera streams: libjpeg
// warns about them, but the picture is whole and is kept.
TEST(Mjpeg_Decoder, Stray_Bytes_Before_The_End_Marker_Keep_The_Frame) {
    const std::string jpeg = Valid_Jpeg();
    const QImage whole = Decode(jpeg);
    const QImage with_stray_bytes =
        Decode(jpeg.substr(0, jpeg.size() - 2) + "\x12\x34\x56\xff\xd9");
    EXPECT_EQ(with_stray_bytes, whole);
}

// A frame is made in the memory of the one before when that one fits and
// nobody else holds it; the pixels are the same either way, and nothing of
// the old frame shows through.
struct Spare_Case {
    const char* name;
    QSize size;
    QImage::Format format;
    bool shared;
    bool reused;
};

void PrintTo(const Spare_Case& c, std::ostream* os) {
    *os << c.name;
}

class Mjpeg_Decoder_Spare : public testing::TestWithParam<Spare_Case> {};

TEST_P(Mjpeg_Decoder_Spare, Reuses_Only_A_Fitting_Frame_Nobody_Holds) {
    const Spare_Case& c = GetParam();
    const std::string jpeg = Encode_Jpeg(Quadrant_Picture(66, 50));
    const QImage fresh = Decode(jpeg);
    for (const uint32_t fill : {0x00000000u, 0xA5C3E1F7u}) {
        SCOPED_TRACE(fill);
        QImage spare(c.size, c.format);
        spare.fill(fill);
        const uchar* const memory = spare.constBits();
        const QImage holder = c.shared ? spare : QImage();
        const QImage before = holder.copy();
        const QImage decoded = Decode_Mjpeg(reinterpret_cast<const uint8_t*>(jpeg.data()),
                                            jpeg.size(), std::move(spare));
        EXPECT_EQ(decoded.constBits() == memory, c.reused);
        ASSERT_EQ(decoded.format(), QImage::Format_RGB32);
        ASSERT_EQ(decoded.size(), fresh.size());
        // Byte for byte, the unused fourth byte of each pixel too.
        for (int y = 0; y < fresh.height(); ++y)
            ASSERT_EQ(std::memcmp(decoded.constScanLine(y), fresh.constScanLine(y),
                                  size_t(fresh.width()) * 4),
                      0)
                << "row " << y;
        EXPECT_EQ(holder, before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mjpeg_Decoder_Spare,
    testing::Values(Spare_Case{"Fits", {66, 50}, QImage::Format_RGB32, false, true},
                    Spare_Case{"Held_Elsewhere", {66, 50}, QImage::Format_RGB32, true, false},
                    Spare_Case{"Other_Width", {64, 50}, QImage::Format_RGB32, false, false},
                    Spare_Case{"Other_Height", {66, 48}, QImage::Format_RGB32, false, false},
                    Spare_Case{"Other_Format", {66, 50}, QImage::Format_ARGB32, false, false},
                    Spare_Case{"None", {0, 0}, QImage::Format_RGB32, false, false}),
    [](const testing::TestParamInfo<Spare_Case>& info) { return std::string(info.param.name); });

TEST(Mjpeg_Decoder, Null_Data_Throws) {
    EXPECT_THROW(Decode_Mjpeg(nullptr, 10), Jpeg_Error);
}

} // namespace
} // namespace vistrel
