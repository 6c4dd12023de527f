// Where the program keeps its settings: one folder per user.
#pragma once

#include <optional>
#include <string>

namespace vistrel {

// The process's environment variable `name`; nothing when it is unset.
std::optional<std::string> Environment_Variable(const char* name);

// ${XDG_DATA_HOME:-$HOME/.local/share}/_data_Vistrel/, always ending in "/".
std::string Data_Folder_Path();

} // namespace vistrel
