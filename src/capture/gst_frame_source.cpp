#include "capture/gst_frame_source.h"

#include <QtGlobal>
#include <cstdlib>
#include <gst/app/gstappsink.h>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace vistrel {

namespace {

constexpr const char* kSink_Name = "vistrel_sink";
constexpr const char* kStop_Message = "vistrel-stop";

void Init_Gstreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

// The camera's own format reaches the sink untouched (see the converter), and
// only the newest frame is kept: a tick wants what the camera sees now.
void Configure_Sink(GstElement* sink) {
    const gst::Caps_Ptr caps(gst_caps_from_string("video/x-raw; image/jpeg"));
    gst_app_sink_set_caps(GST_APP_SINK(sink), caps.get());
    gst_app_sink_set_max_buffers(GST_APP_SINK(sink), 1);
    gst_app_sink_set_drop(GST_APP_SINK(sink), TRUE);
    // Without these the sink would pace frames to the clock and hold one more
    // buffer of the camera's small pool.
    g_object_set(sink, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
}

std::string Error_Text(GError* error, const char* what) {
    return std::string(what) + (error != nullptr ? std::string(": ") + error->message : "");
}

gst::Element_Ptr Parse_Pipeline(const std::string& description) {
    const std::string text = description + " ! appsink name=" + kSink_Name;
    GError* raw_error = nullptr;
    gst::Element_Ptr pipeline = gst::Adopt(
        gst_parse_launch_full(text.c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &raw_error));
    const gst::Error_Ptr error(raw_error);
    if (!pipeline || error)
        throw std::runtime_error(Error_Text(error.get(), "camera description not usable"));
    if (!GST_IS_BIN(pipeline.get()))
        throw std::runtime_error("camera description not usable");
    return pipeline;
}

gst::Element_Ptr First_Camera() {
    const gst::Device_Monitor_Ptr monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    gst::Element_Ptr source = gst::Adopt(
        devices ? gst_device_create_element(GST_DEVICE(devices->data), nullptr) : nullptr);
    g_list_free_full(devices, gst_object_unref);
    if (!source)
        throw std::runtime_error("no camera found");
    return source;
}

gst::Element_Ptr Device_Pipeline() {
    gst::Element_Ptr source = First_Camera();
    gst::Element_Ptr pipeline = gst::Adopt(gst_pipeline_new(nullptr));
    gst::Element_Ptr sink = gst::Adopt(gst_element_factory_make("appsink", kSink_Name));
    if (!pipeline || !sink)
        throw std::runtime_error("GStreamer has no appsink");
    gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), sink.get(), nullptr);
    if (!gst_element_link(source.get(), sink.get()))
        throw std::runtime_error("the camera gives neither raw video nor JPEG");
    return pipeline;
}

// One attempt at running the camera. Setting a v4l2 pipeline to NULL can
// wait on the driver, so only the pipeline thread ever holds one.
class Pipeline {
public:
    explicit Pipeline(const std::string& description)
        : pipeline_(description.empty() ? Device_Pipeline() : Parse_Pipeline(description)),
          sink_(gst_bin_get_by_name(GST_BIN(pipeline_.get()), kSink_Name)),
          bus_(gst_element_get_bus(pipeline_.get())) {
        if (!sink_ || !GST_IS_APP_SINK(sink_.get()))
            throw std::runtime_error("camera description names its own sink");
        Configure_Sink(sink_.get());
        if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            const std::string why = Next_Failure(0);
            gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
            throw std::runtime_error(why.empty() ? "camera could not be started" : why);
        }
    }
    ~Pipeline() { gst_element_set_state(pipeline_.get(), GST_STATE_NULL); }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* Sink() const { return sink_.get(); }
    GstBus* Bus() const { return bus_.get(); }

    // Waits for an error, the end of the stream or the stop message; says
    // which, empty for the stop.
    std::string Wait_For_End() { return Next_Failure(GST_CLOCK_TIME_NONE); }

private:
    std::string Next_Failure(GstClockTime timeout) {
        const auto kinds =
            GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_APPLICATION);
        for (;;) {
            const gst::Message_Ptr message(gst_bus_timed_pop_filtered(bus_.get(), timeout, kinds));
            if (!message)
                return "camera could not be started";
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS)
                return "camera stream ended";
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
                GError* raw_error = nullptr;
                gst_message_parse_error(message.get(), &raw_error, nullptr);
                const gst::Error_Ptr error(raw_error);
                return Error_Text(error.get(), "camera error");
            }
            const GstStructure* s = gst_message_get_structure(message.get());
            if (s != nullptr && gst_structure_has_name(s, kStop_Message))
                return {};
        }
    }

    gst::Element_Ptr pipeline_;
    gst::Element_Ptr sink_;
    gst::Bus_Ptr bus_;
};

} // namespace

std::string Gst_Frame_Source::Default_Description() {
    const char* camera = std::getenv("VISTREL_CAMERA");
    return camera != nullptr ? camera : "";
}

std::vector<Camera_Option> Gst_Frame_Source::List_Cameras() {
    Init_Gstreamer();
    std::vector<Camera_Option> cameras;
    const gst::Device_Monitor_Ptr monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    for (GList* at = devices; at != nullptr; at = at->next) {
        GstDevice* device = GST_DEVICE(at->data);
        GstStructure* props = gst_device_get_properties(device);
        const char* path = nullptr;
        if (props != nullptr) {
            path = gst_structure_get_string(props, "api.v4l2.path");
            if (path == nullptr)
                path = gst_structure_get_string(props, "device.path");
        }
        // Only devices a description can name again after a restart.
        if (path != nullptr) {
            gchar* name = gst_device_get_display_name(device);
            cameras.push_back(
                {name != nullptr ? name : path, std::string("v4l2src device=\"") + path + "\""});
            g_free(name);
        }
        if (props != nullptr)
            gst_structure_free(props);
    }
    g_list_free_full(devices, gst_object_unref);
    return cameras;
}

Gst_Frame_Source::Gst_Frame_Source(std::string description, std::chrono::milliseconds reopen_delay)
    : description_(std::move(description)), reopen_delay_(reopen_delay) {
    Init_Gstreamer();
}

Gst_Frame_Source::~Gst_Frame_Source() {
    Close_Capture();
}

void Gst_Frame_Source::Open_Capture() noexcept {
    if (pipelines_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    try {
        pipelines_ = std::thread([this] { Run_Pipelines(); });
    } catch (const std::system_error&) {
        // No thread, no camera: every grab fails, as without a device.
    }
}

void Gst_Frame_Source::Close_Capture() noexcept {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        if (bus_)
            gst_bus_post(bus_.get(), gst_message_new_application(
                                         nullptr, gst_structure_new_empty(kStop_Message)));
    }
    stop_requested_.notify_all();
    if (pipelines_.joinable())
        pipelines_.join();
    last_sample_.reset();
    converter_.Take_Back(QImage());
}

QImage Gst_Frame_Source::Grab_Frame() {
    gst::Element_Ptr sink;
    uint64_t generation = 0;
    {
        const std::lock_guard lock(mutex_);
        sink = gst::Share(sink_.get());
        generation = generation_;
    }
    if (!sink)
        throw Capture_Error("camera not running");
    // A frame from before a reopen may be long out of date.
    if (generation != last_frame_generation_) {
        last_sample_.reset();
        last_frame_generation_ = generation;
    }
    if (gst::Sample_Ptr sample{gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 0)})
        last_sample_ = std::move(sample);
    if (!last_sample_)
        throw Capture_Error("no frame from the camera yet");
    // The sample is kept rather than the picture, so that every frame handed
    // out has no other owner: the tick then stamps it in place instead of
    // copying it first. A repeated frame is converted again, which only
    // happens when the camera is slower than the sampling.
    try {
        return converter_.Convert(last_sample_.get());
    } catch (const std::exception& e) {
        throw Capture_Error(e.what());
    }
}

void Gst_Frame_Source::Run_Pipelines() {
    std::string last_complaint;
    for (;;) {
        std::string complaint;
        try {
            Pipeline pipeline(description_);
            if (!Publish(pipeline.Sink(), pipeline.Bus()))
                return;
            complaint = pipeline.Wait_For_End();
            Withdraw();
        } catch (const std::exception& e) {
            complaint = e.what();
        }
        if (complaint.empty())
            return;
        // A camera that stays away would otherwise repeat itself every few seconds.
        if (complaint != last_complaint)
            qWarning("%s; trying again every %lld ms", complaint.c_str(),
                     static_cast<long long>(reopen_delay_.count()));
        last_complaint = complaint;
        if (!Wait_Before_Reopening())
            return;
    }
}

bool Gst_Frame_Source::Publish(GstElement* sink, GstBus* bus) {
    const std::lock_guard lock(mutex_);
    if (stopping_)
        return false;
    sink_ = gst::Share(sink);
    bus_.reset(GST_BUS(gst_object_ref(bus)));
    ++generation_;
    return true;
}

void Gst_Frame_Source::Withdraw() {
    const std::lock_guard lock(mutex_);
    sink_.reset();
    bus_.reset();
}

bool Gst_Frame_Source::Wait_Before_Reopening() {
    std::unique_lock lock(mutex_);
    return !stop_requested_.wait_for(lock, reopen_delay_, [this] { return stopping_; });
}

} // namespace vistrel
