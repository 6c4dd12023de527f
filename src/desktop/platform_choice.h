// Which Qt platform the program asks for. In a Wayland session a program may
// not place its own window nor take it off the taskbar, and the tray needs a
// StatusNotifier host; through XWayland all of that works as on X11.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vistrel {

// The value for QT_QPA_PLATFORM, or nothing to leave Qt's own choice.
// `variable` reads the environment: nothing when a variable is unset.
//  - a platform the user chose (QT_QPA_PLATFORM) is kept;
//  - a Wayland session with XWayland (DISPLAY set) runs on "xcb", and
//    natively when that X server cannot be reached;
//  - a Wayland session without it runs natively.
std::optional<std::string>
Choose_Qt_Platform(const std::function<std::optional<std::string>(const char*)>& variable);

// Sets QT_QPA_PLATFORM from the environment as above, before QApplication;
// true when it did, so that it can be taken away again once Qt has read it
// and the programs started from here (the browser) do not inherit it.
bool Choose_Qt_Platform_From_Environment();

} // namespace vistrel
