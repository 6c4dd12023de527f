// The FTP client's data connections: passive, opened by us, one a listing
// or a store, each watched for stalls and read to its final reply.
#include "upload/ftp_client.h"

#include "upload/transfer_progress.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vistrel {

namespace {

constexpr size_t kMax_Listing = 16 * 1024 * 1024;
constexpr size_t kChunk = 64 * 1024;

} // namespace

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
    Ftp_Reply first;
    try {
        // A listing's data connection is open before the command; a store's
        // follows it.
        if (upload == nullptr)
            data = Open_Data(target);
        Expect_In_Step(control, word);
        const Deadline deadline = After(Read_Timeout);
        Send_Line(control, command, deadline);
        if (upload != nullptr)
            data = Open_Data(target);
        // The handshake follows the command: servers take it only then.
        std::optional<Ftp_Reply> early;
        if (tls_context_)
            early = Secure_Data(control, data, deadline);
        first = early ? std::move(*early) : Receive_Reply(control, deadline);
    } catch (const Socket_Timeout&) {
        Fail_Transfer(control, data,
                      "no reply to " + word + " within " + Seconds_Text(Read_Timeout), word);
    } catch (const Socket_Error& e) {
        Fail_Transfer(control, data, e.what(), word);
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
        Fail_Transfer(control, data,
                      "the data connection moved less than " + std::to_string(kMin_Progress) +
                          " bytes in " + Seconds_Text(Stall_Timeout),
                      word);
    } catch (const std::exception& e) {
        Fail_Transfer(control, data, e.what(), word);
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

void FTP_Client::Store(Byte_Stream& control, const std::string& local_path,
                       const std::string& remote_name, bool append) {
    Local_File file(local_path);
    const std::string name =
        remote_name.empty() ? std::filesystem::path(local_path).filename().string() : remote_name;
    Transfer(control, (append ? "APPE " : "STOR ") + name, &file);
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
                               const std::string& message, const std::string& word) {
    Close_Data(data);
    Status(Ftp_Status::ftpAborted, "Transfer aborted.");
    bool aborted = false;
    {
        std::lock_guard lock(handles_mutex_);
        aborted = aborted_;
    }
    // A data connection that broke or stalled leaves the server's replies to
    // come unknown: the control connection goes with it. One that an abort
    // cut is closed as the abort closes it, whichever of us comes first.
    if (aborted)
        Close_Control(true, &control);
    else
        Cut_Control(control, true);
    throw FTP_Error(0, aborted ? "transfer aborted" : message, word);
}

} // namespace vistrel
