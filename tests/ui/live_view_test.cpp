// The live view's picture: the camera's frame scaled into the view's box.
#include "ui/live_view.h"

#include "recording/snapshot.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace vistrel {
namespace {

using test::Coordinate_Image;
using test::Noise_Image;

// The live view's one pass must give what its two steps gave: pixels picked
// to twice the view, then Qt's smooth halving. A frame of exactly twice the
// view is Qt's halving alone; the brightest and darkest pixels are the sums'
// limits; sizes above and below the size Qt splits across threads.
TEST(PickAndHalve, GivesThePickedPicturesSmoothHalfExactly) {
    const auto white = [](int w, int h) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::white);
        for (int x = 0; x < w; x += 3)
            image.setPixel(x, 0, qRgb(0, 0, 0));
        return image;
    };
    struct Case {
        QSize frame, target;
        QImage::Format format;
        bool noise = true;
    };
    for (const Case& c : {Case{{1280, 720}, {280, 157}, QImage::Format_RGB32},
                          Case{{1920, 1080}, {280, 157}, QImage::Format_RGB32},
                          Case{{1280, 960}, {280, 210}, QImage::Format_RGB32},
                          Case{{2000, 100}, {280, 14}, QImage::Format_RGB32},
                          Case{{1280, 720}, {280, 157}, QImage::Format_RGB888},
                          Case{{560, 314}, {280, 157}, QImage::Format_RGB32},
                          Case{{1280, 720}, {640, 360}, QImage::Format_RGB32},
                          Case{{200, 100}, {100, 50}, QImage::Format_RGB32},
                          Case{{2, 2}, {1, 1}, QImage::Format_RGB32},
                          Case{{560, 314}, {280, 157}, QImage::Format_RGB32, false},
                          Case{{64, 2}, {32, 1}, QImage::Format_RGB32, false}}) {
        SCOPED_TRACE(std::to_string(c.frame.width()) + "x" + std::to_string(c.frame.height()) +
                     " to " + std::to_string(c.target.width()) + (c.noise ? " noise" : " white"));
        const QImage frame = (c.noise ? Noise_Image(c.frame.width(), c.frame.height(), 5)
                                      : white(c.frame.width(), c.frame.height()))
                                 .convertToFormat(c.format);
        const QImage expected =
            Stretch_Nearest(frame, c.target * 2)
                .scaled(c.target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_EQ(Pick_And_Halve(frame, c.target).convertToFormat(QImage::Format_RGB32),
                  expected.convertToFormat(QImage::Format_RGB32));
    }
}

TEST(ScaleForDisplay, FitsTheBoxLikeASmoothScaleOfTheWholeFrame) {
    struct Case {
        QSize frame;
        QSize box;
    };
    const Case cases[] = {
        {{1280, 720}, {280, 210}}, {{1920, 1080}, {280, 210}}, {{640, 480}, {280, 210}},
        {{720, 1280}, {280, 210}}, {{320, 240}, {280, 210}},   {{40, 30}, {280, 210}},
        {{1281, 3}, {280, 210}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.frame.width()) + "x" + std::to_string(c.frame.height()));
        // A smooth scene, as a camera sees it: the shortcut must not show.
        QImage frame(c.frame, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y,
                               qRgb(255 * x / frame.width(), 255 * y / frame.height(),
                                    128 + int(100 * std::sin(x / 40.0) * std::cos(y / 30.0))));
        const QImage reference = frame.scaled(c.box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QImage shown = Scale_For_Display(frame, c.box);
        ASSERT_EQ(shown.size(), reference.size());
        int worst = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)),
                                  std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
            }
        EXPECT_LE(worst, 8);
    }
    EXPECT_TRUE(Scale_For_Display(QImage(), {280, 210}).isNull());
    EXPECT_TRUE(Scale_For_Display(Coordinate_Image(64, 48), {0, 210}).isNull());
}

} // namespace
} // namespace vistrel
