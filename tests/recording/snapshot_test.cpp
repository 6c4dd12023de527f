#include "recording/snapshot.h"

#include "support/jpeg_reader.h"
#include "support/temp_dir.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace vistrel {
namespace {

using test::Coordinate_Image;
using test::Coordinates_Of;
using test::Noise_Image;

namespace fs = std::filesystem;

const Local_Date_Time kMarch7 = {2024, 3, 7, 14, 5, 9};

TEST(OutputSize, FiveFourByThreeSizesAndA640FallbackForOtherIndexes) {
    const std::pair<int, QSize> cases[] = {
        {0, {640, 480}}, {1, {320, 240}},  {2, {160, 120}}, {3, {80, 60}},
        {4, {40, 30}},   {-1, {640, 480}}, {5, {640, 480}}, {1000, {640, 480}},
    };
    for (const auto& [index, size] : cases)
        EXPECT_EQ(Output_Size(index), size) << "index " << index;
}

TEST(TimeStampText, PadsEveryNumberAndNeverCutsOne) {
    EXPECT_EQ(Time_Stamp_Text(kMarch7, 12), "Vistrel | 07/03/2024  14:05:09  00012");
    EXPECT_EQ(Time_Stamp_Text({2026, 12, 31, 0, 0, 0}, 123456),
              "Vistrel | 31/12/2026  00:00:00  123456");
    // The picture counter is unsigned: as large as it gets, written in full.
    EXPECT_EQ(Time_Stamp_Text(kMarch7, 2147483648u), "Vistrel | 07/03/2024  14:05:09  2147483648");
    EXPECT_EQ(Time_Stamp_Text(kMarch7, 4294967295u), "Vistrel | 07/03/2024  14:05:09  4294967295");
}

TEST(StretchNearest, SmallFrameRepeatsEachPixelAsATwoByTwoBlock) {
    const QImage src = Noise_Image(320, 240, 1);
    const QImage out = Stretch_Nearest(src, {640, 480});
    ASSERT_EQ(out.size(), QSize(640, 480));
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            wrong += out.pixel(x, y) != src.pixel(x / 2, y / 2);
    EXPECT_EQ(wrong, 0);
}

TEST(StretchNearest, LargeFrameIsSqueezedWholePickingSourcePixels) {
    struct Case {
        QSize from, to;
    };
    for (const Case& c : {Case{{1280, 720}, {640, 480}}, Case{{1920, 1080}, {40, 30}},
                          Case{{100, 100}, {640, 480}}}) {
        SCOPED_TRACE(std::to_string(c.from.width()) + " to " + std::to_string(c.to.width()));
        const QImage src = Coordinate_Image(c.from.width(), c.from.height());
        const QImage out = Stretch_Nearest(src, c.to);
        ASSERT_EQ(out.size(), c.to);
        // Whole rows and columns are picked, in order, from edge to edge.
        int previous_x = -1;
        for (int x = 0; x < c.to.width(); ++x) {
            const QPoint p = Coordinates_Of(out.pixel(x, 0));
            EXPECT_GE(p.x(), previous_x);
            EXPECT_EQ(p.y(), Coordinates_Of(out.pixel(0, 0)).y());
            previous_x = p.x();
        }
        EXPECT_EQ(Coordinates_Of(out.pixel(0, 0)), QPoint(0, 0));
        const QPoint last = Coordinates_Of(out.pixel(c.to.width() - 1, c.to.height() - 1));
        EXPECT_GT(last.x(), c.from.width() - 1 - c.from.width() / c.to.width() - 1);
        EXPECT_GT(last.y(), c.from.height() - 1 - c.from.height() / c.to.height() - 1);
        // Never an average: every output pixel is exactly a source pixel.
        for (int y = 0; y < c.to.height(); y += 7)
            for (int x = 0; x < c.to.width(); x += 5) {
                const QPoint p = Coordinates_Of(out.pixel(x, y));
                ASSERT_EQ(src.pixel(p), out.pixel(x, y));
            }
    }
}

// Pixel (x, y) of the stretch is source pixel (x * W / w, y * H / h), in
// integers, for every size pair: ratios that divide and ratios that do not,
// enlarging, the same size, and sources of other pixel formats.
TEST(StretchNearest, EveryPixelIsTheSourcePixelOfItsIndexFormula) {
    struct Case {
        QSize from, to;
        QImage::Format format;
    };
    const Case cases[] = {
        {{1280, 720}, {640, 480}, QImage::Format_RGB32},
        {{1280, 720}, {320, 240}, QImage::Format_RGB32},
        {{1280, 720}, {560, 314}, QImage::Format_RGB32},
        {{640, 480}, {640, 480}, QImage::Format_RGB32},
        {{640, 480}, {40, 30}, QImage::Format_RGB32},
        {{1920, 1080}, {160, 120}, QImage::Format_RGB32},
        {{1280, 720}, {640, 480}, QImage::Format_RGB888},
        {{100, 75}, {640, 480}, QImage::Format_RGB32},
        {{641, 481}, {640, 480}, QImage::Format_RGB32},
        {{1, 1}, {80, 60}, QImage::Format_RGB32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from.width()) + "x" + std::to_string(c.from.height()) +
                     " to " + std::to_string(c.to.width()) + "x" + std::to_string(c.to.height()));
        const QImage src =
            Noise_Image(c.from.width(), c.from.height(), 3).convertToFormat(c.format);
        const QImage rgb = src.convertToFormat(QImage::Format_RGB32);
        const QImage out = Stretch_Nearest(src, c.to);
        ASSERT_EQ(out.size(), c.to);
        int wrong = 0;
        for (int y = 0; y < c.to.height(); ++y)
            for (int x = 0; x < c.to.width(); ++x)
                wrong +=
                    out.pixel(x, y) != rgb.pixel(int(int64_t{x} * c.from.width() / c.to.width()),
                                                 int(int64_t{y} * c.from.height() / c.to.height()));
        EXPECT_EQ(wrong, 0);
    }
}

TEST(StretchNearest, ReusesItsBufferOnlyWhenNobodyElseHoldsIt) {
    const QImage src = Noise_Image(320, 240, 6);
    QImage out;
    Stretch_Nearest_Into(src, {640, 480}, out);
    const uchar* first = out.constBits();
    Stretch_Nearest_Into(src, {640, 480}, out);
    EXPECT_EQ(out.constBits(), first);
    const QImage kept = out; // a picture someone still shows
    Stretch_Nearest_Into(Noise_Image(320, 240, 7), {640, 480}, out);
    EXPECT_NE(out.constBits(), kept.constBits());
    EXPECT_EQ(kept.pixel(0, 0), src.pixel(0, 0)) << "the held picture is untouched";
}

// Quantisation tables libjpeg makes for quality 80 with baseline tables forced.
std::vector<std::array<uint16_t, 64>> Quality_80_Tables() {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.in_color_space = JCS_RGB;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 80, TRUE);
    std::vector<std::array<uint16_t, 64>> tables;
    for (int t = 0; t < 2; ++t) {
        std::array<uint16_t, 64> table{};
        for (int i = 0; i < 64; ++i)
            table[static_cast<size_t>(i)] = c.quant_tbl_ptrs[t]->quantval[i];
        tables.push_back(table);
    }
    jpeg_destroy_compress(&c);
    return tables;
}

// The plain way: 24-bit RGB rows through libjpeg.
std::string Encode_Rgb_Rows(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(rgb.width());
    c.image_height = JDIMENSION(rgb.height());
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 80, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

TEST(EncodeJpeg, WritesBaselineColourQuality80) {
    const QImage picture = Noise_Image(640, 480, 2);
    const std::string bytes = Encode_Jpeg(picture);
    const test::Decoded_Jpeg d = test::Decode_Jpeg(bytes);
    EXPECT_EQ(d.width, 640);
    EXPECT_EQ(d.height, 480);
    EXPECT_EQ(d.components, 3);
    EXPECT_FALSE(d.progressive);
    EXPECT_TRUE(d.baseline_frame);
    EXPECT_EQ(d.quant_tables, Quality_80_Tables());
}

TEST(EncodeJpeg, ThirtyTwoBitRowsGiveTheBytesOfRgbRows) {
    for (const QSize size : {QSize(640, 480), QSize(40, 30), QSize(33, 17)}) {
        const QImage picture = Noise_Image(size.width(), size.height(), 3);
        EXPECT_EQ(Encode_Jpeg(picture), Encode_Rgb_Rows(picture)) << size.width();
    }
}

// The encoder's buffer grows while the file does. A failure after it has
// grown (here: memory held to a ceiling) throws, and frees what is left once
// (the sanitizer pass sees a double free or a leak); with room to spare the
// file is the same as without a ceiling.
TEST(EncodeJpeg, FailureAfterTheBufferGrewThrowsAndFreesItOnce) {
    const QImage noise = Noise_Image(640, 480, 4);
    const std::string whole = Encode_Jpeg(noise);
    // Past twice the first block of 64 KiB, the buffer grows twice.
    ASSERT_GT(whole.size(), size_t{128 * 1024}) << "too small to grow the buffer twice";
    for (const size_t ceiling : {size_t{100}, whole.size() / 2, whole.size()}) {
        SCOPED_TRACE(ceiling);
        EXPECT_THROW(Encode_Jpeg_Within(noise, kJpeg_Quality, ceiling), std::runtime_error);
    }
    EXPECT_EQ(Encode_Jpeg_Within(noise, kJpeg_Quality, whole.size() + 1), whole);
}

TEST(PreviewStrip, KeepsTheSevenNewestNewestFirst) {
    Preview_Strip strip;
    for (int i = 1; i <= 9; ++i) {
        QImage picture(640, 480, QImage::Format_RGB32);
        picture.fill(qRgb(i, 0, 0));
        strip.Push(picture);
    }
    for (size_t slot = 0; slot < Preview_Strip::kSize; ++slot) {
        EXPECT_EQ(qRed(strip.At(slot).pixel(17, 17)), 9 - int(slot)) << "slot " << slot;
        EXPECT_EQ(strip.At(slot).size(), Preview_Strip::kThumbnail);
    }
    strip.Clear();
    for (size_t slot = 0; slot < Preview_Strip::kSize; ++slot)
        EXPECT_TRUE(strip.At(slot).isNull());
}

// Number of clearly white pixels in a band of rows.
int White_Pixels(const QImage& img, int from_row, int to_row) {
    int count = 0;
    for (int y = from_row; y < to_row; ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            count += c.red() > 200 && c.green() > 200 && c.blue() > 200;
        }
    return count;
}

TEST(DrawTimeStamp, WhiteTextSitsOnTheBottomEdgeOnly) {
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(Qt::black);
    Draw_Time_Stamp(frame, kMarch7, 12, 96.0);
    const int text_rows = 21 + 10; // 16 points at 96 dpi, plus the line's descent
    EXPECT_GT(White_Pixels(frame, 480 - text_rows, 480), 200);
    EXPECT_EQ(White_Pixels(frame, 0, 480 - text_rows - 5), 0);
    // Centred: white at both sides of the middle, none near the left edge.
    int left = 0, right = 0;
    for (int y = 440; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if (qRed(frame.pixel(x, y)) > 200)
                (x < 320 ? left : right)++;
    EXPECT_GT(left, 50);
    EXPECT_GT(right, 50);
    EXPECT_EQ(White_Pixels(frame.copy(0, 400, 60, 80), 0, 80), 0);
}

TEST(DrawTimeStamp, FrameNarrowerThanTheTextIsCutAtBothSides) {
    QImage frame(60, 40, QImage::Format_RGB32);
    frame.fill(Qt::black);
    Draw_Time_Stamp(frame, kMarch7, 12, 96.0);
    EXPECT_GT(White_Pixels(frame, 0, 40), 0);
}

class SaveSnapshot : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Preview_Strip strip;
    Snapshot_Writer writer;

    Snapshot_Request Request(const std::string& folder_below, bool stamp, int size_index) {
        Snapshot_Request r;
        r.full_folder = dir.Folder() + folder_below;
        r.file_name = "I_14_05_09__00012";
        r.when = kMarch7;
        r.num_image = 12;
        r.add_time_date = stamp;
        r.jpeg_size_index = size_index;
        r.dpi = 96.0;
        return r;
    }
};

TEST_F(SaveSnapshot, WritesThePictureIntoNewFoldersAtTheChosenSize) {
    QImage live = Noise_Image(1280, 720, 4);
    const QImage before = live;
    writer.Save_Snapshot(live, Request("RIDEV_2024_03_07/D0003/", false, 2), strip);
    const std::string file = dir.Folder() + "RIDEV_2024_03_07/D0003/I_14_05_09__00012.jpg";
    const test::Decoded_Jpeg d =
        test::Decode_Jpeg(dir.Read("RIDEV_2024_03_07/D0003/I_14_05_09__00012.jpg"));
    EXPECT_EQ(QSize(d.width, d.height), QSize(160, 120));
    EXPECT_EQ(live, before) << "no stamp asked for";
    EXPECT_FALSE(strip.At(0).isNull());
    // Nothing but the picture in the folder: no temporary file left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Folder() + "RIDEV_2024_03_07/D0003/"),
                            fs::directory_iterator()),
              1);
}

TEST_F(SaveSnapshot, StampGoesIntoTheLiveFrameAndThePicture) {
    QImage live(320, 240, QImage::Format_RGB32);
    live.fill(Qt::black);
    writer.Save_Snapshot(live, Request("", true, 0), strip);
    EXPECT_GT(White_Pixels(live, 200, 240), 50);
    const test::Decoded_Jpeg d = test::Decode_Jpeg(dir.Read("I_14_05_09__00012.jpg"));
    EXPECT_GT(White_Pixels(d.image, 400, 480), 200);
    EXPECT_EQ(White_Pixels(d.image, 0, 300), 0);
}

TEST_F(SaveSnapshot, FixedNameReplacesTheFileInOneStep) {
    QImage first(320, 240, QImage::Format_RGB32);
    first.fill(Qt::red);
    QImage second(320, 240, QImage::Format_RGB32);
    second.fill(Qt::blue);
    writer.Save_Snapshot(first, Request("", false, 4), strip);
    writer.Save_Snapshot(second, Request("", false, 4), strip);
    const test::Decoded_Jpeg d = test::Decode_Jpeg(dir.Read("I_14_05_09__00012.jpg"));
    EXPECT_GT(qBlue(d.image.pixel(20, 15)), 200);
    EXPECT_EQ(strip.At(1).pixel(0, 0), first.pixel(0, 0));
}

// Pictures are the user's files: their mode follows the umask, as any
// program's do, and a picture replaced in fixed-name mode keeps its own.
TEST_F(SaveSnapshot, PicturesTakeTheirModeFromTheUmask) {
    QImage live = Noise_Image(320, 240, 6);
    for (const auto& [mask, expected] :
         {std::pair<mode_t, unsigned>{022, 0644}, {077, 0600}, {002, 0664}, {027, 0640}}) {
        SCOPED_TRACE(mask);
        const std::string folder = "umask_" + std::to_string(mask) + "/";
        const mode_t saved = ::umask(mask);
        writer.Save_Snapshot(live, Request(folder, false, 0), strip);
        ::umask(saved);
        EXPECT_EQ(test::Mode_Of(dir.Folder() + folder + "I_14_05_09__00012.jpg"), expected);
    }
    const std::string replaced = dir.Folder() + "umask_18/I_14_05_09__00012.jpg";
    fs::permissions(replaced, fs::perms(0604));
    writer.Save_Snapshot(live, Request("umask_18/", false, 0), strip);
    EXPECT_EQ(test::Mode_Of(replaced), 0604u);
}

TEST_F(SaveSnapshot, UnwritableDestinationThrowsAndLeavesNoFileButShiftsTheStrip) {
    dir.Write("not_a_folder", "a file where a folder should be");
    QImage live = Noise_Image(320, 240, 5);
    EXPECT_ANY_THROW(writer.Save_Snapshot(live, Request("not_a_folder/D0001/", false, 0), strip));
    EXPECT_FALSE(strip.At(0).isNull());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

} // namespace
} // namespace vistrel
