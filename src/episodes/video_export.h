// One episode as a WebM video (VP8) at the pace its pictures were taken,
// made with GStreamer. The file appears under its name only when whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {

enum class Export_Outcome { Done, Cancelled, Failed };

struct Export_Result {
    Export_Outcome outcome = Export_Outcome::Failed;
    // Why it failed, in words for the user; empty otherwise.
    std::string error;
    // Pictures left out because they are not whole JPEG files; the one
    // before shows in their place.
    size_t skipped = 0;
};

// Pictures handed to the encoder so far, of all of them.
using Export_Progress = std::function<void(size_t done, size_t total)>;

// The time of each picture in milliseconds from the name's time of day
// ("I_14_05_09__00012.jpg"), in the given order. The names hold whole
// seconds: the pictures of one second are spread evenly over it. An episode
// that runs past midnight goes on counting. A name that does not parse takes
// the time of the one before.
std::vector<int64_t> Picture_Times_Ms(const std::vector<std::string>& file_names);

// How long each picture shows: until the next one, the last one for the
// median of those gaps (a second when there is only one picture). Times that
// do not increase are held at a millisecond each.
std::vector<int64_t> Picture_Durations_Ms(const std::vector<int64_t>& times_ms);

// Encodes the pictures, scaled to the first one's size when they differ, into
// a temporary beside out_path, renamed to out_path (replacing it) when
// complete. A picture that cannot be read fails the export (the episode is
// being deleted); one that is damaged is left out. Runs on the calling thread; `cancel` is read
// between pictures and while the encoder finishes. On cancel or failure nothing is left behind.
// Never throws.
Export_Result Export_Webm(const std::vector<std::string>& picture_paths,
                          const std::vector<int64_t>& times_ms, const std::string& out_path,
                          const Export_Progress& progress, const std::atomic<bool>& cancel);

// "Vistrel_2026_12_10_D0004.webm" for "RIDEV_2026_12_10" and "D0004" (with
// or without their trailing slashes).
std::string Default_Export_Name(const std::string& day_folder, const std::string& episode);

// Export_Webm on a thread of its own. The callbacks run on that thread.
// Destroying the job cancels it and waits for the thread.
class Video_Export_Job {
public:
    using Done = std::function<void(const Export_Result&)>;

    Video_Export_Job(std::vector<std::string> picture_paths, std::vector<int64_t> times_ms,
                     std::string out_path, Export_Progress progress, Done done);
    ~Video_Export_Job();
    Video_Export_Job(const Video_Export_Job&) = delete;
    Video_Export_Job& operator=(const Video_Export_Job&) = delete;

    void Cancel() noexcept { cancel_ = true; }

private:
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

} // namespace vistrel
