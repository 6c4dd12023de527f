// The messages not delivered yet, per target, kept in "notify_queue" in the
// data folder (owner only: the file names the pictures and folders) so that
// a message outlives an outage, a restart, a crash or a power cut. The file
// is small, a line per message each with a checksum, and is replaced in one
// flushed step at every change.
#pragma once

#include "notify/episode_event.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

inline constexpr const char* kNotify_Queue_File_Name = "notify_queue";

enum class Notify_Target { Ntfy, Webhook, Email, Telegram };

// "ntfy", "webhook", "e-mail", "Telegram": the words a message or a notice
// names the target with.
std::string Target_Name(Notify_Target target);

struct Queued_Message {
    uint64_t id = 0;
    Notify_Target target = Notify_Target::Ntfy;
    int64_t created_s = 0; // seconds since the epoch, when it was queued
    Episode_Event event;

    bool operator==(const Queued_Message&) const = default;
};

// One line of the file, and back; a line torn or garbled reads as nothing.
std::string Encode_Message_Line(const Queued_Message& message);
std::optional<Queued_Message> Decode_Message_Line(std::string_view line);

// Messages of one target older than kMerge_After at `now_s` become one, with
// the count of their episodes, the first one's time and the last one's
// picture. Newer messages stay as they are. Order by id is kept.
std::vector<Queued_Message> Merge_Old_Messages(std::vector<Queued_Message> messages, int64_t now_s);

// Thread-safe: the tick adds, the worker takes and removes.
class Notify_Queue {
public:
    // Reads what an earlier run left at `path`. Never throws for the file's
    // sake: without a usable file the queue lives in memory.
    explicit Notify_Queue(std::string path);

    uint64_t Add(Notify_Target target, const Episode_Event& event, int64_t created_s);
    void Remove(uint64_t id);
    // Merges the old messages, as Merge_Old_Messages.
    void Merge_Old(int64_t now_s);
    std::vector<Queued_Message> Messages() const;
    size_t Size() const;
    // Drops every message of a target, as when it refuses for good.
    void Drop_Target(Notify_Target target);

private:
    void Store() noexcept;

    std::string path_;
    mutable std::mutex mutex_;
    std::vector<Queued_Message> messages_;
    uint64_t next_id_ = 1;
};

} // namespace vistrel
