// The frames of the last ticks before a motion episode, so that its folder
// opens with the moment that showed the motion rather than the tick after.
#pragma once

#include "detection/detection_area.h"
#include "recording/local_date_time.h"
#include "recording/storage_layout.h"

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace vistrel {

struct Captured_Frame {
    QImage frame; // as the measure saw it: hidden areas black, no stamp
    Local_Date_Time when;
    uint32_t tick = 0; // the tick count when it was taken
};

// The newest frames, up to a capacity. The frames are the camera's own,
// shared rather than copied.
class Pre_Capture_Ring {
public:
    // Drops the oldest frames beyond the new capacity.
    void Set_Capacity(size_t capacity);
    size_t Capacity() const { return capacity_; }

    // Keeps `frame`; returns the frame that dropped out for it, if any, so
    // the camera can make a later frame in its memory.
    QImage Push(QImage frame, const Local_Date_Time& when, uint32_t tick);
    // The frames kept, oldest first; the ring is empty after.
    std::vector<Captured_Frame> Take();
    void Clear() { frames_.clear(); }
    size_t Size() const { return frames_.size(); }
    // The pixel memory of the frames kept.
    size_t Bytes_Held() const;

private:
    size_t capacity_ = 0;
    std::deque<Captured_Frame> frames_;
};

// A frame from before the motion, named and numbered but maybe not written
// yet: writing many at once may wait for the next ticks.
struct Pending_Picture {
    Captured_Frame captured;
    Picture_Destination dest;
    uint32_t num_image = 0;
    bool is_trigger = false; // the frame that went over the threshold
};

// Blacks out the hide areas of the frame in place, so nothing after (the
// live picture, the stamp, the file, the upload, the measure) sees them.
void Black_Out_Hidden(QImage& frame, const std::vector<Detection_Area>& areas);

} // namespace vistrel
