// Where the main window reopens: its normal rectangle and show state, kept in
// appli.ini as "200,flags,show,left,top,right,bottom" under [Common] F_Main.
#pragma once

#include <optional>
#include <string>

namespace vistrel {

// Show states as stored.
inline constexpr int kShow_Normal = 1;
inline constexpr int kShow_Minimized = 2;
inline constexpr int kShow_Maximized = 3;

struct Window_Placement {
    int flags = 0; // 1: a minimized position is set; 2: restore to maximized
    int show = kShow_Normal;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Window_Placement&) const = default;
};

struct Desktop_Area {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The stored text; nothing unless it is seven decimal integers separated by
// commas, the first being 200.
std::optional<Window_Placement> Parse_Placement(const std::string& text);

std::string Format_Placement(const Window_Placement& placement);

// Moves the rectangle, keeping its size, into the desktop: right edge, then
// bottom edge, then left edge, then top edge, each on the result of the rule
// before.
Window_Placement Move_Into_Desktop(Window_Placement placement, const Desktop_Area& desktop);

// Reads the stored placement of the main window; nothing when absent or not
// well formed. Writes nothing.
std::optional<Window_Placement> Load_Window_Placement(const std::string& appli_ini);

// Stores the placement and removes the colour and font keys, which are never
// kept.
void Save_Window_Placement(const std::string& appli_ini, const Window_Placement& placement);

} // namespace vistrel
