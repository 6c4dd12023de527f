// Fetches the version file on a thread of its own, so that a slow or dead web
// server never stops the window (and with it sampling and recording).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vistrel {

// The body of a 2xx answer to one GET of an http address, within `limit` in
// all; nothing on any failure (no connection, error or redirection answer,
// unreadable answer, time-out). Blocks the calling thread.
std::optional<std::string> Http_Get_Body(const std::string& url, std::chrono::milliseconds limit);

class Version_Fetch {
public:
    using Done = std::function<void(std::optional<std::string> body)>;

    // Starts the request; `done` is called once, on the fetching thread, unless
    // the fetch was dropped before it finished.
    Version_Fetch(std::string url, std::chrono::milliseconds limit, Done done);

    // Drops the fetch: `done` will not be called, the connection is cut and
    // the thread ends by itself.
    ~Version_Fetch();

    Version_Fetch(const Version_Fetch&) = delete;
    Version_Fetch& operator=(const Version_Fetch&) = delete;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace vistrel
