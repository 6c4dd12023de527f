#include "base/file_helpers.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vistrel {

namespace {

[[noreturn]] void Throw_Errno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Where a chain of symbolic links ends, even when the final file does not
// exist yet, so that writing goes through the links instead of replacing them.
std::string Final_Target(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path target = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(target, ec); ++hops) {
        const fs::path link = fs::read_symlink(target, ec);
        if (ec)
            break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return target.string();
}

} // namespace

Temporary_File::Temporary_File(const std::string& target, mode_t create_mode) {
    // As mkstemp names its files, but created with a mode of our choosing, so
    // that the kernel applies the umask as it does for any program's files.
    static constexpr char kLetters[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = target + kTemporary_Marker;
        for (int i = 0; i < 6; ++i)
            path_ += kLetters[pick(random)];
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, create_mode);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        Throw_Errno("cannot create a temporary file for " + target);
}

Temporary_File::~Temporary_File() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_)
        ::unlink(path_.c_str());
}

void Temporary_File::Write(std::string_view bytes) {
    const char* at = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, at, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            Throw_Errno("cannot write " + path_);
        }
        at += written;
        left -= static_cast<size_t>(written);
    }
}

void Temporary_File::Set_Mode(mode_t mode) {
    if (::fchmod(fd_, mode) != 0)
        Throw_Errno("cannot set the mode of " + path_);
}

void Temporary_File::Sync() {
    if (::fsync(fd_) != 0)
        Throw_Errno("cannot flush " + path_);
}

void Temporary_File::Commit_As(const std::string& target, Durability durability) {
    if (durability == Durability::Power_Loss)
        Sync();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        Throw_Errno("cannot close " + path_);
    if (::rename(path_.c_str(), target.c_str()) != 0)
        Throw_Errno("cannot replace " + target);
    committed_ = true;
}

bool Write_Fully(int fd, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

std::optional<std::string> Read_Whole_File(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        Throw_Errno("cannot open " + path);
    }
    struct Fd_Closer {
        int fd;
        ~Fd_Closer() { ::close(fd); }
    } closer{fd};
    std::string content;
    char buf[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            Throw_Errno("cannot read " + path);
        }
        if (got == 0)
            return content;
        content.append(buf, static_cast<size_t>(got));
    }
}

void Write_File_Atomically(const std::string& path, std::string_view bytes, mode_t new_file_mode,
                           Durability durability, Mode_Rule rule) {
    const std::string target = Final_Target(path);

    std::optional<mode_t> mode;
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
        // Root may write anything, so a file without any write bit counts as
        // read-only for root too.
        if ((*mode & 0222) == 0) {
            errno = EACCES;
            Throw_Errno("cannot write the read-only file " + target);
        }
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            Throw_Errno("cannot write " + target);
    } else if (rule == Mode_Rule::Exact) {
        mode = new_file_mode;
    }

    Temporary_File temp(target, rule == Mode_Rule::Less_Umask ? new_file_mode : 0600);
    temp.Write(bytes);
    if (mode)
        temp.Set_Mode(*mode);
    temp.Commit_As(target, durability);
}

namespace {

// The target's name, the marker and mkstemp's six letters: digits and both
// cases of the Latin alphabet.
bool Is_Temporary_Of(const std::string& name, const std::string& base) {
    constexpr size_t kLetters = 6;
    const std::string prefix = base + kTemporary_Marker;
    if (name.size() != prefix.size() + kLetters || !name.starts_with(prefix))
        return false;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        const bool letter =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter)
            return false;
    }
    return true;
}

} // namespace

void Remove_Stale_Temporaries(const std::string& path, std::chrono::seconds min_age) noexcept {
    namespace fs = std::filesystem;
    try {
        const fs::path target = Final_Target(path);
        const std::string base = target.filename().string();
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        const auto now = fs::file_time_type::clock::now();
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            std::error_code entry_ec;
            if (!Is_Temporary_Of(it->path().filename().string(), base) ||
                !it->is_regular_file(entry_ec))
                continue;
            const auto modified = it->last_write_time(entry_ec);
            if (!entry_ec && now - modified >= min_age)
                fs::remove(it->path(), entry_ec);
        }
    } catch (...) {
        // Litter stays; nothing depends on it being gone.
    }
}

void Write_Private_File(const std::string& path, std::string_view bytes) {
    Temporary_File file(path);
    file.Write(bytes);
    file.Set_Mode(0600);
    file.Commit_As(path, Durability::Power_Loss);
}

} // namespace vistrel
