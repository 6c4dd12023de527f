// Everything that sends pictures: the session with the server, the worker
// that drains the queue, and the queue file that keeps the queue across
// runs. The sampling tick wakes it; the connection test holds it; the close
// ends it without waiting on a server.
#pragma once

#include "upload/ftp_session.h"
#include "upload/upload_list.h"
#include "upload/upload_queue_file.h"
#include "upload/upload_worker.h"

#include <memory>
#include <string>

namespace vistrel {

class Upload_Service {
public:
    // Without a session nothing is ever sent, but the queue is still kept.
    Upload_Service(std::unique_ptr<Ftp_Session> session, Upload_List& files,
                   Upload_Worker::Hooks hooks);
    ~Upload_Service();
    Upload_Service(const Upload_Service&) = delete;
    Upload_Service& operator=(const Upload_Service&) = delete;

    // Restores the queue an earlier run left, and keeps it from now on.
    void Open_Queue(const std::string& queue_file);

    // One run of the worker.
    void Wake();
    // While held, no run starts.
    void Hold(bool held);
    // No run starts any more; the one in progress is cut short, with ABOR
    // and QUIT where a server listens, and whatever it does next fails at
    // once. An idle connection is left as it is.
    void Close() noexcept;
    // Cuts whatever the session is doing for someone else (the connection
    // test), now and for good.
    void Cut() noexcept;

    bool Can_Send() const { return worker_ != nullptr; }
    // Null without a session.
    Upload_Worker* Worker() { return worker_.get(); }
    Ftp_Session* Session() { return session_.get(); }
    Upload_Queue_File* Queue() { return queue_.get(); }

private:
    Upload_List& files_;
    // Goes after the worker, which changes the list it keeps.
    std::unique_ptr<Upload_Queue_File> queue_;
    std::unique_ptr<Ftp_Session> session_;
    std::unique_ptr<Upload_Worker> worker_; // after the session, which it uses
};

} // namespace vistrel
