#include "upload/ftp_client.h"

#include "upload/server_trust.h"
#include "upload/transfer_progress.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vistrel {

namespace {

constexpr size_t kMax_Listing = 16 * 1024 * 1024;
constexpr size_t kChunk = 64 * 1024;
// How long a data connection's handshake runs before the control connection
// is looked at again.
constexpr Milliseconds kHandshake_Slice{50};

bool All_Digits(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string Trim_Blanks(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string First_Word(const std::string& line) {
    return line.substr(0, line.find(' '));
}

std::string First_Text(const Ftp_Reply& reply) {
    return reply.Text.empty() ? std::string() : reply.Text.front();
}

bool Is_One_Of(int code, std::initializer_list<int> codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool Lists_Feature(const std::vector<std::string>& features, const std::string& name) {
    return std::any_of(features.begin(), features.end(), [&](const std::string& line) {
        std::string word = First_Word(Trim_Blanks(line));
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return word == name;
    });
}

uint16_t Parse_Port(const std::string& text, const std::string& server) {
    const unsigned long port =
        (!text.empty() && text.size() <= 5 && All_Digits(text)) ? std::stoul(text) : 0;
    if (port == 0 || port > 65535)
        throw FTP_Error(0, "invalid port in the server address " + server);
    return static_cast<uint16_t>(port);
}

} // namespace

std::string Ftp_Reply::Joined_Text() const {
    std::string joined;
    for (const std::string& line : Text) {
        if (&line != &Text.front())
            joined += '\n';
        joined += line;
    }
    return joined;
}

bool Ends_Reply(const std::string& line) {
    if (line.size() <= 3)
        return !line.empty() && All_Digits(line);
    return All_Digits(line.substr(0, 3)) && line[3] == ' ';
}

Ftp_Reply Read_Reply(const std::function<std::string()>& next_line) {
    // Blank lines before the reply count too: a server sending nothing else
    // would otherwise hold the reader for ever.
    size_t size = 0;
    const auto count = [&size](const std::string& line) {
        size += line.size() + 2;
        if (size > kMax_Reply_Size)
            throw Socket_Error("reply longer than " + std::to_string(kMax_Reply_Size) + " bytes");
    };
    std::string line;
    do {
        line = next_line();
        count(line);
        line = Trim_Blanks(line);
    } while (line.empty());
    std::vector<std::string> lines{line};
    while (!Ends_Reply(line)) {
        line = next_line();
        count(line);
        lines.push_back(line);
    }

    const std::string code = lines.front().substr(0, 3);
    Ftp_Reply reply;
    reply.Code = (code.size() == 3 && All_Digits(code)) ? std::stoi(code) : 0;
    for (const std::string& each : lines) {
        const bool own = &each == &lines.front() || (reply.Code != 0 && each.starts_with(code));
        if (own)
            reply.Text.push_back(each.size() > 4 ? each.substr(4) : std::string());
        else
            reply.Text.push_back(each.substr(std::min(each.find_first_not_of(' '), each.size())));
    }
    return reply;
}

std::string Parse_PWD(const std::string& text) {
    const size_t open = text.find('"');
    if (open == std::string::npos)
        return {};
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos)
        return {};
    return text.substr(open + 1, close - open - 1);
}

Pasv_Address Parse_PASV(const std::string& text) {
    const std::string line = Trim_Blanks(text);
    const size_t open = line.find('(');
    const size_t close = line.find(')');
    std::string numbers;
    if (open != std::string::npos && close != std::string::npos && open < close)
        numbers = line.substr(open + 1, close - open - 1);
    else
        numbers = line.substr(line.rfind(' ') == std::string::npos ? 0 : line.rfind(' ') + 1);

    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t comma = numbers.find(',', start);
        fields.push_back(Trim_Blanks(numbers.substr(start, comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    int values[6];
    for (size_t i = 0; i < 6; ++i) {
        const bool number = i < fields.size() && !fields[i].empty() && fields[i].size() <= 3 &&
                            All_Digits(fields[i]) && std::stoi(fields[i]) <= 255;
        if (!number)
            throw FTP_Error(0, "no address in the passive mode reply: " + text, "PASV");
        values[i] = std::stoi(fields[i]);
    }
    Pasv_Address address;
    address.Host = std::to_string(values[0]) + "." + std::to_string(values[1]) + "." +
                   std::to_string(values[2]) + "." + std::to_string(values[3]);
    address.Port = static_cast<uint16_t>(values[4] * 256 + values[5]);
    return address;
}

uint16_t Parse_EPSV(const std::string& text) {
    const auto fail = [&]() -> uint16_t {
        throw FTP_Error(0, "no port in the extended passive mode reply: " + text, "EPSV");
    };
    const size_t open = text.find('(');
    if (open == std::string::npos || open + 1 >= text.size())
        return fail();
    // "(", three delimiters, the port, the delimiter again, ")".
    const char delimiter = text[open + 1];
    const size_t port_start = open + 4;
    if (text.size() < port_start || text.compare(open + 1, 3, std::string(3, delimiter)) != 0 ||
        std::isdigit(static_cast<unsigned char>(delimiter)))
        return fail();
    const size_t port_end = text.find(delimiter, port_start);
    if (port_end == std::string::npos || port_end + 1 >= text.size() || text[port_end + 1] != ')')
        return fail();
    const std::string digits = text.substr(port_start, port_end - port_start);
    const unsigned long port =
        (!digits.empty() && digits.size() <= 5 && All_Digits(digits)) ? std::stoul(digits) : 0;
    if (port == 0 || port > 65535)
        return fail();
    return static_cast<uint16_t>(port);
}

bool Reply_In_Step(int code, bool preliminary_allowed) {
    return code >= (preliminary_allowed ? 100 : 200) && code <= 599;
}

std::vector<std::string> Split_Listing(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.push_back(bytes.substr(start, i - start));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.push_back(bytes.substr(start));
    return lines;
}

Server_Address Parse_Server(const std::string& text) {
    std::string server = Trim_Blanks(text);
    Server_Address address;
    if (const size_t scheme_end = server.find("://"); scheme_end != std::string::npos) {
        std::string scheme = server.substr(0, scheme_end);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (scheme == "ftps")
            address.Protocol = Transfer_Protocol::Ftps;
        else if (scheme == "sftp")
            address.Protocol = Transfer_Protocol::Sftp;
        else if (scheme != "ftp")
            throw FTP_Error(0, "unknown scheme in the server address " + server);
        if (address.Protocol == Transfer_Protocol::Sftp)
            address.Port = 22;
        server.erase(0, scheme_end + 3);
        if (server.ends_with('/'))
            server.pop_back();
        if (server.empty())
            throw FTP_Error(0, "no host in the server address " + Trim_Blanks(text));
    }
    if (server.starts_with('[')) {
        const size_t close = server.find(']');
        const std::string rest = close == std::string::npos ? "?" : server.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            throw FTP_Error(0, "invalid server address " + server);
        address.Host = server.substr(1, close - 1);
        if (!rest.empty())
            address.Port = Parse_Port(rest.substr(1), server);
    } else if (const size_t colon = server.find(':');
               colon != std::string::npos && server.find(':', colon + 1) == std::string::npos) {
        address.Host = server.substr(0, colon);
        address.Port = Parse_Port(server.substr(colon + 1), server);
    } else {
        address.Host = server; // a name, an IPv4 address or a bare IPv6 address
    }
    // A path or a control character never names a host; refused here, the
    // user reads what is wrong with the field instead of a lookup failure.
    if (std::any_of(address.Host.begin(), address.Host.end(),
                    [](unsigned char c) { return c == '/' || c < 0x20 || c == 0x7f; }))
        throw FTP_Error(0, "invalid server address " + server);
    return address;
}

// The operation in progress: holds the client for its caller and keeps the
// control connection alive while another thread may drop the client's handle.
class FTP_Client::Operation {
public:
    explicit Operation(FTP_Client& client) : client_(client), lock_(client.operation_mutex_) {
        std::lock_guard handles(client.handles_mutex_);
        if (client.ended_)
            throw FTP_Error(0, "the connection is closed for good");
        control_ = client.control_;
        if (!control_ || !control_->Established() || control_->Peer_Closed())
            throw FTP_Error(0, "not connected");
    }
    ~Operation() { client_.Owe_Replies_After_Operation(); }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    Byte_Stream& Control() { return *control_; }

private:
    FTP_Client& client_;
    std::unique_lock<std::mutex> lock_;
    std::shared_ptr<Byte_Stream> control_;
};

// A local file read from start to end. Opened read-only and unlocked, so the
// program that writes it can go on doing so.
class FTP_Client::Local_File {
public:
    explicit Local_File(const std::string& path)
        : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) {
            const int error = errno;
            throw FTP_Error(0, "cannot open " + path + ": " + std::strerror(error), {},
                            error == ENOENT || error == ENOTDIR ? Failure_Kind::Local_File_Gone
                                                                : Failure_Kind::Connection);
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd_);
            throw FTP_Error(0, "cannot open " + path + ": not a file", {},
                            Failure_Kind::Local_File_Gone);
        }
    }
    ~Local_File() { ::close(fd_); }
    Local_File(const Local_File&) = delete;
    Local_File& operator=(const Local_File&) = delete;

    // 0 at the end of the file.
    size_t Read(char* buffer, size_t capacity) {
        for (;;) {
            const ssize_t count = ::read(fd_, buffer, capacity);
            if (count >= 0)
                return static_cast<size_t>(count);
            if (errno != EINTR)
                throw FTP_Error(0, "cannot read " + path_ + ": " + std::strerror(errno));
        }
    }

private:
    const std::string path_;
    const int fd_;
};

namespace {

std::string Seconds_Text(Milliseconds limit) {
    if (limit.count() % 1000 == 0)
        return std::to_string(limit.count() / 1000) + " s";
    return std::to_string(limit.count()) + " ms";
}

} // namespace

FTP_Client::FTP_Client() = default;

FTP_Client::~FTP_Client() = default;

void FTP_Client::Set_Server(const std::string& server) {
    Server_Address address = Parse_Server(server);
    if (address.Protocol == Transfer_Protocol::Sftp)
        throw FTP_Error(0, "an sftp:// server is for the SFTP client");
    Host = std::move(address.Host);
    Port = address.Port;
    Encrypted = address.Protocol == Transfer_Protocol::Ftps;
}

void FTP_Client::Set_Credentials(const std::string& user, const std::string& password) {
    Username = user;
    Password = password;
}

bool FTP_Client::Is_Connected() {
    std::lock_guard lock(handles_mutex_);
    // A connection still being set up has nobody at the other end yet.
    return control_ && control_->Established() && !control_->Peer_Closed();
}

bool FTP_Client::Logged_In() const {
    std::lock_guard lock(handles_mutex_);
    return logged_in_ && control_ && control_->Established() && !control_->Peer_Closed();
}

void FTP_Client::Throw_If_Ended() const {
    std::lock_guard lock(handles_mutex_);
    if (ended_)
        throw FTP_Error(0, "the connection is closed for good");
}

void FTP_Client::Connect() {
    std::unique_lock operation(operation_mutex_);
    Close_Control(true);
    // Bytes of a connection another thread closed are no part of this one.
    control_lines_.Clear();
    tls_context_.reset();
    tls_sessions_.reset();
    server_fingerprint_.clear();
    data_protected_ = false;
    try {
        Throw_If_Ended();
        const std::shared_ptr<Tcp_Socket> control = Open_Control();
        Status(Ftp_Status::hsConnected, "Connected.");
        Ftp_Reply greeting;
        try {
            greeting = Receive_Reply(*control, After(Read_Timeout));
        } catch (const Socket_Timeout&) {
            throw Socket_Timeout("no greeting from the server within " +
                                 Seconds_Text(Read_Timeout));
        }
        if (greeting.Code != 220)
            throw FTP_Error(greeting.Code, greeting.Joined_Text());
        // Some servers greet twice; what came with the greeting is part of it.
        while (control_lines_.Holds_Line()) {
            const Ftp_Reply more = Receive_Reply(*control, After(kGrace));
            if (more.Code != 220)
                throw FTP_Error(0, "the greeting came out of step: " + more.Joined_Text());
        }
        if (Encrypted)
            Secure_Control(control);
        Owe_Replies_After_Operation();
    } catch (const Socket_Error& e) {
        Close_Control(true);
        throw FTP_Error(0, e.what());
    } catch (const FTP_Error& e) {
        Close_Control(true);
        // A refused encryption is said after the close, whose own word would
        // hide it.
        if (e.Command() == "AUTH")
            Status(Ftp_Status::hsDisconnected, e.what());
        throw;
    } catch (...) {
        Close_Control(true);
        throw;
    }
}

std::vector<Endpoint> FTP_Client::Look_Up(const std::string& host, uint16_t port) {
    if (Is_Numeric_Host(host))
        return Resolve(host, port); // digits only: nothing to wait for
    Status(Ftp_Status::hsResolving, "Resolving " + host + ".");
    std::shared_ptr<Name_Lookup> lookup;
    Name_Lookup::Ticket ticket = 0;
    {
        // Published before the wait, so that Disconnect can cut it short.
        std::lock_guard lock(handles_mutex_);
        if (ended_)
            throw Socket_Error("the connection is closed for good");
        // A lookup an earlier attempt gave up on may still answer: it is
        // waited for again rather than joined by another.
        if (!lookup_ || lookup_->Answered() || lookup_->Host() != host || lookup_->Port() != port)
            lookup_ = std::make_shared<Name_Lookup>(Name_Resolver, host, port);
        lookup = lookup_;
        ticket = lookup->Take_Ticket();
    }
    try {
        return lookup->Wait(ticket, After(Lookup_Timeout));
    } catch (const Socket_Timeout&) {
        throw Socket_Timeout("no address for " + host + " within " + Seconds_Text(Lookup_Timeout));
    }
}

std::shared_ptr<Tcp_Socket> FTP_Client::Open_Control() {
    // PASV describes IPv4 only, so IPv4 is what we try first.
    const std::vector<Endpoint> endpoints = IPv4_First(Look_Up(Host, Port));
    for (size_t i = 0;; ++i) {
        Status(Ftp_Status::hsConnecting, "Connecting to " + endpoints[i].Host() + ".");
        auto control = std::make_shared<Tcp_Socket>(endpoints[i].Family());
        {
            // Published before the wait, so that Disconnect can cut it short.
            std::lock_guard lock(handles_mutex_);
            if (ended_)
                throw Socket_Error("the connection is closed for good");
            control_ = control;
            replies_owed_ = 0;
            replies_after_operation_ = 0;
        }
        try {
            control->Connect(endpoints[i], After(Connect_Timeout));
            return control;
        } catch (const Socket_Error& e) {
            std::lock_guard lock(handles_mutex_);
            const bool dropped = control_ != control;
            if (dropped || i + 1 == endpoints.size()) {
                if (dynamic_cast<const Socket_Timeout*>(&e) != nullptr)
                    throw Socket_Timeout("no connection to " + endpoints[i].Host() + " within " +
                                         Seconds_Text(Connect_Timeout));
                throw;
            }
            control_.reset();
        }
    }
}

void FTP_Client::Secure_Control(const std::shared_ptr<Tcp_Socket>& control) {
    const Ftp_Reply consent = Command(*control, "AUTH TLS", {});
    if (consent.Code != 234)
        throw FTP_Error(consent.Code, "The server does not offer encryption (AUTH TLS refused)",
                        "AUTH", Reply_Failure_Kind(consent.Code, "AUTH"));
    // Bytes after the consent came in clear: taken as replies under TLS they
    // would be anybody's.
    if (control_lines_.Holds_Bytes())
        throw FTP_Error(0, "the server sent more than its consent to encryption", "AUTH");
    auto context = std::make_shared<const Tls_Context>();
    auto sessions = std::make_shared<Tls_Session_Slot>();
    auto secured =
        std::make_shared<Tls_Stream>(control, context, Host, sessions, Tls_Stream::Role::Control);
    // Published before the wait, so that Disconnect can cut it short.
    Replace_Handle(control_, control, secured);
    try {
        secured->Handshake(After(Read_Timeout));
    } catch (const Socket_Timeout&) {
        throw Socket_Timeout("no TLS handshake with the server within " +
                             Seconds_Text(Read_Timeout));
    }
    // Nothing, not even the user name, goes to a server we cannot be sure of.
    const std::string pinned = Pinned_Certificate ? Pinned_Certificate(Host, Port) : std::string();
    const Certificate_Problem problem = Judge_Certificate(secured->Peer(), pinned);
    if (problem != Certificate_Problem::None) {
        // Not even a QUIT: the connection is cut without a word.
        Cut_Control(*secured, true);
        throw Certificate_Error(problem, secured->Peer(), Host, Port);
    }
    tls_context_ = std::move(context);
    tls_sessions_ = std::move(sessions);
    server_fingerprint_ = secured->Peer().Certificate.Fingerprint;
}

void FTP_Client::Replace_Handle(std::shared_ptr<Byte_Stream>& handle,
                                const std::shared_ptr<Byte_Stream>& plain,
                                std::shared_ptr<Byte_Stream> secured) {
    std::lock_guard lock(handles_mutex_);
    if (ended_)
        throw Socket_Error("the connection is closed for good");
    if (handle != plain)
        throw Socket_Error("connection closed"); // cut by another thread
    handle = std::move(secured);
}

void FTP_Client::Protect_Data(Byte_Stream& control) {
    if (!tls_context_ || data_protected_)
        return;
    Command(control, "PBSZ 0", {200});
    Command(control, "PROT P", {200});
    data_protected_ = true;
}

std::optional<Ftp_Reply> FTP_Client::Secure_Data(Byte_Stream& control,
                                                 std::shared_ptr<Byte_Stream>& data,
                                                 Deadline deadline) {
    auto secured =
        std::make_shared<Tls_Stream>(std::static_pointer_cast<Tcp_Socket>(data), tls_context_, Host,
                                     tls_sessions_, Tls_Stream::Role::Data);
    Replace_Handle(data_, data, secured);
    data = secured;
    std::optional<Ftp_Reply> reply;
    for (;;) {
        try {
            secured->Handshake(std::min(deadline, After(kHandshake_Slice)));
            break;
        } catch (const Socket_Timeout&) {
            if (Steady_Clock::now() >= deadline)
                throw;
        }
        // A server that refuses the transfer never answers the handshake.
        if (!reply && (control_lines_.Holds_Line() || control.Has_Input())) {
            reply = Receive_Reply(control, deadline);
            if (reply->Code < 100 || reply->Code > 199)
                return reply;
        }
    }
    if (secured->Peer().Certificate.Fingerprint != server_fingerprint_)
        throw Socket_Error("the data connection showed another certificate than the server");
    return reply;
}

FTP_Client::Handles FTP_Client::Drop_Handles() noexcept {
    Handles dropped{std::move(control_), std::move(data_), lookup_};
    replies_owed_ = 0;
    replies_after_operation_ = 0;
    logged_in_ = false;
    return dropped;
}

void FTP_Client::Close_Control(bool owner) noexcept {
    Handles dropped;
    {
        std::lock_guard lock(handles_mutex_);
        dropped = Drop_Handles();
    }
    const std::shared_ptr<Byte_Stream>& control = dropped.control;
    const std::shared_ptr<Byte_Stream>& data = dropped.data;
    if (dropped.lookup)
        dropped.lookup->Interrupt();
    if (!control) {
        if (data)
            data->Shutdown();
        return;
    }
    Status(Ftp_Status::hsDisconnecting, "Disconnecting.");
    // Nobody listens on a connection still being set up, or one the server
    // closed. A TLS connection takes no QUIT from here while another thread's
    // operation may be reading it: TLS cannot write beside a reader.
    if (control->Established() && !control->Peer_Closed() &&
        (owner || control->Sends_Beside_Reader())) {
        try {
            control->Send_All("QUIT\r\n", After(kGrace));
            // A blocked operation reads this connection itself; it is about to
            // fail anyway.
            if (owner) {
                const Deadline deadline = After(kGrace);
                Read_Reply([&] { return control_lines_.Read_Line(*control, deadline); });
            }
        } catch (const std::exception&) {
            // Closing goes on whatever the server says, or does not say.
        }
    }
    // The control connection goes first, so that an operation woken by the end
    // of its data connection cannot send anything more.
    control->Shutdown();
    if (data)
        data->Shutdown();
    if (owner)
        control_lines_.Clear();
    Status(Ftp_Status::hsDisconnected, "Disconnected.");
}

void FTP_Client::Cut_Control(const Byte_Stream& control, bool owner) noexcept {
    Handles dropped;
    {
        std::lock_guard lock(handles_mutex_);
        if (control_.get() != &control)
            return; // already replaced or closed
        dropped = Drop_Handles();
    }
    dropped.control->Shutdown();
    if (dropped.data)
        dropped.data->Shutdown();
    if (owner)
        control_lines_.Clear();
    Status(Ftp_Status::hsDisconnected, "Connection closed.");
}

void FTP_Client::Disconnect() noexcept {
    try {
        std::unique_lock operation(operation_mutex_, std::try_to_lock);
        Close_Control(operation.owns_lock());
    } catch (...) {
        // Only the lock could fail, and closing must not.
    }
}

void FTP_Client::Close_For_Good() noexcept {
    Handles dropped;
    {
        std::lock_guard lock(handles_mutex_);
        ended_ = true;
        dropped = Drop_Handles();
    }
    if (dropped.lookup)
        dropped.lookup->Abandon();
    if (dropped.control)
        dropped.control->Shutdown();
    if (dropped.data)
        dropped.data->Shutdown();
}

void FTP_Client::Login() {
    Operation operation(*this);
    Byte_Stream& control = operation.Control();
    logged_in_ = false;
    Ftp_Reply reply = Command(control, "USER " + Username, {230, 232, 331});
    if (reply.Code == 331) {
        reply = Command(control, "PASS " + Password, {230, 332});
        if (reply.Code == 332) // an account would be needed, and none is configured
            throw FTP_Error(reply.Code, reply.Joined_Text(), "PASS",
                            Reply_Failure_Kind(reply.Code, "PASS"));
    }
    const Ftp_Reply features = Command(control, "FEAT", {});
    features_.clear();
    if (features.Text.size() > 2)
        features_.assign(features.Text.begin() + 1, features.Text.end() - 1);
    Command(control, "TYPE I", {200});
    logged_in_ = true;
}

std::string FTP_Client::Get_Current_Dir() {
    Operation operation(*this);
    return Parse_PWD(First_Text(Command(operation.Control(), "PWD", {257})));
}

void FTP_Client::Change_Dir_Up() {
    Operation operation(*this);
    Command(operation.Control(), "CDUP", {200, 250});
}

void FTP_Client::Change_Dir(const std::string& name) {
    Operation operation(*this);
    Command(operation.Control(), "CWD " + name, {200, 250});
}

void FTP_Client::Make_Dir(const std::string& name) {
    Operation operation(*this);
    Command(operation.Control(), "MKD " + name, {257});
}

void FTP_Client::List_Dir() {
    Operation operation(*this);
    Byte_Stream& control = operation.Control();
    Command(control, "TYPE A", {200});
    std::string listing;
    try {
        listing = Transfer(control, "LIST", nullptr);
    } catch (...) {
        // Later transfers must not come out in ASCII; the listing's failure is
        // the one to report.
        try {
            if (Is_Connected())
                Command(control, "TYPE I", {200});
        } catch (const FTP_Error&) {
        }
        throw;
    }
    list_result_ = Split_Listing(listing);
    Command(control, "TYPE I", {200});
}

void FTP_Client::Put_File(const std::string& local_path, const std::string& remote_name,
                          bool append) {
    Operation operation(*this);
    Local_File file(local_path);
    const std::string name =
        remote_name.empty() ? std::filesystem::path(local_path).filename().string() : remote_name;
    Transfer(operation.Control(), (append ? "APPE " : "STOR ") + name, &file);
}

void FTP_Client::Abort_Transfer() noexcept {
    try {
        std::unique_lock operation(operation_mutex_, std::try_to_lock);
        std::shared_ptr<Byte_Stream> control;
        std::shared_ptr<Byte_Stream> data;
        {
            // Marked before ABOR goes out: the server may answer it, and drop
            // the data connection, before this thread runs again.
            std::lock_guard lock(handles_mutex_);
            control = control_;
            // Nothing to abort on a connection still being set up: it is cut
            // by Disconnect.
            if (!control || !control->Established() || control->Peer_Closed())
                return;
            data = data_;
            aborted_ = data != nullptr; // the transfer then reads its own replies
            ++(operation.owns_lock() ? replies_owed_ : replies_after_operation_);
        }
        // A TLS connection that another thread reads cannot take a word
        // beside it: it is cut like one that took none.
        bool sent = operation.owns_lock() || control->Sends_Beside_Reader();
        try {
            if (sent)
                control->Send_All("ABOR\r\n", After(kGrace));
        } catch (const Socket_Error&) {
            sent = false;
        }
        if (data)
            data->Shutdown();
        if (!sent) {
            // A server that does not take six bytes is not listening: the
            // connection is of no further use.
            Cut_Control(*control, operation.owns_lock());
            return;
        }
        if (operation.owns_lock()) {
            try {
                Skip_Owed_Replies(*control, After(kGrace));
            } catch (const Socket_Error&) {
                // Not there yet: the next command skips it.
            }
        }
    } catch (...) {
        // Closing must go on whatever happens here.
    }
}

Ftp_Reply FTP_Client::Command(Byte_Stream& control, const std::string& line,
                              std::initializer_list<int> accepted) {
    const std::string word = First_Word(line);
    Ftp_Reply reply;
    try {
        Expect_In_Step(control, word);
        const Deadline deadline = After(Read_Timeout);
        Send_Line(control, line, deadline);
        reply = Receive_Reply(control, deadline);
    } catch (const Socket_Error& e) {
        Fail_On_Control(control, e, word);
    }
    if (!Reply_In_Step(reply.Code, false)) {
        Cut_Control(control, true);
        throw FTP_Error(0, "the reply to " + word + " came out of step: " + reply.Joined_Text(),
                        word);
    }
    if (accepted.size() != 0 && !Is_One_Of(reply.Code, accepted))
        throw FTP_Error(reply.Code, reply.Joined_Text(), word,
                        Reply_Failure_Kind(reply.Code, word));
    return reply;
}

void FTP_Client::Expect_In_Step(Byte_Stream& control, const std::string& word) {
    {
        std::lock_guard lock(handles_mutex_);
        if (replies_owed_ > 0)
            return; // what waits is the replies we owe
    }
    // Anything the server said unasked would be taken for this command's
    // reply.
    if (control_lines_.Holds_Bytes() || (control.Has_Input() && !control.Peer_Closed())) {
        Cut_Control(control, true);
        throw FTP_Error(0, "the server sent a reply nobody asked for before " + word, word);
    }
}

void FTP_Client::Fail_On_Control(Byte_Stream& control, const std::exception& e,
                                 const std::string& word) {
    // Whatever the server still sends could be taken for the reply of a later
    // command: the connection goes.
    Cut_Control(control, true);
    if (dynamic_cast<const Socket_Timeout*>(&e) != nullptr)
        throw FTP_Error(0, "no reply to " + word + " within " + Seconds_Text(Read_Timeout), word);
    throw FTP_Error(0, e.what(), word);
}

void FTP_Client::Send_Line(Byte_Stream& control, const std::string& line, Deadline deadline) {
    // A name with a line break would smuggle in a command of its own.
    if (line.find_first_of("\r\n") != std::string::npos)
        throw FTP_Error(0, "line break in the command " + First_Word(line), First_Word(line));
    control.Send_All(line + "\r\n", deadline);
}

Ftp_Reply FTP_Client::Receive_Reply(Byte_Stream& control, Deadline deadline) {
    Skip_Owed_Replies(control, deadline);
    return Read_Reply([&] { return control_lines_.Read_Line(control, deadline); });
}

void FTP_Client::Skip_Owed_Replies(Byte_Stream& control, Deadline deadline) {
    for (;;) {
        {
            std::lock_guard lock(handles_mutex_);
            if (replies_owed_ <= 0)
                return;
        }
        const Ftp_Reply skipped =
            Read_Reply([&] { return control_lines_.Read_Line(control, deadline); });
        // A preliminary reply is always followed by the command's final one.
        if (skipped.Code < 100 || skipped.Code > 199)
            Owe_Replies(-1);
    }
}

void FTP_Client::Owe_Replies(int count) {
    std::lock_guard lock(handles_mutex_);
    replies_owed_ = std::max(replies_owed_ + count, 0);
}

void FTP_Client::Owe_Replies_After_Operation() {
    std::lock_guard lock(handles_mutex_);
    replies_owed_ += std::exchange(replies_after_operation_, 0);
}

Endpoint FTP_Client::Passive_Target(Byte_Stream& control) {
    const Endpoint peer = control.Peer_Address();
    // Only the port is taken from the reply: a server behind NAT announces an
    // address we cannot reach, and a hostile one could aim us at other hosts.
    if (peer.Family() == AF_INET6)
        return peer.With_Port(Parse_EPSV(First_Text(Command(control, "EPSV", {229}))));
    const Pasv_Address announced = Parse_PASV(First_Text(Command(control, "PASV", {227})));
    return peer.With_Port(announced.Port);
}

std::string FTP_Client::Transfer(Byte_Stream& control, const std::string& command,
                                 Local_File* upload) {
    const std::string word = First_Word(command);
    Protect_Data(control);
    if (Lists_Feature(features_, "PRET"))
        Command(control, "PRET " + command, {});
    const Endpoint target = Passive_Target(control);
    Status(Ftp_Status::ftpTransfer, "Transferring: " + command);

    std::shared_ptr<Byte_Stream> data;
    bool command_sent = false;
    Ftp_Reply first;
    try {
        // A listing's data connection is open before the command; a store's
        // follows it.
        if (upload == nullptr)
            data = Open_Data(target);
        Expect_In_Step(control, word);
        const Deadline deadline = After(Read_Timeout);
        Send_Line(control, command, deadline);
        command_sent = true;
        if (upload != nullptr)
            data = Open_Data(target);
        // The handshake follows the command: servers take it only then.
        std::optional<Ftp_Reply> early;
        if (tls_context_)
            early = Secure_Data(control, data, deadline);
        first = early ? std::move(*early) : Receive_Reply(control, deadline);
    } catch (const Socket_Timeout&) {
        Fail_Transfer(control, data, command_sent,
                      "no reply to " + word + " within " + Seconds_Text(Read_Timeout), word);
    } catch (const Socket_Error& e) {
        Fail_Transfer(control, data, command_sent, e.what(), word);
    }
    if (!Reply_In_Step(first.Code, true)) {
        Close_Data(data);
        Cut_Control(control, true);
        throw FTP_Error(0, "the reply to " + word + " came out of step: " + first.Joined_Text(),
                        word);
    }
    if (!Is_One_Of(first.Code, upload != nullptr ? std::initializer_list<int>{110, 125, 150}
                                                 : std::initializer_list<int>{125, 150, 154})) {
        Close_Data(data);
        Status(Ftp_Status::ftpAborted, "Transfer refused.");
        throw FTP_Error(first.Code, first.Joined_Text(), word,
                        Reply_Failure_Kind(first.Code, word));
    }

    std::string received;
    try {
        Transfer_Progress progress(Steady_Clock::now(), Stall_Timeout, kMin_Progress);
        std::vector<char> chunk(kChunk);
        if (upload != nullptr) {
            while (const size_t count = upload->Read(chunk.data(), chunk.size())) {
                std::string_view rest(chunk.data(), count);
                while (!rest.empty()) {
                    const size_t sent = data->Send_Some(rest, progress.Stalls_At());
                    progress.Moved(sent, Steady_Clock::now());
                    rest.remove_prefix(sent);
                }
            }
        } else {
            while (const size_t count =
                       data->Receive(chunk.data(), chunk.size(), progress.Stalls_At())) {
                if (received.size() + count > kMax_Listing)
                    throw Socket_Error("listing larger than " + std::to_string(kMax_Listing) +
                                       " bytes");
                received.append(chunk.data(), count);
                progress.Moved(count, Steady_Clock::now());
            }
        }
        // Over TLS the server can tell the end from a cut only by this.
        data->Finish(After(Read_Timeout));
    } catch (const Socket_Timeout&) {
        Fail_Transfer(control, data, true,
                      "the data connection moved less than " + std::to_string(kMin_Progress) +
                          " bytes in " + Seconds_Text(Stall_Timeout),
                      word);
    } catch (const std::exception& e) {
        Fail_Transfer(control, data, true, e.what(), word);
    }
    Close_Data(data); // the end of a store's data
    Status(Ftp_Status::ftpReady, "Transfer complete.");
    Ftp_Reply last;
    try {
        last = Receive_Reply(control, After(Read_Timeout));
    } catch (const Socket_Error& e) {
        Fail_On_Control(control, e, word);
    }
    if (!Reply_In_Step(last.Code, false)) {
        Cut_Control(control, true);
        throw FTP_Error(0, "the reply to " + word + " came out of step: " + last.Joined_Text(),
                        word);
    }
    if (!Is_One_Of(last.Code, {226, 225, 250}))
        throw FTP_Error(last.Code, last.Joined_Text(), word, Reply_Failure_Kind(last.Code, word));
    return received;
}

std::shared_ptr<Tcp_Socket> FTP_Client::Open_Data(const Endpoint& target) {
    auto data = std::make_shared<Tcp_Socket>(target.Family());
    {
        std::lock_guard lock(handles_mutex_);
        if (ended_)
            throw Socket_Error("the connection is closed for good");
        data_ = data;
        aborted_ = false;
    }
    try {
        data->Connect(target, After(Connect_Timeout));
    } catch (const Socket_Timeout&) {
        throw Socket_Error("no data connection to " + target.Host() + " within " +
                           Seconds_Text(Connect_Timeout));
    }
    return data;
}

void FTP_Client::Close_Data(std::shared_ptr<Byte_Stream>& data) {
    {
        std::lock_guard lock(handles_mutex_);
        data_.reset();
    }
    data.reset();
}

void FTP_Client::Fail_Transfer(Byte_Stream& control, std::shared_ptr<Byte_Stream>& data,
                               bool command_sent, const std::string& message,
                               const std::string& word) {
    Close_Data(data);
    Status(Ftp_Status::ftpAborted, "Transfer aborted.");
    bool aborted = false;
    {
        std::lock_guard lock(handles_mutex_);
        aborted = aborted_;
        if (aborted && command_sent)
            ++replies_owed_; // the transfer's own final reply
    }
    if (!aborted) {
        // A data connection that broke or stalled leaves the server's replies
        // to come unknown: the control connection goes with it.
        Cut_Control(control, true);
        throw FTP_Error(0, message, word);
    }
    // Abort_Transfer cut it: the transfer's replies come first, then the
    // ABOR's, and both are read here so the next command gets its own.
    Owe_Replies_After_Operation();
    try {
        Skip_Owed_Replies(control, After(Read_Timeout));
    } catch (const Socket_Error&) {
        Cut_Control(control, true);
    }
    throw FTP_Error(0, "transfer aborted", word);
}

void FTP_Client::Status(Ftp_Status status, const std::string& text) noexcept {
    try {
        if (OnStatus)
            OnStatus(status, text);
    } catch (...) {
        // A status text is for show; it must not end a close.
    }
}

} // namespace vistrel
