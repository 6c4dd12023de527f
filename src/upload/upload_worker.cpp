#include "upload/upload_worker.h"

#include "settings/text_helpers.h"

#include <algorithm>
#include <fstream>

namespace vistrel {

namespace {

// The picture's local file cannot be read any more (deleted or unreadable):
// sending it again would fail the same way.
class Unreadable_Picture : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The window is closing: the run gives up where it stands.
class Run_Abandoned : public std::runtime_error {
public:
    Run_Abandoned() : std::runtime_error("the upload was abandoned") {}
};

bool Is_Refusal_Of_Store(const FTP_Error& e) {
    return e.Command() == "STOR" && e.Code() >= 500 && e.Code() <= 599;
}

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
    : client_(client), files_(files), hooks_(std::move(hooks)) {
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
    std::lock_guard lock(mutex_);
    held_ = held;
    if (held)
        wake_requested_ = false;
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
        if (files_.Ever_Appended() && settings.Use_FTP)
            Send(settings);
    } catch (...) {
        // A failed run says nothing; the client's last status stays shown and
        // the next wake-up tries again.
    }
    TRH_FtpAfterRun();
}

void Upload_Worker::TRH_FtpAfterRun() {
    busy_ = false;
}

void Upload_Worker::Send(const Working_Settings& settings) {
    const auto started = Now();
    // Only a logged-in connection can store a picture: one left open after a
    // refused login is replaced.
    if (!client_.Is_Connected() || !client_.Logged_In()) {
        if (client_.Is_Connected())
            client_.Disconnect();
        client_.Set_Server(settings.FTP_Server);
        client_.Set_Credentials(settings.FTP_Login, settings.FTP_Password);
        Throw_If_Terminating();
        client_.Connect();
        Throw_If_Terminating();
        client_.Login();
    }
    const auto period = std::chrono::milliseconds(std::max(settings.Sampling_ms, 1));
    for (;;) {
        Throw_If_Terminating();
        if (!client_.Is_Connected())
            return;
        const auto taken = files_.Take_First_Unsent();
        if (!taken)
            return;
        const auto picture_started = Now();
        Send_One(settings, *taken);
        // The next picture follows in the same run only when it should be
        // done before a sampling period is over: a run still going at the
        // next tick would miss that tick's wake-up, and the backlog would
        // drain a tick in two.
        const auto now = Now();
        if (now - started + (now - picture_started) >= period)
            return;
        if (!hooks_.settings().Use_FTP)
            return;
    }
}

void Upload_Worker::Send_One(const Working_Settings& settings, const Upload_List::Taken& taken) {
    const TFichier& picture = taken.entry;
    try {
        const std::string current = Replace_All(client_.Get_Current_Dir(), "/", "");
        const std::string remote = Remote_Folder_Name(picture.Folder);
        if (!settings.Use_Same_File_Name && current != remote)
            Enter_Remote_Folder(remote);
        Throw_If_Terminating();
        if (hooks_.show_file)
            hooks_.show_file(picture.Name);
        if (!std::ifstream(picture.Path, std::ios::binary))
            throw Unreadable_Picture("cannot read " + picture.Path);
        client_.Put_File(picture.Path, picture.Name, false);
    } catch (const Unreadable_Picture&) {
        files_.Finish(taken.id);
        throw;
    } catch (const FTP_Error& e) {
        // Only the server's final word on this very picture drops it; any
        // other failure keeps it first in line for the next run.
        if (Is_Refusal_Of_Store(e))
            files_.Finish(taken.id);
        else
            files_.Put_Back(taken.id);
        throw;
    } catch (...) {
        files_.Put_Back(taken.id);
        throw;
    }
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
