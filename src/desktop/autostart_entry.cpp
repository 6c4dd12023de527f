#include "desktop/autostart_entry.h"

#include "base/file_helpers.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace vistrel {

std::string
Autostart_File_Path(const std::function<std::optional<std::string>(const char*)>& variable) {
    std::string config;
    if (const auto xdg = variable("XDG_CONFIG_HOME"); xdg && xdg->starts_with('/'))
        config = *xdg;
    else if (const auto home = variable("HOME"); home && !home->empty())
        config = *home + "/.config";
    else
        return {};
    while (config.size() > 1 && config.ends_with('/'))
        config.pop_back();
    return config + "/autostart/vistrel.desktop";
}

std::string Desktop_Exec_Argument(const std::string& program) {
    std::string quoted;
    bool plain = !program.empty();
    for (const char c : program) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '/' || c == '.' || c == '-' || c == '_' ||
                          c == '+' || c == ',';
        plain = plain && safe;
        // Inside quotes these four take a backslash; a per cent sign is a
        // field code anywhere and is doubled.
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
        if (c == '%')
            quoted += '%';
    }
    if (plain)
        return program;
    // The desktop file format escapes each backslash once more when it reads
    // a string value, so the quoting's backslashes are doubled.
    std::string written;
    for (const char c : "\"" + quoted + "\"") {
        written += c;
        if (c == '\\')
            written += '\\';
    }
    return written;
}

std::string Autostart_Entry_Text(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vistrel\n"
           "Comment=Watches the webcam and keeps pictures of what moves\n"
           "Exec=" +
           Desktop_Exec_Argument(program) +
           "\n"
           "Icon=vistrel\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool Autostart_Enabled(const std::string& path) noexcept {
    try {
        const auto text = Read_Whole_File(path);
        return text && text->find("\nHidden=true") == std::string::npos;
    } catch (...) {
        return false;
    }
}

void Set_Autostart(const std::string& path, bool enabled, const std::string& program) {
    if (path.empty())
        throw std::system_error(ENOENT, std::generic_category(),
                                "no configuration folder (neither XDG_CONFIG_HOME nor HOME)");
    if (!enabled) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw std::system_error(errno, std::generic_category(), "cannot remove " + path);
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec)
        throw std::system_error(ec, "cannot make the folder of " + path);
    Write_File_Atomically(path, Autostart_Entry_Text(program), 0644, Durability::Power_Loss);
}

} // namespace vistrel
