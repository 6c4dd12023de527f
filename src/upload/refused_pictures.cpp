#include "upload/refused_pictures.h"

#include "base/file_helpers.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vistrel {

namespace {

// Lines of a file, a last line without its end counted too; 0 when it cannot
// be read.
size_t Count_Lines(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t lines = 0;
    char last = '\n';
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        lines += static_cast<size_t>(std::count(buffer, buffer + got, '\n'));
        last = buffer[got - 1];
    }
    ::close(fd);
    return lines + (last != '\n' ? 1 : 0);
}

} // namespace

Refused_Pictures::Refused_Pictures(std::string path) : path_(std::move(path)) {
    if (!path_.empty())
        count_ = Count_Lines(path_);
}

bool Refused_Pictures::Add(const std::string& picture) noexcept {
    if (path_.empty()) {
        ++count_;
        return true;
    }
    try {
        // One path a line, as it is, for whoever reads the list; only a line
        // break in a name, which would split it, is written as the two
        // characters \n.
        std::string line;
        for (const char c : picture) {
            if (c == '\n')
                line += "\\n";
            else
                line += c;
        }
        line += '\n';
        std::lock_guard lock(write_mutex_);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        // In one write, so that a line never mixes with another program's.
        const bool written = Write_Fully(fd, line);
        if (::close(fd) != 0 || !written)
            return false;
        ++count_;
        return true;
    } catch (...) {
        return false; // out of memory for one line
    }
}

} // namespace vistrel
