#include "upload/connection_test.h"

#include "base/file_helpers.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <unistd.h>

namespace vistrel {

namespace {

std::string Trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool Same_Name(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A private temporary file, removed with its owner.
class Temporary_Copy {
public:
    explicit Temporary_Copy(const std::string& bytes) {
        const char* tmp = std::getenv("TMPDIR");
        path_ =
            std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/vistrel-datas-XXXXXX";
        const int fd = ::mkstemp(path_.data());
        if (fd < 0)
            throw std::runtime_error("Cannot prepare the copy of the settings file");
        ::close(fd);
        try {
            Write_File_Atomically(path_, bytes, 0600, Durability::Program_Crash);
        } catch (...) {
            ::unlink(path_.c_str());
            throw std::runtime_error("Cannot prepare the copy of the settings file");
        }
    }
    ~Temporary_Copy() { ::unlink(path_.c_str()); }
    Temporary_Copy(const Temporary_Copy&) = delete;
    Temporary_Copy& operator=(const Temporary_Copy&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

} // namespace

std::string Settings_Copy_Without_Password(const std::string& content) {
    std::string out;
    out.reserve(content.size());
    std::string section;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find_first_of("\r\n", start);
        size_t next = end;
        if (end == std::string::npos) {
            end = next = content.size();
        } else {
            next = end + 1;
            if (content[end] == '\r' && next < content.size() && content[next] == '\n')
                ++next;
        }
        const std::string line = content.substr(start, end - start);
        const std::string trimmed = Trimmed(line);
        std::string kept = line;
        if (!trimmed.empty() && trimmed.front() == '[') {
            section = Trimmed(trimmed.substr(1, trimmed.find(']') - 1));
        } else if (const size_t eq = line.find('=');
                   eq != std::string::npos && Same_Name(section, "string") &&
                   Same_Name(Trimmed(line.substr(0, eq)), "EDT_FTP_Password")) {
            kept = line.substr(0, eq + 1);
        }
        out += kept;
        out += content.substr(end, next - end); // the line's own ending
        start = next;
    }
    return out;
}

bool Run_Connection_Test(Ftp_Session& client, const Working_Settings& settings,
                         const std::string& settings_file) {
    client.Set_Server(settings.FTP_Server);
    client.Set_Credentials(settings.FTP_Login, settings.FTP_Password);
    if (client.Is_Connected()) {
        client.Abort_Transfer();
        client.Disconnect();
    }
    client.Connect();
    if (!client.Is_Connected())
        return false;
    client.Login();
    std::optional<std::string> content;
    try {
        content = Read_Whole_File(settings_file);
    } catch (const std::exception&) {
    }
    if (!content)
        throw std::runtime_error("Cannot read the settings file " + settings_file);
    const Temporary_Copy copy(Settings_Copy_Without_Password(*content));
    client.Put_File(copy.Path(), "datas.ini", true);
    return true;
}

std::string Error_Box_Text(const std::string& message) {
    if (!message.empty() && message.back() == '.')
        return message;
    return message + ".";
}

} // namespace vistrel
