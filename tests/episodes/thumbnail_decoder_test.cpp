#include "episodes/thumbnail_decoder.h"
#include "recording/snapshot.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

namespace vistrel {
namespace {

constexpr QRgb kLeft = qRgb(200, 60, 30);
constexpr QRgb kRight = qRgb(40, 50, 210);

// Two flat halves: colours an eighth-size decode keeps away from the border.
QImage Halves(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, x < width / 2 ? kLeft : kRight);
    return picture;
}

class Thumbnail_Decoder : public ::testing::Test {
protected:
    QTemporaryDir dir_;

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (std::filesystem::path(dir_.path().toStdString()) / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

TEST_F(Thumbnail_Decoder, is_an_eighth_of_the_picture_rounded_up) {
    struct Case {
        int width, height, thumb_width, thumb_height;
    };
    const Case cases[] = {
        {640, 480, 80, 60}, {320, 240, 40, 30}, {641, 479, 81, 60}, {100, 75, 13, 10}, {7, 5, 1, 1},
    };
    for (const Case& c : cases) {
        const std::string path =
            Write("I_10_00_00__00001.jpg", Encode_Jpeg(Halves(c.width, c.height)));
        const QImage thumbnail = Decode_Thumbnail(path);
        EXPECT_EQ(thumbnail.size(), QSize(c.thumb_width, c.thumb_height))
            << c.width << "x" << c.height;
        EXPECT_EQ(thumbnail.format(), QImage::Format_RGB32);
    }
}

TEST_F(Thumbnail_Decoder, keeps_the_colours_of_the_picture) {
    const QImage thumbnail = Decode_Thumbnail(Write("a.jpg", Encode_Jpeg(Halves(640, 480))));
    ASSERT_EQ(thumbnail.size(), QSize(80, 60));
    for (const auto& [x, expected] : {std::pair{10, kLeft}, std::pair{70, kRight}}) {
        const QRgb actual = thumbnail.pixel(x, 30);
        EXPECT_NEAR(qRed(actual), qRed(expected), 12) << x;
        EXPECT_NEAR(qGreen(actual), qGreen(expected), 12) << x;
        EXPECT_NEAR(qBlue(actual), qBlue(expected), 12) << x;
    }
}

TEST_F(Thumbnail_Decoder, a_file_it_cannot_read_whole_gives_a_null_image) {
    const std::string jpeg = Encode_Jpeg(Halves(640, 480));
    struct Case {
        const char* name;
        std::string path;
    };
    const Case cases[] = {
        {"missing", (std::filesystem::path(dir_.path().toStdString()) / "gone.jpg").string()},
        {"empty", Write("empty.jpg", "")},
        {"not a JPEG", Write("text.jpg", std::string(4000, 'x'))},
        {"cut in half", Write("half.jpg", jpeg.substr(0, jpeg.size() / 2))},
        {"header only", Write("header.jpg", jpeg.substr(0, 600))},
        {"a folder", dir_.path().toStdString()},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(Decode_Thumbnail(c.path).isNull()) << c.name;
}

TEST(Read_Jpeg_Size, gives_the_header_size_or_none) {
    EXPECT_EQ(Read_Jpeg_Size(Encode_Jpeg(Halves(321, 123))), QSize(321, 123));
    EXPECT_FALSE(Read_Jpeg_Size("").isValid());
    EXPECT_FALSE(Read_Jpeg_Size(std::string(100, 'x')).isValid());
}

} // namespace
} // namespace vistrel
