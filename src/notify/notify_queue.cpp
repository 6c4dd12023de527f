#include "notify/notify_queue.h"

#include "base/file_helpers.h"
#include "base/text_helpers.h"
#include "notify/delivery_rules.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

namespace vistrel {

namespace {

constexpr char kTag[] = "N";

uint64_t Checksum(std::string_view text) {
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Number_Text(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string Date_Text(const Local_Date_Time& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%d-%d-%d-%d-%d-%d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

template <typename T> std::optional<T> Whole(std::string_view text) {
    T value{};
    const auto end = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || end.ec != std::errc() || end.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> Real(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size())
        return std::nullopt;
    return value;
}

std::optional<Local_Date_Time> Date(std::string_view text) {
    Local_Date_Time t;
    int* const parts[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second};
    for (size_t i = 0; i < 6; ++i) {
        const size_t dash = i < 5 ? text.find('-') : text.size();
        if (dash == std::string_view::npos)
            return std::nullopt;
        const std::optional<int> value = Whole<int>(text.substr(0, dash));
        if (!value)
            return std::nullopt;
        *parts[i] = *value;
        text.remove_prefix(std::min(text.size(), dash + 1));
    }
    return t;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == line.npos ? line.npos : tab - start));
        if (tab == line.npos)
            return fields;
        start = tab + 1;
    }
}

constexpr size_t kField_Count = 17;

} // namespace

std::string Target_Name(Notify_Target target) {
    switch (target) {
    case Notify_Target::Ntfy:
        return "ntfy";
    case Notify_Target::Webhook:
        return "webhook";
    case Notify_Target::Email:
        return "e-mail";
    case Notify_Target::Telegram:
        return "Telegram";
    }
    return "ntfy";
}

std::string Encode_Message_Line(const Queued_Message& m) {
    const Episode_Event& e = m.event;
    const std::string body =
        std::to_string(m.id) + "\t" + std::to_string(static_cast<int>(m.target)) + "\t" +
        std::to_string(m.created_s) + "\t" + std::to_string(static_cast<int>(e.moment)) + "\t" +
        std::to_string(static_cast<int>(e.kind)) + "\t" + Escape_Field(e.folder) + "\t" +
        Escape_Field(e.picture_path) + "\t" + Escape_Field(e.picture_name) + "\t" +
        Date_Text(e.time) + "\t" + std::to_string(e.utc_offset_s) + "\t" + Number_Text(e.level) +
        "\t" + std::to_string(e.pictures) + "\t" + Number_Text(e.duration_s) + "\t" +
        std::to_string(e.more_episodes) + "\t" + std::to_string(e.merged_episodes) + "\t" +
        Date_Text(e.first_time);
    return std::string(kTag) + "\t" + Hex(Checksum(body)) + "\t" + body + "\n";
}

std::optional<Queued_Message> Decode_Message_Line(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    const std::vector<std::string_view> f = Fields(line);
    if (f.size() != kField_Count + 1 || f[0] != kTag)
        return std::nullopt;
    const std::string_view body = line.substr(f[0].size() + 1 + f[1].size() + 1);
    if (f[1] != Hex(Checksum(body)))
        return std::nullopt;
    Queued_Message m;
    Episode_Event& e = m.event;
    const auto id = Whole<uint64_t>(f[2]);
    const auto target = Whole<int>(f[3]);
    const auto created = Whole<int64_t>(f[4]);
    const auto moment = Whole<int>(f[5]);
    const auto kind = Whole<int>(f[6]);
    const auto folder = Unescape_Field(f[7]);
    const auto path = Unescape_Field(f[8]);
    const auto name = Unescape_Field(f[9]);
    const auto time = Date(f[10]);
    const auto offset = Whole<int32_t>(f[11]);
    const auto level = Real(f[12]);
    const auto pictures = Whole<uint32_t>(f[13]);
    const auto duration = Real(f[14]);
    const auto more = Whole<uint32_t>(f[15]);
    const auto merged = Whole<uint32_t>(f[16]);
    const auto first = Date(f[17]);
    if (!id || !target || *target < 0 || *target > 3 || !created || !moment || *moment < 0 ||
        *moment > 1 || !kind || *kind < 0 || *kind > 1 || !folder || !path || !name || !time ||
        !offset || !level || !pictures || !duration || !more || !merged || !first)
        return std::nullopt;
    m.id = *id;
    m.target = static_cast<Notify_Target>(*target);
    m.created_s = *created;
    e.moment = static_cast<Event_Moment>(*moment);
    e.kind = static_cast<Episode_Kind>(*kind);
    e.folder = *folder;
    e.picture_path = *path;
    e.picture_name = *name;
    e.time = *time;
    e.utc_offset_s = *offset;
    e.level = *level;
    e.pictures = *pictures;
    e.duration_s = *duration;
    e.more_episodes = *more;
    e.merged_episodes = *merged;
    e.first_time = *first;
    return m;
}

std::vector<Queued_Message> Merge_Old_Messages(std::vector<Queued_Message> messages,
                                               int64_t now_s) {
    const int64_t limit =
        now_s - std::chrono::duration_cast<std::chrono::seconds>(kMerge_After).count();
    std::map<Notify_Target, std::vector<size_t>> old;
    for (size_t i = 0; i < messages.size(); ++i)
        if (messages[i].created_s <= limit)
            old[messages[i].target].push_back(i);
    std::vector<bool> gone(messages.size(), false);
    for (const auto& [target, indexes] : old) {
        if (indexes.size() < 2)
            continue;
        uint32_t episodes = 0;
        for (const size_t i : indexes) {
            const Episode_Event& e = messages[i].event;
            // End messages tell of an episode already counted by its start.
            if (e.merged_episodes > 0)
                episodes += e.merged_episodes;
            else if (e.moment == Event_Moment::Start)
                episodes += 1 + e.more_episodes;
        }
        Queued_Message& last = messages[indexes.back()];
        const Queued_Message& first = messages[indexes.front()];
        last.event.first_time =
            first.event.merged_episodes > 0 ? first.event.first_time : first.event.time;
        last.event.merged_episodes = std::max<uint32_t>(episodes, 1);
        for (size_t k = 0; k + 1 < indexes.size(); ++k)
            gone[indexes[k]] = true;
    }
    std::vector<Queued_Message> kept;
    for (size_t i = 0; i < messages.size(); ++i)
        if (!gone[i])
            kept.push_back(std::move(messages[i]));
    return kept;
}

Notify_Queue::Notify_Queue(std::string path) : path_(std::move(path)) {
    try {
        const std::string bytes = Read_Whole_File(path_).value_or("");
        size_t start = 0;
        while (start < bytes.size()) {
            size_t end = bytes.find('\n', start);
            if (end == std::string::npos)
                end = bytes.size();
            if (auto m = Decode_Message_Line(std::string_view(bytes).substr(start, end - start))) {
                next_id_ = std::max(next_id_, m->id + 1);
                messages_.push_back(std::move(*m));
            }
            start = end + 1;
        }
        std::sort(messages_.begin(), messages_.end(),
                  [](const Queued_Message& a, const Queued_Message& b) { return a.id < b.id; });
    } catch (...) {
    }
}

uint64_t Notify_Queue::Add(Notify_Target target, const Episode_Event& event, int64_t created_s) {
    const std::lock_guard lock(mutex_);
    Queued_Message m;
    m.id = next_id_++;
    m.target = target;
    m.created_s = created_s;
    m.event = event;
    messages_.push_back(std::move(m));
    Store();
    return messages_.back().id;
}

void Notify_Queue::Remove(uint64_t id) {
    const std::lock_guard lock(mutex_);
    const auto it = std::find_if(messages_.begin(), messages_.end(),
                                 [id](const Queued_Message& m) { return m.id == id; });
    if (it == messages_.end())
        return;
    messages_.erase(it);
    Store();
}

void Notify_Queue::Merge_Old(int64_t now_s) {
    const std::lock_guard lock(mutex_);
    const size_t before = messages_.size();
    messages_ = Merge_Old_Messages(std::move(messages_), now_s);
    if (messages_.size() != before)
        Store();
}

void Notify_Queue::Drop_Target(Notify_Target target) {
    const std::lock_guard lock(mutex_);
    const auto gone =
        std::remove_if(messages_.begin(), messages_.end(),
                       [target](const Queued_Message& m) { return m.target == target; });
    if (gone == messages_.end())
        return;
    messages_.erase(gone, messages_.end());
    Store();
}

std::vector<Queued_Message> Notify_Queue::Messages() const {
    const std::lock_guard lock(mutex_);
    return messages_;
}

size_t Notify_Queue::Size() const {
    const std::lock_guard lock(mutex_);
    return messages_.size();
}

void Notify_Queue::Store() noexcept {
    try {
        std::string bytes;
        for (const Queued_Message& m : messages_)
            bytes += Encode_Message_Line(m);
        Write_Private_File(path_, bytes);
    } catch (...) {
        // The messages stay in memory and the next change tries again.
    }
}

} // namespace vistrel
