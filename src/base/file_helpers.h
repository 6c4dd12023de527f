// File primitives shared by the settings store and the picture writer.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace vistrel {

// Writes every byte, going on after a short write or an interruption; false
// on any failure (a full disk, a closed descriptor).
bool Write_Fully(int fd, std::string_view bytes) noexcept;

// The whole content of a file; nothing when it does not exist. Throws
// std::system_error when it exists but cannot be read.
std::optional<std::string> Read_Whole_File(const std::string& path);

// Whether a write waits until the bytes are on the disk itself.
enum class Durability {
    // Survives a crash of the program; the system may lose it in a power cut.
    Program_Crash,
    // Flushed to the disk before it takes the old file's place: also survives
    // a power cut, at the price of waiting for the disk.
    Power_Loss,
};

// How a new file gets its mode: exactly the one given (files that must stay
// private), or the one given less the user's umask, as any program's files
// (pictures).
enum class Mode_Rule {
    Exact,
    Less_Umask,
};

// Names a temporary beside its file, in a way no file of the user's is named,
// so that those a kill leaves behind can be found and removed: the file's
// name, this marker and six letters.
inline constexpr char kTemporary_Marker[] = ".vistrel-tmp-";

// A temporary file beside `target`, named as Write_File_Atomically names its
// own, removed unless it was renamed into place. It is created with
// `create_mode` less the umask. Throws std::system_error.
class Temporary_File {
public:
    explicit Temporary_File(const std::string& target, mode_t create_mode = 0600);
    ~Temporary_File();
    Temporary_File(const Temporary_File&) = delete;
    Temporary_File& operator=(const Temporary_File&) = delete;

    void Write(std::string_view bytes);
    void Set_Mode(mode_t mode);
    // Waits until what was written is on the disk.
    void Sync();
    // Takes the place of `target`, flushed first for Power_Loss.
    void Commit_As(const std::string& target, Durability durability);

private:
    std::string path_;
    int fd_ = -1;
    bool committed_ = false;
};

// Replaces the file at `path` with `bytes` in one step: the bytes go to a
// temporary file in the same folder (`path` + ".vistrel-tmp-" + six letters)
// and are renamed over the old file, so a reader never sees a half-written
// file and a crash leaves either the old or the new content. A new file gets
// `new_file_mode` by `rule`; an existing one keeps its mode. An existing file
// that cannot be written (no write permission for anyone, or none for this
// user) is left as it is: the rename would otherwise replace a file the user
// made read-only. A symbolic link is followed, not replaced. Throws
// std::system_error on failure, leaving no temporary file behind.
void Write_File_Atomically(const std::string& path, std::string_view bytes,
                           mode_t new_file_mode = 0644,
                           Durability durability = Durability::Power_Loss,
                           Mode_Rule rule = Mode_Rule::Exact);

// The same for a file that holds secrets or names private things: it is
// readable by its owner alone afterwards, whatever mode the old file had, and
// flushed to the disk before it takes the old one's place.
void Write_Private_File(const std::string& path, std::string_view bytes);

// Removes the temporary files that writes of `path` cut short by a crash or a
// kill left beside it. Only files named as Write_File_Atomically names its
// temporaries and untouched for `min_age` go, so a write in progress in
// another process keeps its file. Never throws.
void Remove_Stale_Temporaries(const std::string& path,
                              std::chrono::seconds min_age = std::chrono::seconds(60)) noexcept;

} // namespace vistrel
