#include "upload/upload_worker.h"

#include "base/text_helpers.h"

#include <algorithm>
#include <fstream>

namespace vistrel {

namespace {

// The window is closing: the run gives up where it stands.
class Run_Abandoned : public std::runtime_error {
public:
    Run_Abandoned() : std::runtime_error("the upload was abandoned") {}
};

} // namespace

std::string Remote_Folder_Name(const std::string& folder) {
    if (folder.empty())
        return {};
    return Replace_All(folder.substr(0, folder.size() - 1), "/", "_");
}

bool Listing_Has_Folder(const std::vector<std::string>& lines, const std::string& name) {
    for (const std::string& line : lines) {
        if (line.empty() || (line[0] != 'd' && line[0] != 'D'))
            continue;
        // Permissions, links, owner, group, size, month, day and time or
        // year; the rest is the name, inner blanks included.
        std::string rest = line;
        for (int field = 0; field < 8; ++field)
            Cut_Token(rest, " ");
        if (rest == name)
            return true;
    }
    return false;
}

Upload_Worker::Upload_Worker(Ftp_Session& client, Upload_List& files, Hooks hooks)
    : client_(client), files_(files), hooks_(std::move(hooks)), refused_(hooks_.refused_file) {
    thread_ = std::thread([this] { Thread_Loop(); });
}

Upload_Worker::~Upload_Worker() {
    Terminate();
    if (thread_.joinable())
        thread_.join();
}

void Upload_Worker::Start() {
    std::lock_guard lock(mutex_);
    if (running_ || held_ || terminating_)
        return;
    wake_requested_ = true;
    wake_.notify_one();
}

bool Upload_Worker::Active() const {
    std::lock_guard lock(mutex_);
    return running_ || wake_requested_;
}

void Upload_Worker::Hold(bool held) {
    {
        std::lock_guard lock(mutex_);
        held_ = held;
        if (held)
            wake_requested_ = false;
    }
    if (!held) {
        // The holder may have connected elsewhere, or as someone else.
        std::lock_guard lock(server_mutex_);
        own_connection_ = false;
    }
}

void Upload_Worker::Connection_Test_Succeeded() {
    std::lock_guard lock(server_mutex_);
    backoff_.Reset();
}

bool Upload_Worker::Waiting_After_Refusal() const {
    std::lock_guard lock(server_mutex_);
    return backoff_.Waiting(Now());
}

void Upload_Worker::Terminate() {
    std::lock_guard lock(mutex_);
    terminating_ = true;
    wake_.notify_one();
}

void Upload_Worker::Thread_Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return wake_requested_ || terminating_; });
        if (terminating_)
            return;
        wake_requested_ = false;
        running_ = true;
        busy_ = true; // before the lock goes, so that no one sees a run neither busy nor active
        lock.unlock();
        TRH_FtpRun();
        lock.lock();
        running_ = false;
    }
}

void Upload_Worker::TRH_FtpRun() {
    busy_ = true;
    try {
        const Working_Settings settings = hooks_.settings();
        Follow_Settings(settings);
        if (files_.Ever_Appended() && settings.Use_FTP)
            Send(settings);
    } catch (const FTP_Error& e) {
        // The server said no to us, not to a picture: asking again at every
        // tick would only be refused again.
        if (e.Kind() == Failure_Kind::Server_Refused) {
            std::lock_guard lock(server_mutex_);
            backoff_.Refused(Now());
        }
    } catch (...) {
        // A failed run says nothing; the client's last status stays shown and
        // the next wake-up tries again.
    }
    TRH_FtpAfterRun();
}

void Upload_Worker::TRH_FtpAfterRun() {
    busy_ = false;
}

bool Upload_Worker::Follow_Settings(const Working_Settings& settings) {
    const Server_Identity identity{settings.FTP_Server, settings.FTP_Login, settings.FTP_Password};
    bool changed = false;
    bool keep_connection = false;
    {
        std::lock_guard lock(server_mutex_);
        changed = identity_ != identity;
        if (changed) {
            identity_ = identity;
            backoff_.Reset();
            own_connection_ = false;
        }
        keep_connection = own_connection_;
    }
    // Not a word more on a connection made for other settings: after a
    // change from ftp:// to ftps://, say, it would go out in clear.
    if (!keep_connection && client_.Is_Connected())
        client_.Disconnect();
    return changed;
}

void Upload_Worker::Send(const Working_Settings& settings) {
    const auto started = Now();
    if (Waiting_After_Refusal())
        return;
    // Only a logged-in connection can store a picture: one left open after a
    // refused login is replaced.
    if (!client_.Is_Connected() || !client_.Logged_In()) {
        if (client_.Is_Connected())
            client_.Disconnect();
        client_.Set_Server(settings.FTP_Server);
        client_.Set_Credentials(settings.FTP_Login, settings.FTP_Password);
        Throw_If_Terminating();
        {
            std::lock_guard lock(server_mutex_);
            own_connection_ = true;
        }
        client_.Connect();
        Throw_If_Terminating();
        client_.Login();
    }
    files_.Begin_Run();
    Refused_Folders refused_folders;
    const auto period = std::chrono::milliseconds(std::max(settings.Sampling_ms, 1));
    for (;;) {
        Throw_If_Terminating();
        if (!client_.Is_Connected())
            break;
        const auto taken = files_.Take_First_Unsent();
        if (!taken)
            break;
        const auto picture_started = Now();
        Send_One(settings, *taken, refused_folders);
        // The next picture follows in the same run only when it should be
        // done before a sampling period is over: a run still going at the
        // next tick would miss that tick's wake-up, and the backlog would
        // drain a tick in two.
        const auto now = Now();
        if (now - started + (now - picture_started) >= period)
            break;
        const Working_Settings latest = hooks_.settings();
        if (!latest.Use_FTP || Follow_Settings(latest))
            break;
    }
    // The server let the run through: whatever it refused before is over.
    std::lock_guard lock(server_mutex_);
    backoff_.Reset();
}

void Upload_Worker::Send_One(const Working_Settings& settings, const Upload_List::Taken& taken,
                             Refused_Folders& refused_folders) {
    const TFichier& picture = taken.entry;
    try {
        const std::string remote = Remote_Folder_Name(picture.Folder);
        const bool in_folder = !settings.Use_Same_File_Name;
        // The server's answer will not change within the run: the pictures
        // of a refused folder are refused with it, and the run goes on to
        // the next folder at once.
        if (in_folder && refused_folders.count(remote) != 0)
            throw FTP_Error(0, "the server refused the folder " + remote, "CWD",
                            Failure_Kind::Refused);
        const std::string current = Replace_All(client_.Get_Current_Dir(), "/", "");
        if (in_folder && current != remote) {
            try {
                Enter_Remote_Folder(remote);
            } catch (const FTP_Error& e) {
                if (e.Kind() == Failure_Kind::Refused)
                    refused_folders.insert(remote);
                throw;
            }
        }
        Throw_If_Terminating();
        if (hooks_.show_file)
            hooks_.show_file(picture.Name);
        if (!std::ifstream(picture.Path, std::ios::binary))
            throw FTP_Error(0, "cannot read " + picture.Path, {}, Failure_Kind::Local_File_Gone);
        client_.Put_File(picture.Path, picture.Name, false);
    } catch (const FTP_Error& e) {
        switch (e.Kind()) {
        case Failure_Kind::Local_File_Gone:
            // Sending it again would fail the same way.
            files_.Finish(taken.id);
            throw;
        case Failure_Kind::Refused:
            // The pictures behind it are not held back: the run goes on.
            Count_Refusal(taken);
            return;
        case Failure_Kind::Connection:
        case Failure_Kind::Server_Refused:
            break;
        }
        files_.Put_Back(taken.id);
        throw;
    } catch (...) {
        files_.Put_Back(taken.id);
        throw;
    }
    files_.Finish(taken.id);
}

void Upload_Worker::Count_Refusal(const Upload_List::Taken& taken) {
    if (files_.Refuse(taken.id) < kRefusals_Before_Giving_Up)
        return;
    // Listed before it leaves the queue: a crash in between lists it twice
    // rather than lose it.
    // A list that cannot be written keeps the picture waiting: it is tried
    // again at later runs, behind the others, rather than dropped unlisted.
    if (refused_.Add(taken.entry.Path))
        files_.Finish(taken.id);
}

void Upload_Worker::Enter_Remote_Folder(const std::string& remote) {
    client_.Change_Dir_Up();
    Throw_If_Terminating();
    client_.List_Dir();
    Throw_If_Terminating();
    if (!Listing_Has_Folder(client_.List_Result(), remote)) {
        try {
            client_.Make_Dir(remote);
        } catch (const FTP_Error&) {
            // It may exist all the same, in a listing we cannot read: the
            // change of folder decides.
        }
        Throw_If_Terminating();
    }
    client_.Change_Dir(remote);
}

void Upload_Worker::Throw_If_Terminating() const {
    if (terminating_)
        throw Run_Abandoned();
}

Steady_Clock::time_point Upload_Worker::Now() const {
    return hooks_.now ? hooks_.now() : Steady_Clock::now();
}

} // namespace vistrel
