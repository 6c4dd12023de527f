// Where the program keeps its settings: one folder per user.
#pragma once

#include <string>

namespace vistrel {

// ${XDG_DATA_HOME:-$HOME/.local/share}/_data_Vistrel/, always ending in "/".
std::string Data_Folder_Path();

} // namespace vistrel
