#include "app/platform_choice.h"

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
        return "xcb";
    return std::nullopt;
}

void Choose_Qt_Platform_From_Environment() {
    const auto platform = Choose_Qt_Platform([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
    if (platform)
        ::setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
}

} // namespace vistrel
