// What a message tells about an episode, and its words: the plain text every
// target shows and the JSON the webhook gets.
#pragma once

#include "recording/local_date_time.h"

#include <cstdint>
#include <string>

namespace vistrel {

enum class Event_Moment { Start, End };
enum class Episode_Kind { Motion, Continuous };

struct Episode_Event {
    Event_Moment moment = Event_Moment::Start;
    Episode_Kind kind = Episode_Kind::Motion;
    std::string folder;       // "RIDEV_2026_12_10/D0004"
    std::string picture_path; // the JPEG file sent with the message
    std::string picture_name; // "I_14_03_22__00012.jpg"
    Local_Date_Time time;     // local time of the picture
    int32_t utc_offset_s = 0; // of that local time
    double level = 0.0;       // the motion level; the highest, at the end
    // At the end only.
    uint32_t pictures = 0;
    double duration_s = 0.0;
    // Episodes that started within the cooldown before this message and had
    // none of their own.
    uint32_t more_episodes = 0;
    // A message standing for several that could not be delivered in time:
    // how many episodes, and the time of the first (`time` is the last's).
    uint32_t merged_episodes = 0;
    Local_Date_Time first_time;

    bool operator==(const Episode_Event&) const = default;
};

// "Motion at 14:03:22 — RIDEV_2026_12_10/D0004", "Recording at ...", "Motion
// ended at ...: 1 min 48 s, 540 pictures, highest level 37 %", and for a
// merged message "While Vistrel could not reach ntfy: 7 episodes between
// 14:03 and 14:40". `target` names the target for the merged words.
std::string Message_Text(const Episode_Event& event, const std::string& target);

// "2026-12-10T14:03:22+01:00".
std::string Iso_8601(const Local_Date_Time& time, int32_t utc_offset_s);

// The webhook's "event" part: event, kind, folder, picture, time, level, and
// at the end pictures and duration_s.
std::string Webhook_Json(const Episode_Event& event);

// A JSON string literal of `text`, quotes included.
std::string Json_String(const std::string& text);

} // namespace vistrel
