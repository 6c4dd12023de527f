// The rules of the once-per-run check for a newer version: the remote
// version read from the version file, and whether to offer the download page.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vistrel {

// The remote version text: the first four bytes of the version file (fewer
// when it is shorter).
std::string Version_Remote_From(const std::string& body);

// Both texts present and different, and the remote number (read from its
// second character on, a comma taken as a point) larger.
bool Is_Newer(const std::string& remote, const std::string& local);

// The program file counts as old from the 21st day after it was modified on:
// its modification time plus 20 days lies before today's local midnight.
bool Is_Old(std::time_t modified, std::time_t now);

// The lines of the update dialog.
std::vector<std::string> Update_Dialog_Lines(const std::string& app_name, const std::string& local,
                                             const std::string& remote);

} // namespace vistrel
