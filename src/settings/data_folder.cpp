#include "settings/data_folder.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vistrel {

std::optional<std::string> Environment_Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

namespace {

std::string Home_Folder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "";
}

} // namespace

std::string Data_Folder_Path() {
    std::string base;
    // Only an absolute XDG_DATA_HOME counts; a relative one is to be ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else
        base = Home_Folder() + "/.local/share";
    return base + "/_data_Vistrel/";
}

} // namespace vistrel
