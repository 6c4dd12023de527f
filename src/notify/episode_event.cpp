#include "notify/episode_event.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vistrel {

namespace {

std::string Two(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string Clock_Time(const Local_Date_Time& t) {
    return Two(t.hour) + ":" + Two(t.minute) + ":" + Two(t.second);
}

std::string Duration_Text(double seconds) {
    const auto whole = static_cast<long long>(std::llround(std::max(seconds, 0.0)));
    if (whole < 60)
        return std::to_string(whole) + " s";
    if (whole < 3600)
        return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
    return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
}

// A number as JSON writes it: no exponent for the values a level or a
// duration takes, at most two decimals.
std::string Json_Number(double value) {
    if (!std::isfinite(value))
        return "0";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string s = text;
    while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.')) {
        const bool dot = s.back() == '.';
        s.pop_back();
        if (dot)
            break;
    }
    return s;
}

} // namespace

std::string Message_Text(const Episode_Event& e, const std::string& target) {
    if (e.merged_episodes > 0)
        return "While Vistrel could not reach " + target + ": " +
               std::to_string(e.merged_episodes) +
               (e.merged_episodes == 1 ? " episode" : " episodes") + " between " +
               Two(e.first_time.hour) + ":" + Two(e.first_time.minute) + " and " +
               Two(e.time.hour) + ":" + Two(e.time.minute);
    const std::string where = Clock_Time(e.time) + " \u2014 " + e.folder;
    if (e.moment == Event_Moment::End)
        return "Motion ended at " + where + ": " + Duration_Text(e.duration_s) + ", " +
               std::to_string(e.pictures) + (e.pictures == 1 ? " picture" : " pictures") +
               ", highest level " + std::to_string(std::lround(e.level)) + " %";
    std::string text = (e.kind == Episode_Kind::Motion ? "Motion at " : "Recording at ") + where;
    if (e.more_episodes > 0)
        text += " (" + std::to_string(e.more_episodes) +
                (e.more_episodes == 1 ? " more episode" : " more episodes") +
                " since the last message)";
    return text;
}

std::string Iso_8601(const Local_Date_Time& t, int32_t utc_offset_s) {
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02dT", t.year, t.month, t.day);
    const int32_t minutes = std::abs(utc_offset_s) / 60;
    return date + Clock_Time(t) + (utc_offset_s < 0 ? "-" : "+") + Two(minutes / 60) + ":" +
           Two(minutes % 60);
}

std::string Json_String(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Webhook_Json(const Episode_Event& e) {
    std::string json =
        "{\"event\":" + Json_String(e.moment == Event_Moment::End ? "end" : "start") +
        ",\"kind\":" + Json_String(e.kind == Episode_Kind::Motion ? "motion" : "continuous") +
        ",\"folder\":" + Json_String(e.folder) + ",\"picture\":" + Json_String(e.picture_name) +
        ",\"time\":" + Json_String(Iso_8601(e.time, e.utc_offset_s)) +
        ",\"level\":" + Json_Number(e.level);
    if (e.moment == Event_Moment::End)
        json += ",\"pictures\":" + std::to_string(e.pictures) +
                ",\"duration_s\":" + Json_Number(e.duration_s);
    return json + "}";
}

} // namespace vistrel
