// The background worker that copies recorded pictures to the FTP server,
// oldest first, each into a remote folder named after its local episode
// folder. The sampling tick wakes it; it never runs on its own. A run sends
// the pictures waiting one after the other for at most one sampling period,
// so that a backlog left by an outage drains while recording goes on.
//
// A picture the server refuses (its name, its folder) waits for the next run
// while the run goes on with those behind it; refused on three runs, it
// leaves the queue and is listed in upload_refused. A server that refuses us
// (its certificate or host key, the login) is left alone for a while, longer
// at each refusal in a row.
#pragma once

#include "net/tcp_socket.h"
#include "settings/working_settings.h"
#include "upload/ftp_session.h"
#include "upload/refusal_backoff.h"
#include "upload/refused_pictures.h"
#include "upload/upload_list.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {

// "RIDEV_2024_03_07/D0003/" gives "RIDEV_2024_03_07_D0003".
std::string Remote_Folder_Name(const std::string& folder);

// Whether a Unix long listing holds a directory of exactly that name.
bool Listing_Has_Folder(const std::vector<std::string>& lines, const std::string& name);

class Upload_Worker {
public:
    struct Hooks {
        // A consistent copy of the working settings.
        std::function<Working_Settings()> settings;
        // Shows the name of the picture being sent; called on the worker's
        // thread.
        std::function<void(const std::string&)> show_file;
        // The time that limits a run to one sampling period; the steady
        // clock when not given.
        std::function<Steady_Clock::time_point()> now = nullptr;
        // Where the pictures refused for good are listed; nowhere when empty.
        std::string refused_file = {};
    };

    // Refused on this many runs, a picture leaves the queue.
    static constexpr uint32_t kRefusals_Before_Giving_Up = 3;

    Upload_Worker(Ftp_Session& client, Upload_List& files, Hooks hooks);
    ~Upload_Worker();
    Upload_Worker(const Upload_Worker&) = delete;
    Upload_Worker& operator=(const Upload_Worker&) = delete;

    // The wake-up: one run, unless a run is in progress or runs are held;
    // wake-ups are not counted.
    void Start();

    // A run is in progress, or woken and about to begin: from Start() on,
    // whoever waits for the run's end cannot miss it by looking too early.
    bool Active() const;

    // From the start of a run to its end.
    bool FTP_Busy() const { return busy_; }

    // While held, no run starts (the connection test owns the client). A
    // connection the holder leaves open is not used: the worker opens its
    // own.
    void Hold(bool held);

    // The connection test got through: the wait after a refusal ends.
    void Connection_Test_Succeeded();

    // Whether runs leave the server alone after it refused us.
    bool Waiting_After_Refusal() const;

    // The pictures the server refused for good, upload_refused's earlier
    // ones included.
    size_t Refused_Count() const { return refused_.Count(); }

    // The thread ends once the run in progress returns; the run gives up at
    // its next step.
    void Terminate();

    // One run on the calling thread, ended by its after-step whichever way it
    // ended.
    void TRH_FtpRun();

private:
    // Takes the busy mark away at the end of every run.
    void TRH_FtpAfterRun();
    void Thread_Loop();
    // What the open connection was made for.
    struct Server_Identity {
        std::string server;
        std::string login;
        std::string password;
        bool operator==(const Server_Identity&) const = default;
    };
    // A change of the server, the login or the password ends the wait after
    // a refusal and closes a connection made before it, before anything
    // else goes out on it. Whether they changed.
    bool Follow_Settings(const Working_Settings& settings);
    void Send(const Working_Settings& settings);
    // Folders the server refused during this run, asked no more.
    using Refused_Folders = std::set<std::string>;
    void Send_One(const Working_Settings& settings, const Upload_List::Taken& taken,
                  Refused_Folders& refused_folders);
    void Count_Refusal(const Upload_List::Taken& taken);
    void Enter_Remote_Folder(const std::string& remote);
    void Throw_If_Terminating() const;
    Steady_Clock::time_point Now() const;

    Ftp_Session& client_;
    Upload_List& files_;
    Hooks hooks_;
    Refused_Pictures refused_;

    mutable std::mutex server_mutex_; // guards what follows
    Refusal_Backoff backoff_;
    std::optional<Server_Identity> identity_; // of the last run
    bool own_connection_ = false;             // the open one was made by a run, for identity_

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool wake_requested_ = false;
    bool running_ = false;
    bool held_ = false;
    std::atomic<bool> terminating_{false};
    std::atomic<bool> busy_{false};
    std::thread thread_;
};

} // namespace vistrel
