// A recording FTP session that the upload worker's thread and the test's may
// call at once, as the upload service and the connection test do: every call
// goes through one lock. Stores can be held at their start, so that a test
// keeps a run in progress for as long as it needs; an abort ends a held store
// with a failure, as a real client's abort does.
#pragma once

#include "support/fake_ftp_session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace vistrel::test {

class Locked_Session : public Ftp_Session {
public:
    std::vector<std::string> Calls() const {
        const std::lock_guard lock(mutex_);
        return inner_.calls;
    }

    // From now on each store waits before it begins, until Let_Stores_Go or
    // an abort, ten seconds at most.
    void Hold_Stores() {
        const std::lock_guard lock(mutex_);
        hold_stores_ = true;
    }
    void Let_Stores_Go() {
        const std::lock_guard lock(mutex_);
        hold_stores_ = false;
        changed_.notify_all();
    }
    // Whether a store started waiting within the limit.
    bool Wait_Until_A_Store_Waits(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return stores_waiting_ > 0; });
    }

    void Set_Server(const std::string& server) override {
        const std::lock_guard lock(mutex_);
        inner_.Set_Server(server);
    }
    void Set_Credentials(const std::string& user, const std::string& password) override {
        const std::lock_guard lock(mutex_);
        inner_.Set_Credentials(user, password);
    }
    bool Is_Connected() override {
        const std::lock_guard lock(mutex_);
        return inner_.Is_Connected();
    }
    bool Logged_In() const override {
        const std::lock_guard lock(mutex_);
        return inner_.Logged_In();
    }
    void Connect() override {
        const std::lock_guard lock(mutex_);
        inner_.Connect();
    }
    void Login() override {
        const std::lock_guard lock(mutex_);
        inner_.Login();
    }
    std::string Get_Current_Dir() override {
        const std::lock_guard lock(mutex_);
        return inner_.Get_Current_Dir();
    }
    void Change_Dir_Up() override {
        const std::lock_guard lock(mutex_);
        inner_.Change_Dir_Up();
    }
    void Change_Dir(const std::string& name) override {
        const std::lock_guard lock(mutex_);
        inner_.Change_Dir(name);
    }
    void Make_Dir(const std::string& name) override {
        const std::lock_guard lock(mutex_);
        inner_.Make_Dir(name);
    }
    void List_Dir() override {
        const std::lock_guard lock(mutex_);
        inner_.List_Dir();
    }
    // Never changed by the test while a run may read it.
    const std::vector<std::string>& List_Result() const override { return inner_.listing; }
    void Put_File(const std::string& local, const std::string& remote, bool append) override {
        std::unique_lock lock(mutex_);
        if (hold_stores_) {
            const unsigned aborts = aborts_;
            ++stores_waiting_;
            changed_.notify_all();
            // Never for ever: a test whose code forgets to abort fails
            // rather than hangs.
            changed_.wait_for(lock, std::chrono::seconds(10),
                              [&] { return !hold_stores_ || aborts_ != aborts; });
            --stores_waiting_;
            if (aborts_ != aborts)
                throw FTP_Error(0, "The transfer was aborted");
        }
        inner_.Put_File(local, remote, append);
    }
    void Abort_Transfer() noexcept override {
        const std::lock_guard lock(mutex_);
        inner_.Abort_Transfer();
        ++aborts_;
        changed_.notify_all();
    }
    void Disconnect() noexcept override {
        const std::lock_guard lock(mutex_);
        inner_.Disconnect();
    }
    void Close_For_Good() noexcept override {
        const std::lock_guard lock(mutex_);
        inner_.Close_For_Good();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Fake_Session inner_;
    bool hold_stores_ = false;
    int stores_waiting_ = 0;
    unsigned aborts_ = 0;
};

} // namespace vistrel::test
