#include "settings/window_placement.h"

#include "settings/ini_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

TEST(WindowPlacement, OnlySevenIntegersStartingWith200AreTaken) {
    const Window_Placement stored{0, 1, 100, 50, 690, 669};
    EXPECT_EQ(Parse_Placement("200,0,1,100,50,690,669"), stored);
    EXPECT_EQ(Parse_Placement(Format_Placement(stored)), stored);
    EXPECT_EQ(Format_Placement({2, 3, -8, -8, 582, 611}), "200,2,3,-8,-8,582,611");
    for (const char* bad :
         {"", "100,0,1,100,50,690,669", "200,0,1,100,50,690", "200,0,1,100,50,690,669,1",
          "200,0,1,1x0,50,690,669", "200,0,1,100,,690,669", " 200,0,1,100,50,690,669"})
        EXPECT_EQ(Parse_Placement(bad), std::nullopt) << '"' << bad << '"';
}

TEST(WindowPlacement, RectangleIsMovedIntoTheDesktopKeepingItsSize) {
    struct Case {
        const char* what;
        Window_Placement in;
        Desktop_Area desktop;
        Window_Placement out;
    };
    const Case cases[] = {
        {"fits", {0, 1, 100, 50, 690, 669}, {0, 0, 1280, 1024}, {0, 1, 100, 50, 690, 669}},
        {"too far right", {0, 1, 100, 50, 690, 669}, {0, 0, 640, 1024}, {0, 1, 50, 50, 640, 669}},
        {"too low", {0, 1, 100, 500, 690, 1119}, {0, 0, 1280, 1024}, {0, 1, 100, 405, 690, 1024}},
        {"above and left", {0, 1, -300, -40, 290, 579}, {0, 0, 1280, 1024}, {0, 1, 0, 0, 590, 619}},
        // Wider than the desktop: the left edge wins, the size is kept.
        {"wider than the desktop",
         {0, 1, 0, 0, 900, 619},
         {0, 0, 800, 600},
         {0, 1, 0, 0, 900, 619}},
        {"desktop not at the origin",
         {0, 3, 10, 10, 600, 629},
         {100, 50, 1280, 1024},
         {0, 3, 100, 50, 690, 669}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Move_Into_Desktop(c.in, c.desktop), c.out) << c.what;
}

TEST(WindowPlacement, SaveWritesTheValueAndDropsColourAndFont) {
    test::Temp_Dir dir;
    const std::string ini = dir.File("appli.ini");
    EXPECT_EQ(Load_Window_Placement(ini), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(ini)) << "reading must not create the file";

    dir.Write(
        "appli.ini",
        "[Common]\r\nF_MainColor=12\r\nF_Main=junk\r\nF_MainFont=Arial\r\n[Other]\r\nx=1\r\n");
    Save_Window_Placement(ini, {0, 1, 100, 50, 690, 669});
    EXPECT_EQ(dir.Read("appli.ini"),
              "[Common]\r\nF_Main=200,0,1,100,50,690,669\r\n[Other]\r\nx=1\r\n");
    EXPECT_EQ(Load_Window_Placement(ini), (Window_Placement{0, 1, 100, 50, 690, 669}));
}

} // namespace
} // namespace vistrel
