// When a data connection counts as stalled. A limit on silence alone is
// defeated by a peer that trickles a byte now and then; this one asks for a
// least amount of data in every window of time, however it is spread.
#pragma once

#include "net/tcp_socket.h"

#include <cstddef>
#include <deque>
#include <utility>

namespace vistrel {

class Transfer_Progress {
public:
    // A transfer that began at `start` must move at least `minimum` bytes in
    // any `window`.
    Transfer_Progress(Deadline start, Milliseconds window, size_t minimum);

    void Moved(size_t bytes, Deadline at);

    // The moment the transfer stalls unless more moves before it.
    Deadline Stalls_At() const;

private:
    Deadline start_;
    Milliseconds window_;
    size_t minimum_;
    // The latest pieces, newest last: only as many as it takes to reach the
    // minimum.
    std::deque<std::pair<Deadline, size_t>> pieces_;
    size_t held_ = 0;
};

} // namespace vistrel
