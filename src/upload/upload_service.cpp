#include "upload/upload_service.h"

namespace vistrel {

Upload_Service::Upload_Service(std::unique_ptr<Ftp_Session> session, Upload_List& files,
                               Upload_Worker::Hooks hooks)
    : files_(files), session_(std::move(session)) {
    if (session_)
        worker_ = std::make_unique<Upload_Worker>(*session_, files_, std::move(hooks));
}

Upload_Service::~Upload_Service() {
    // A service dropped without a close must not wait on a stalled transfer
    // either.
    Close();
}

void Upload_Service::Open_Queue(const std::string& queue_file) {
    queue_ = std::make_unique<Upload_Queue_File>(queue_file, files_);
}

void Upload_Service::Wake() {
    if (worker_)
        worker_->Start();
}

void Upload_Service::Hold(bool held) {
    if (worker_)
        worker_->Hold(held);
}

void Upload_Service::Close() noexcept {
    if (!worker_)
        return;
    // No run starts any more, not even one woken just before the close.
    const bool running = worker_->Active();
    worker_->Terminate();
    if (running) {
        // ABOR and QUIT where a server listens; a connection still being set
        // up is cut without a word.
        session_->Abort_Transfer();
        session_->Disconnect();
    }
    // Whatever the run does next (a name lookup, a connect, a wait for a
    // reply) fails at once, so that the program ends without waiting for it.
    session_->Close_For_Good();
}

void Upload_Service::Cut() noexcept {
    if (!session_)
        return;
    session_->Abort_Transfer();
    session_->Disconnect();
    session_->Close_For_Good();
}

} // namespace vistrel
