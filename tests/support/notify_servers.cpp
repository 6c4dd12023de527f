#include "support/notify_servers.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace vistrel::test {

namespace fs = std::filesystem;

namespace {

constexpr int kStart_Patience_ms = 10000;

std::string Script() {
    return (fs::path(__FILE__).parent_path() / "notify_servers.py").string();
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::pair<int, int> Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot create a pipe");
    return {fds[0], fds[1]};
}

// The records of one kind, in the order the server kept them.
std::vector<fs::path> Records(const fs::path& folder) {
    std::vector<fs::path> records;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return records;
    for (const std::string& name : Entries(folder))
        records.push_back(folder / name);
    return records;
}

// name -> content of every file in `folder`.
std::map<std::string, std::string> Files_In(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return files;
    for (const std::string& name : Entries(folder))
        files[name] = Bytes_Of(folder / name);
    return files;
}

// "key<TAB>value" lines.
std::map<std::string, std::string> Fields_Of(const std::string& text) {
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            fields[line.substr(0, tab)] = line.substr(tab + 1);
        start = end + 1;
    }
    return fields;
}

std::vector<std::string> Http_Arguments(const Temp_Dir& folder, const std::string& pem) {
    std::vector<std::string> arguments = {"http", folder.Path().string()};
    if (!pem.empty())
        arguments.insert(arguments.end(), {"--tls", pem});
    return arguments;
}

std::vector<std::string> Smtp_Arguments(const Temp_Dir& folder,
                                        Recording_Smtp_Server::Security security,
                                        const std::string& pem, const std::string& login,
                                        const std::string& mechanism) {
    std::vector<std::string> arguments = {"smtp", folder.Path().string()};
    if (security == Recording_Smtp_Server::Security::Starttls)
        arguments.insert(arguments.end(), {"--starttls", pem});
    if (security == Recording_Smtp_Server::Security::Tls)
        arguments.insert(arguments.end(), {"--tls", pem});
    if (!login.empty())
        arguments.insert(arguments.end(), {"--login", login});
    if (!mechanism.empty())
        arguments.insert(arguments.end(), {"--mechanism", mechanism});
    return arguments;
}

} // namespace

Server_Process::Server_Process(const std::vector<std::string>& arguments) {
    const std::string script = Script();
    std::vector<const char*> argv = {"/usr/bin/python3", script.c_str()};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    const auto [port_reader, port_writer] = Pipe();
    Fd reader(port_reader);
    Fd writer(port_writer);
    const auto [life_reader, life_writer] = Pipe();
    Fd lifeline_reader(life_reader);
    lifeline_ = life_writer;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writer.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, lifeline_reader.Get(), STDIN_FILENO);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr,
                                      const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(writer.Release());
    if (spawned != 0) {
        pid_ = -1;
        Stop();
        throw std::runtime_error("cannot start " + script);
    }

    // The first line is the port, written once the server listens.
    std::string line;
    pollfd entry{reader.Get(), POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&entry, 1, kStart_Patience_ms) > 0) {
        char chunk[64];
        const ssize_t count = ::read(reader.Get(), chunk, sizeof chunk);
        if (count <= 0)
            break;
        line.append(chunk, static_cast<size_t>(count));
    }
    port_ = static_cast<uint16_t>(std::atoi(line.c_str()));
    if (port_ == 0) {
        Stop();
        throw std::runtime_error("the server of " + script +
                                 " did not start (is python3-aiosmtpd installed?)");
    }
}

Server_Process::~Server_Process() {
    Stop();
}

void Server_Process::Stop() noexcept {
    if (lifeline_ >= 0)
        ::close(lifeline_);
    lifeline_ = -1;
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

Recording_Http_Server::Recording_Http_Server(const std::string& pem_with_key)
    : tls_(!pem_with_key.empty()), process_(Http_Arguments(folder_, pem_with_key)) {}

std::string Recording_Http_Server::Base() const {
    return (tls_ ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(process_.Port());
}

void Recording_Http_Server::Add_Answer_Line(const std::string& line) {
    // Appended whole in one write: the server reads the file at each request.
    std::ofstream(folder_.Path() / "answers", std::ios::app) << line + "\n" << std::flush;
}

void Recording_Http_Server::Answer(const std::string& path, int status, const std::string& body) {
    Add_Answer_Line(path + " " + std::to_string(status) + " " + body);
}

void Recording_Http_Server::Hang(const std::string& path) {
    Add_Answer_Line(path + " hang");
}

std::vector<Request_Seen> Recording_Http_Server::Requests() const {
    std::vector<Request_Seen> requests;
    for (const fs::path& record : Records(folder_.Path() / "requests")) {
        Request_Seen r;
        r.method = Bytes_Of(record / "method");
        r.path = Bytes_Of(record / "path");
        r.headers = Files_In(record / "headers");
        r.decoded = Files_In(record / "decoded");
        r.body = Bytes_Of(record / "body");
        std::error_code ec;
        if (fs::is_directory(record / "parts", ec))
            for (const std::string& name : Entries(record / "parts")) {
                const fs::path part = record / "parts" / name;
                Form_Part_Seen& p = r.parts[name];
                p.content_type = Bytes_Of(part / "content_type");
                p.filename = Bytes_Of(part / "filename");
                p.data = Bytes_Of(part / "data");
                p.json = Fields_Of(Bytes_Of(part / "json"));
                p.json_error = Bytes_Of(part / "json_error");
            }
        requests.push_back(std::move(r));
    }
    return requests;
}

Recording_Smtp_Server::Recording_Smtp_Server(Security security, const std::string& pem_with_key,
                                             const std::string& login, const std::string& mechanism)
    : process_(Smtp_Arguments(folder_, security, pem_with_key, login, mechanism)) {}

std::vector<Mail_Seen> Recording_Smtp_Server::Mails() const {
    std::vector<Mail_Seen> mails;
    for (const fs::path& record : Records(folder_.Path() / "mails")) {
        Mail_Seen m;
        m.envelope_from = Bytes_Of(record / "envelope_from");
        m.envelope_to = Bytes_Of(record / "envelope_to");
        m.tls = Bytes_Of(record / "tls") == "yes";
        m.login = Bytes_Of(record / "login");
        m.mechanism = Bytes_Of(record / "mechanism");
        m.subject = Bytes_Of(record / "subject");
        m.from = Bytes_Of(record / "from");
        m.to = Bytes_Of(record / "to");
        m.date = Bytes_Of(record / "date");
        m.text = Bytes_Of(record / "text");
        for (const auto& [name, bytes] : Files_In(record / "attachments")) {
            const std::string type_suffix = ".type";
            if (name.size() > type_suffix.size() &&
                name.compare(name.size() - type_suffix.size(), type_suffix.size(), type_suffix) ==
                    0)
                m.attachment_types[name.substr(0, name.size() - type_suffix.size())] = bytes;
            else
                m.attachments[name] = bytes;
        }
        mails.push_back(std::move(m));
    }
    return mails;
}

} // namespace vistrel::test
