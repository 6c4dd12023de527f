#include "net/version_fetch.h"

#include "net/http_request.h"
#include "net/tcp_socket.h"

#include <mutex>
#include <thread>

namespace vistrel {

using Clock = std::chrono::steady_clock;

struct Version_Fetch::Shared {
    std::mutex mutex;
    bool dropped = false;
    Tcp_Socket* socket = nullptr; // the connection in use, to cut it short
    Done done;
};

namespace {

std::optional<std::string> Get(const std::string& url, std::chrono::milliseconds limit,
                               Version_Fetch::Shared* shared) {
    const auto deadline = Clock::now() + limit;
    const auto address = Parse_Http_Url(url);
    if (!address)
        return std::nullopt;
    for (const Endpoint& peer : Resolve(address->host, address->port)) {
        try {
            Tcp_Socket socket(peer.Family());
            if (shared != nullptr) {
                std::lock_guard lock(shared->mutex);
                if (shared->dropped)
                    return std::nullopt;
                shared->socket = &socket;
            }
            struct Forget {
                Version_Fetch::Shared* shared;
                ~Forget() {
                    if (shared != nullptr) {
                        std::lock_guard lock(shared->mutex);
                        shared->socket = nullptr;
                    }
                }
            } forget{shared};
            socket.Connect(peer, deadline);
            socket.Send_All(Version_Request(*address), deadline);
            Http_Response_Reader reader;
            char buffer[4096];
            for (;;) {
                const size_t got = socket.Receive(buffer, sizeof buffer, deadline);
                if (got == 0) {
                    reader.Finish();
                    break;
                }
                if (reader.Feed(buffer, got))
                    break;
            }
            // Only a success delivers a body; redirections are not followed.
            if (reader.Status() >= 200 && reader.Status() < 300)
                return reader.Body();
            return std::nullopt;
        } catch (const Http_Error&) {
            return std::nullopt;
        } catch (const Socket_Error&) {
            if (Clock::now() >= deadline)
                return std::nullopt;
            // The next address of the host may answer.
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> Http_Get_Body(const std::string& url, std::chrono::milliseconds limit) {
    try {
        return Get(url, limit, nullptr);
    } catch (...) {
        return std::nullopt;
    }
}

Version_Fetch::Version_Fetch(std::string url, std::chrono::milliseconds limit, Done done)
    : shared_(std::make_shared<Shared>()) {
    shared_->done = std::move(done);
    std::thread([shared = shared_, url = std::move(url), limit] {
        std::optional<std::string> body;
        try {
            body = Get(url, limit, shared.get());
        } catch (...) {
        }
        // Under the lock, so that a fetch being dropped never sees `done`
        // still running.
        std::lock_guard lock(shared->mutex);
        if (!shared->dropped && shared->done)
            shared->done(std::move(body));
    }).detach();
}

Version_Fetch::~Version_Fetch() {
    std::lock_guard lock(shared_->mutex);
    shared_->dropped = true;
    if (shared_->socket != nullptr)
        shared_->socket->Shutdown();
}

} // namespace vistrel
