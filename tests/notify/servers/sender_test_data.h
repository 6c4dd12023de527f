// What the tests of the senders send: a picture whose bytes a careless
// transfer would change, the events about it, and the environment variables
// the senders read, set for one test only.
#pragma once

#include "notify/episode_event.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace vistrel::test {

// Every byte value, line ends of all kinds, lone NULs and a fake multipart
// delimiter, between a JPEG's first and last marker.
inline std::string Awkward_Picture_Bytes() {
    std::string bytes = "\xff\xd8\xff\xe0";
    for (int round = 0; round < 64; ++round) {
        for (int value = 0; value < 256; ++value)
            bytes += static_cast<char>((value + round) % 256);
        bytes += "\r\n--------------------------boundary\r\n\r\n.\r\n\n\r";
    }
    bytes += std::string(3, '\0');
    return bytes + "\xff\xd9";
}

inline Episode_Event Start_Event(const std::string& picture_path) {
    Episode_Event e;
    e.folder = "RIDEV_2026_12_10/D0004";
    e.picture_path = picture_path;
    e.picture_name = "I_14_03_22__00012.jpg";
    e.time = {2026, 12, 10, 14, 3, 22};
    e.utc_offset_s = 3600;
    e.level = 37.5;
    return e;
}

inline Episode_Event End_Event(const std::string& picture_path) {
    Episode_Event e = Start_Event(picture_path);
    e.moment = Event_Moment::End;
    e.picture_name = "I_14_05_10__00552.jpg";
    e.time = {2026, 12, 10, 14, 5, 10};
    e.level = 81.25;
    e.pictures = 540;
    e.duration_s = 108.5;
    return e;
}

// A picture on disk for the senders to send.
struct Picture_On_Disk {
    Picture_On_Disk() { dir.Write("I_14_03_22__00012.jpg", bytes); }
    std::string Path() const { return dir.File("I_14_03_22__00012.jpg"); }

    Temp_Dir dir;
    std::string bytes = Awkward_Picture_Bytes();
};

// One environment variable set, or unset, for the life of the object.
class Scoped_Env {
public:
    Scoped_Env(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        Set(value);
    }
    ~Scoped_Env() { Set(old_); }
    Scoped_Env(const Scoped_Env&) = delete;
    Scoped_Env& operator=(const Scoped_Env&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(name_, value->c_str(), 1);
        else
            ::unsetenv(name_);
    }

    const char* name_;
    std::optional<std::string> old_;
};

} // namespace vistrel::test
