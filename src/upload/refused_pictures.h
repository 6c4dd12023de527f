// The pictures the server refused for good, listed in "upload_refused" in
// the data folder, one full path a line exactly as it is (only a line break
// in a path is written as \n), for the user to send by other means or to
// look into. The pictures themselves stay where they are.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

namespace vistrel {

inline constexpr const char* kUpload_Refused_File_Name = "upload_refused";

class Refused_Pictures {
public:
    // Counts the pictures the file already lists. An empty path keeps the
    // list in memory only.
    explicit Refused_Pictures(std::string path);

    // Adds one line to the file, made owner-only when it is created; false
    // when the line could not be written, so that the picture is not let go
    // without being listed anywhere.
    bool Add(const std::string& picture) noexcept;

    // Those listed when the program started, and those added since.
    size_t Count() const noexcept { return count_; }

private:
    const std::string path_;
    std::mutex write_mutex_; // one line at a time
    std::atomic<size_t> count_{0};
};

} // namespace vistrel
