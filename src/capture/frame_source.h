// Where the frames of the sampling tick come from. The program only needs to
// open the camera once, take one frame per tick and release the camera at the
// end; a backend for another platform implements the same three operations.
#pragma once

#include <QImage>
#include <stdexcept>

namespace vistrel {

// No frame could be had in this tick.
class Capture_Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Frame_Source {
public:
    virtual ~Frame_Source() = default;

    // Starts the camera. Reports nothing: without a camera every later grab
    // fails. Never blocks the caller for long and never throws.
    virtual void Open_Capture() noexcept = 0;

    // The newest frame as a QImage of Format_RGB32, or the previous one again
    // when none came since. Throws Capture_Error when no frame is to be had
    // (no camera, nothing received yet, or the camera is being reopened).
    virtual QImage Grab_Frame() = 0;

    // The caller is done with a frame it grabbed. A source may make the next
    // frame in its memory, when nobody else holds it by then.
    virtual void Take_Back(QImage /*frame*/) noexcept {}

    // Releases the camera. Never throws.
    virtual void Close_Capture() noexcept = 0;
};

} // namespace vistrel
