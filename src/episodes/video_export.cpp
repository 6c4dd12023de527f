#include "episodes/video_export.h"

#include "capture/gst_handles.h"
#include "episodes/thumbnail_decoder.h"
#include "recording/picture_names.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <stdlib.h>
#include <unistd.h>
#include <utility>

namespace vistrel {

namespace {

constexpr int64_t kSeconds_Per_Day = 24 * 60 * 60;
// The encoder's queue is kept short so that the progress bar follows what is
// encoded and a cancel does not wait for a long backlog.
constexpr guint64 kMax_Queued_Bytes = 4 * 1000 * 1000;
constexpr GstClockTime kPoll = 20 * GST_MSECOND;

void Init_Gstreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

std::string Without_Slash(std::string name) {
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

std::string Two_Digits(int value) {
    return std::string(value < 10 ? "0" : "") + std::to_string(value);
}

std::optional<std::string> Read_File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

std::string File_Name_Of(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// The temporary the encoder writes, gone unless kept.
class Temporary_File {
public:
    explicit Temporary_File(std::string path) : path_(std::move(path)) {}
    ~Temporary_File() {
        if (!kept_) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    Temporary_File(const Temporary_File&) = delete;
    Temporary_File& operator=(const Temporary_File&) = delete;

    const std::string& Path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

// Stopped on every path out, before the temporary is removed.
class Pipeline {
public:
    explicit Pipeline(gst::Element_Ptr pipeline)
        : pipeline_(std::move(pipeline)), bus_(gst_element_get_bus(pipeline_.get())) {}
    ~Pipeline() { Stop(); }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* Get() const { return pipeline_.get(); }
    GstElement* Child(const char* name) const {
        return gst_bin_get_by_name(GST_BIN(pipeline_.get()), name);
    }
    // The next end or error on the bus within `timeout`, if any.
    gst::Message_Ptr Pop(GstClockTime timeout) const {
        return gst::Message_Ptr(gst_bus_timed_pop_filtered(
            bus_.get(), timeout, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    }
    // Closes the file: the muxer's last writes land before this returns.
    void Stop() { gst_element_set_state(pipeline_.get(), GST_STATE_NULL); }

private:
    gst::Element_Ptr pipeline_;
    gst::Bus_Ptr bus_;
};

std::string Error_Words(GstMessage* message) {
    GError* raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    const gst::Error_Ptr error(raw);
    const std::string detail = error ? error->message : "unknown error";
    if (error && error->domain == GST_RESOURCE_ERROR) {
        if (error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT)
            return "The disk is full: the video could not be written.";
        if (error->code == GST_RESOURCE_ERROR_OPEN_WRITE || error->code == GST_RESOURCE_ERROR_WRITE)
            return "The video file could not be written: " + detail;
    }
    if (error && error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_DECODE)
        return "A picture of the episode is damaged and cannot be read: " + detail;
    return "The video could not be made: " + detail;
}

Export_Result Failed(std::string words) {
    return {Export_Outcome::Failed, std::move(words), 0};
}

// vp8enc's default rate is meant for small streams; about four bits a pixel
// a second keeps 640 x 480 at a few pictures a second sharp.
int Bitrate_For(QSize size) {
    return std::clamp(size.width() * size.height() * 4, 256 * 1000, 8 * 1000 * 1000);
}

std::unique_ptr<Pipeline> Make_Pipeline(QSize size, const std::string& file, std::string& error) {
    GError* raw = nullptr;
    GstElement* made = gst_parse_launch(
        "appsrc name=source format=time caps=image/jpeg ! jpegdec ! videoconvert ! videoscale"
        " ! capsfilter name=size ! vp8enc name=encoder deadline=1 cpu-used=4 timebase=1/1000"
        " ! webmmux ! filesink name=sink",
        &raw);
    const gst::Error_Ptr parse_error(raw);
    if (made == nullptr || parse_error) {
        if (made != nullptr)
            gst_object_unref(gst_object_ref_sink(made));
        error = "GStreamer cannot make WebM videos on this computer (its plugins vp8enc and "
                "webmmux are needed): " +
                std::string(parse_error ? parse_error->message : "no pipeline");
        return nullptr;
    }
    auto pipeline = std::make_unique<Pipeline>(gst::Adopt(made));
    const gst::Element_Ptr filter(pipeline->Child("size"));
    const gst::Caps_Ptr caps(
        gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, size.width(), "height", G_TYPE_INT,
                            size.height(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    g_object_set(filter.get(), "caps", caps.get(), nullptr);
    const gst::Element_Ptr encoder(pipeline->Child("encoder"));
    g_object_set(encoder.get(), "target-bitrate", Bitrate_For(size), nullptr);
    const gst::Element_Ptr sink(pipeline->Child("sink"));
    g_object_set(sink.get(), "location", file.c_str(), nullptr);
    return pipeline;
}

std::optional<std::string> Make_Temporary(const std::string& out_path, std::string& error) {
    std::string name = out_path + ".XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        const std::string folder = std::filesystem::path(out_path).parent_path().string();
        error = "The video cannot be written in the folder " + (folder.empty() ? "." : folder) +
                ": " + std::strerror(errno);
        return std::nullopt;
    }
    close(fd);
    return name;
}

// Pushes one picture, once the encoder has room for it. Fills `result` and
// returns false when the export ends here.
bool Push_Picture(const Pipeline& pipeline, GstAppSrc* source, const std::string& path,
                  GstClockTime pts, GstClockTime duration, const std::atomic<bool>& cancel,
                  Export_Result& result) {
    while (true) {
        if (cancel) {
            result.outcome = Export_Outcome::Cancelled;
            return false;
        }
        const bool full = gst_app_src_get_current_level_bytes(source) > kMax_Queued_Bytes;
        if (const gst::Message_Ptr message = pipeline.Pop(full ? kPoll : 0)) {
            result.outcome = Export_Outcome::Failed;
            result.error = GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR
                               ? Error_Words(message.get())
                               : "The video ended before its last picture.";
            return false;
        }
        if (!full)
            break;
    }
    const std::optional<std::string> bytes = Read_File(path);
    if (!bytes) {
        result.outcome = Export_Outcome::Failed;
        result.error = "The picture " + File_Name_Of(path) + " could not be read.";
        return false;
    }
    // The decoder would give up on the whole video after a few of these.
    if (!Read_Jpeg_Size(*bytes).isValid()) {
        ++result.skipped;
        return true;
    }
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes->size(), nullptr);
    gst_buffer_fill(buffer, 0, bytes->data(), bytes->size());
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = duration;
    if (gst_app_src_push_buffer(source, buffer) != GST_FLOW_OK) {
        result.outcome = Export_Outcome::Failed;
        result.error = "The video could not be made: the encoder stopped.";
        return false;
    }
    return true;
}

Export_Result Finish(const Pipeline& pipeline, GstAppSrc* source, const std::atomic<bool>& cancel) {
    gst_app_src_end_of_stream(source);
    while (!cancel) {
        if (const gst::Message_Ptr message = pipeline.Pop(kPoll)) {
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR)
                return Failed(Error_Words(message.get()));
            return {Export_Outcome::Done, {}, 0};
        }
    }
    return {Export_Outcome::Cancelled, {}, 0};
}

Export_Result Export(const std::vector<std::string>& picture_paths,
                     const std::vector<int64_t>& times_ms, const std::string& out_path,
                     const Export_Progress& progress, const std::atomic<bool>& cancel) {
    if (picture_paths.empty())
        return Failed("The episode has no pictures.");
    if (times_ms.size() != picture_paths.size())
        return Failed("The episode's pictures and their times do not match.");
    const std::optional<std::string> first = Read_File(picture_paths.front());
    const QSize size = first ? Read_Jpeg_Size(*first) : QSize();
    if (!size.isValid() || size.isEmpty())
        return Failed("The picture " + File_Name_Of(picture_paths.front()) + " could not be read.");

    std::string error;
    const std::optional<std::string> temporary_name = Make_Temporary(out_path, error);
    if (!temporary_name)
        return Failed(error);
    Temporary_File temporary(*temporary_name);

    Init_Gstreamer();
    const std::unique_ptr<Pipeline> pipeline = Make_Pipeline(size, temporary.Path(), error);
    if (!pipeline)
        return Failed(error);
    const gst::Element_Ptr source_element(pipeline->Child("source"));
    GstAppSrc* source = GST_APP_SRC(source_element.get());
    if (gst_element_set_state(pipeline->Get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        const gst::Message_Ptr message = pipeline->Pop(0);
        return Failed(message ? Error_Words(message.get())
                              : "The video could not be made: GStreamer did not start.");
    }

    const std::vector<int64_t> durations = Picture_Durations_Ms(times_ms);
    GstClockTime pts = 0;
    Export_Result result;
    for (size_t i = 0; i < picture_paths.size(); ++i) {
        const GstClockTime duration = static_cast<GstClockTime>(durations[i]) * GST_MSECOND;
        if (!Push_Picture(*pipeline, source, picture_paths[i], pts, duration, cancel, result))
            return result;
        pts += duration;
        if (progress)
            progress(i + 1, picture_paths.size());
    }
    const size_t skipped = result.skipped;
    result = Finish(*pipeline, source, cancel);
    result.skipped = skipped;
    if (result.outcome != Export_Outcome::Done)
        return result;
    pipeline->Stop();

    std::error_code renamed;
    std::filesystem::rename(temporary.Path(), out_path, renamed);
    if (renamed)
        return Failed("The video could not be saved as " + out_path + ": " + renamed.message());
    temporary.Keep();
    return result;
}

} // namespace

std::vector<int64_t> Picture_Times_Ms(const std::vector<std::string>& file_names) {
    // The second of each picture since the first one's midnight.
    std::vector<int64_t> seconds;
    seconds.reserve(file_names.size());
    int64_t day_start = 0;
    for (const std::string& name : file_names) {
        const std::optional<Picture_Name_Parts> parts = Parse_Picture_Name(name);
        if (!parts) {
            seconds.push_back(seconds.empty() ? 0 : seconds.back());
            continue;
        }
        int64_t second = day_start + parts->hour * 3600 + parts->minute * 60 + parts->second;
        if (!seconds.empty() && second < seconds.back()) {
            day_start += kSeconds_Per_Day;
            second += kSeconds_Per_Day;
        }
        seconds.push_back(second);
    }
    std::vector<int64_t> times(seconds.size());
    for (size_t begin = 0; begin < seconds.size();) {
        size_t end = begin;
        while (end < seconds.size() && seconds[end] == seconds[begin])
            ++end;
        const auto count = static_cast<int64_t>(end - begin);
        for (size_t i = begin; i < end; ++i)
            times[i] = seconds[i] * 1000 + static_cast<int64_t>(i - begin) * 1000 / count;
        begin = end;
    }
    return times;
}

std::vector<int64_t> Picture_Durations_Ms(const std::vector<int64_t>& times_ms) {
    std::vector<int64_t> durations;
    if (times_ms.empty())
        return durations;
    for (size_t i = 0; i + 1 < times_ms.size(); ++i)
        durations.push_back(std::max<int64_t>(1, times_ms[i + 1] - times_ms[i]));
    if (durations.empty()) {
        durations.push_back(1000);
        return durations;
    }
    std::vector<int64_t> sorted = durations;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    durations.push_back(sorted[sorted.size() / 2]);
    return durations;
}

Export_Result Export_Webm(const std::vector<std::string>& picture_paths,
                          const std::vector<int64_t>& times_ms, const std::string& out_path,
                          const Export_Progress& progress, const std::atomic<bool>& cancel) {
    try {
        return Export(picture_paths, times_ms, out_path, progress, cancel);
    } catch (const std::exception& e) {
        return Failed(std::string("The video could not be made: ") + e.what());
    } catch (...) {
        return Failed("The video could not be made.");
    }
}

std::string Default_Export_Name(const std::string& day_folder, const std::string& episode) {
    const std::string episode_name = Without_Slash(episode);
    const std::optional<Day_Folder_Parts> day = Parse_Day_Folder_Name(Without_Slash(day_folder));
    if (!day)
        return "Vistrel_" + episode_name + ".webm";
    return "Vistrel_" + std::to_string(day->year) + "_" + Two_Digits(day->month) + "_" +
           Two_Digits(day->day) + "_" + episode_name + ".webm";
}

Video_Export_Job::Video_Export_Job(std::vector<std::string> picture_paths,
                                   std::vector<int64_t> times_ms, std::string out_path,
                                   Export_Progress progress, Done done)
    : thread_([this, paths = std::move(picture_paths), times = std::move(times_ms),
               out = std::move(out_path), progress = std::move(progress), done = std::move(done)] {
          const Export_Result result = Export_Webm(paths, times, out, progress, cancel_);
          if (done) {
              try {
                  done(result);
              } catch (...) {
                  // Nobody is left on this thread to tell.
              }
          }
      }) {}

Video_Export_Job::~Video_Export_Job() {
    Cancel();
    if (thread_.joinable())
        thread_.join();
}

} // namespace vistrel
