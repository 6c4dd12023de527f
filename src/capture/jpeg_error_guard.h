// How the program's calls into libjpeg fail. libjpeg reports a fatal error
// by calling error_exit, which must not return, from deep inside its C
// frames; a C++ exception must not cross those. So every function that calls
// libjpeg sets the guard's jump point first (`if (setjmp(guard.jump))`),
// holds no object with a destructor, and reports a failure by its result;
// its caller, outside, releases the libjpeg object and throws.
//
// Header only: the decoder of the camera's frames and the encoder of the
// recorded pictures live in different libraries, and both use it.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it needs its types.
#include <jerror.h>

namespace vistrel {

struct Jpeg_Error_Guard {
    // First, so that libjpeg's pointer to it is a pointer to the guard.
    jpeg_error_mgr pub{};
    std::jmp_buf jump{};
    // Why the call failed, in libjpeg's words.
    char message[JMSG_LENGTH_MAX]{};
    // Set when the call ended on a warning that the picture's data is damaged.
    bool damaged = false;
};

// The warnings that say part of the picture was never read: libjpeg goes on
// and fills that part with grey or garbage. Those about stray bytes between
// the segments are not among them: they are common in camera streams, and
// the picture is whole.
inline bool Is_Damage_Warning(int code) noexcept {
    switch (code) {
    case JWRN_HIT_MARKER:    // the data of the scan ends before the picture does
    case JWRN_JPEG_EOF:      // the data ends before the end marker
    case JWRN_HUFF_BAD_CODE: // a code no table has
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC: // lost its place between restart markers
        return true;
    default:
        return false;
    }
}

namespace jpeg_guard_detail {

inline Jpeg_Error_Guard& Guard_Of(j_common_ptr cinfo) noexcept {
    return *reinterpret_cast<Jpeg_Error_Guard*>(cinfo->err);
}

[[noreturn]] inline void Error_Exit(j_common_ptr cinfo) {
    Jpeg_Error_Guard& guard = Guard_Of(cinfo);
    (*cinfo->err->format_message)(cinfo, guard.message);
    std::longjmp(guard.jump, 1);
}

// Trace messages (level 0 and up) are dropped, and so is every warning: a
// damaged picture ends the call at once, the rest are harmless and nobody
// reads stderr.
inline void Emit_Message(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return;
    ++cinfo->err->num_warnings;
    if (!Is_Damage_Warning(cinfo->err->msg_code))
        return;
    Jpeg_Error_Guard& guard = Guard_Of(cinfo);
    guard.damaged = true;
    (*cinfo->err->format_message)(cinfo, guard.message);
    std::longjmp(guard.jump, 1);
}

} // namespace jpeg_guard_detail

// Fills in `guard` as the error manager of a libjpeg object; the result goes
// into its `err` before jpeg_create_compress or jpeg_create_decompress.
inline jpeg_error_mgr* Use_Guard(Jpeg_Error_Guard& guard) noexcept {
    jpeg_std_error(&guard.pub);
    guard.pub.error_exit = jpeg_guard_detail::Error_Exit;
    guard.pub.emit_message = jpeg_guard_detail::Emit_Message;
    guard.message[0] = '\0';
    guard.damaged = false;
    return &guard.pub;
}

} // namespace vistrel
