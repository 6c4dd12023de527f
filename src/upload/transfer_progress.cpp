#include "upload/transfer_progress.h"

#include <algorithm>

namespace vistrel {

Transfer_Progress::Transfer_Progress(Deadline start, Milliseconds window, size_t minimum)
    : start_(start), window_(window), minimum_(std::max<size_t>(minimum, 1)) {}

void Transfer_Progress::Moved(size_t bytes, Deadline at) {
    if (bytes == 0)
        return;
    pieces_.emplace_back(at, bytes);
    held_ += bytes;
    // Older pieces no longer decide anything once the newer ones reach the
    // minimum by themselves.
    while (held_ - pieces_.front().second >= minimum_) {
        held_ -= pieces_.front().second;
        pieces_.pop_front();
    }
}

Deadline Transfer_Progress::Stalls_At() const {
    if (window_ < Milliseconds::zero())
        return Deadline::max();
    // The window ending at a moment t holds the minimum for as long as the
    // oldest piece needed to reach it lies inside: until that piece is a
    // whole window old. Before the first window is over nothing stalls.
    Deadline last_enough = start_;
    if (held_ >= minimum_)
        last_enough = std::max(start_, pieces_.front().first);
    return last_enough + window_;
}

} // namespace vistrel
