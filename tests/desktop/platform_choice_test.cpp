#include "desktop/platform_choice.h"

#include <gtest/gtest.h>

#include <map>

namespace vistrel {
namespace {

TEST(Choose_Qt_Platform, WaylandRunsOnXWaylandUnlessTheUserChoseOrThereIsNone) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> environment;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"X11 session", {{"DISPLAY", ":0"}}, std::nullopt},
        {"Wayland with XWayland",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}},
         "xcb;wayland"},
        {"Wayland without XWayland", {{"WAYLAND_DISPLAY", "wayland-0"}}, std::nullopt},
        {"an empty DISPLAY is none",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}},
         std::nullopt},
        {"the user's choice wins",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}},
         std::nullopt},
        {"an empty choice is none",
         {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", ""}},
         "xcb;wayland"},
        {"nothing at all", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto chosen = Choose_Qt_Platform([&](const char* name) -> std::optional<std::string> {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? std::nullopt
                                                : std::optional<std::string>(found->second);
        });
        EXPECT_EQ(chosen, c.expected);
    }
}

} // namespace
} // namespace vistrel
