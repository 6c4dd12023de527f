// The XDG autostart entry that starts the program when the user logs in:
// a desktop file in the autostart folder of the user's configuration.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vistrel {

// ${XDG_CONFIG_HOME:-$HOME/.config}/autostart/vistrel.desktop; a relative
// XDG_CONFIG_HOME is ignored, as the XDG rules say. Empty without either.
// `variable` reads the environment: nothing when a variable is unset.
std::string
Autostart_File_Path(const std::function<std::optional<std::string>(const char*)>& variable);

// A program path as the Exec key of a desktop file takes it: quoted when it
// holds anything beyond plain path characters, with the characters the
// format reserves escaped.
std::string Desktop_Exec_Argument(const std::string& program);

// The desktop file that starts `program`.
std::string Autostart_Entry_Text(const std::string& program);

// Whether the entry is there and not switched off (Hidden=true, as desktops
// write when the user turns an entry off in their own settings).
bool Autostart_Enabled(const std::string& path) noexcept;

// Writes the entry for `program`, or removes it. Throws std::system_error.
void Set_Autostart(const std::string& path, bool enabled, const std::string& program);

} // namespace vistrel
