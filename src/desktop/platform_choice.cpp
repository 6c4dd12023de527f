#include "desktop/platform_choice.h"

#include "settings/data_folder.h"

#include <cstdlib>

namespace vistrel {

namespace {

bool Is_Set(const std::optional<std::string>& value) {
    return value && !value->empty();
}

} // namespace

std::optional<std::string>
Choose_Qt_Platform(const std::function<std::optional<std::string>(const char*)>& variable) {
    if (Is_Set(variable("QT_QPA_PLATFORM")))
        return std::nullopt;
    if (Is_Set(variable("WAYLAND_DISPLAY")) && Is_Set(variable("DISPLAY")))
        // Natively after all when the X server behind DISPLAY is gone.
        return "xcb;wayland";
    return std::nullopt;
}

bool Choose_Qt_Platform_From_Environment() {
    const auto platform = Choose_Qt_Platform(Environment_Variable);
    if (platform)
        ::setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
    return platform.has_value();
}

} // namespace vistrel
