#include "episodes/episode_upload_state.h"

#include "base/file_helpers.h"
#include "upload/upload_list.h"

namespace vistrel {

namespace {

constexpr size_t kQueue_Piece = 4096;

// Only a line break was escaped when the list was written: a backslash
// followed by "n" in a real name reads back as a line break, which the
// file's form cannot tell apart.
std::string Unescaped(std::string_view line) {
    std::string path;
    path.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
            path += '\n';
            ++i;
        } else {
            path += line[i];
        }
    }
    return path;
}

} // namespace

std::set<std::string> Read_Refused_Paths(const std::string& path) {
    std::set<std::string> paths;
    std::optional<std::string> text;
    try {
        text = Read_Whole_File(path);
    } catch (const std::exception&) {
        return paths;
    }
    if (!text)
        return paths;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (!line.empty())
            paths.insert(Unescaped(line));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return paths;
}

Upload_State Upload_State_Of(const Upload_List& queue, const std::set<std::string>& refused,
                             const std::string& relative_folder,
                             const std::string& episode_folder_path) {
    Upload_State state;
    std::optional<Upload_List::Entry_Id> next = 0;
    while (next)
        next = queue.Visit_Journaled(*next, kQueue_Piece, [&](const Upload_List::Journaled& j) {
            if (j.entry.Folder == relative_folder)
                ++state.waiting;
        });
    // The episode's own pictures, not those of a folder whose name merely
    // begins the same (D0004 and D00041) nor of a folder below it.
    const std::string prefix =
        episode_folder_path.ends_with('/') ? episode_folder_path : episode_folder_path + "/";
    for (auto it = refused.lower_bound(prefix); it != refused.end() && it->starts_with(prefix);
         ++it)
        if (it->find('/', prefix.size()) == std::string::npos)
            ++state.refused;
    return state;
}

} // namespace vistrel
