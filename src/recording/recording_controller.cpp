#include "recording/recording_controller.h"

#include "base/text_helpers.h"
#include "capture/image_view.h"
#include "capture/motion_measure.h"
#include "recording/save_failure.h"
#include "recording/storage_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace vistrel {

namespace {

// Keeps the rows of a frame below `top` as they are now and puts them back
// when it goes: the stamp is drawn there and must not outlive the picture.
class Rows_Keeper {
public:
    Rows_Keeper(QImage& frame, int top) : frame_(frame), top_(std::clamp(top, 0, frame.height())) {
        const auto line = static_cast<size_t>(frame.bytesPerLine());
        kept_.resize(line * static_cast<size_t>(frame.height() - top_));
        for (int y = top_; y < frame.height(); ++y)
            std::memcpy(kept_.data() + line * static_cast<size_t>(y - top_), frame.constScanLine(y),
                        line);
    }
    ~Rows_Keeper() {
        const auto line = static_cast<size_t>(frame_.bytesPerLine());
        if (kept_.size() != line * static_cast<size_t>(frame_.height() - top_))
            return; // replaced by another frame meanwhile
        for (int y = top_; y < frame_.height(); ++y)
            if (uchar* row = frame_.scanLine(y))
                std::memcpy(row, kept_.data() + line * static_cast<size_t>(y - top_), line);
    }
    Rows_Keeper(const Rows_Keeper&) = delete;
    Rows_Keeper& operator=(const Rows_Keeper&) = delete;

private:
    QImage& frame_;
    int top_;
    std::vector<uchar> kept_;
};

} // namespace

Recording_Controller::Recording_Controller(Recording_View& view, Frame_Source& camera, Clock& clock,
                                           Upload_List& files, std::function<void()> wake_upload)
    : view_(view), camera_(camera), clock_(clock), files_(files),
      wake_upload_(std::move(wake_upload)), stamp_dpi_(Screen_Dpi()) {}

void Recording_Controller::TMR_Refresh_IMGTimer() {
    // A failing step (no frame, a folder or file that cannot be written) ends
    // the tick there without a word; the next tick starts afresh.
    try {
        Run_Tick();
    } catch (...) {
    }
}

namespace {

// The detection panel is red while a tick runs and lime once the tick has
// seen motion. Nothing is drawn before the tick returns, so the panel is told
// its colour once, at the end, whichever way the tick ends: red and then
// lime in the same tick restyled it twice for nothing.
class Detect_Colour_At_End {
public:
    explicit Detect_Colour_At_End(Recording_View& view) : view_(view) {}
    ~Detect_Colour_At_End() {
        try {
            view_.Set_Detect_Colour(colour_);
        } catch (...) {
        }
    }
    Detect_Colour_At_End(const Detect_Colour_At_End&) = delete;
    Detect_Colour_At_End& operator=(const Detect_Colour_At_End&) = delete;
    void Motion_Seen() { colour_ = kColour_Lime; }

private:
    Recording_View& view_;
    uint32_t colour_ = kColour_Red;
};

} // namespace

namespace {

// Whether more than `delay_ms` passed since `since`. The elapsed time is taken
// modulo 2^32, so it stays right when the 32-bit tick count wraps between the
// two moments (once every 49.7 days); comparing `now` with `since + delay`
// would wait another 49.7 days there. The delay is read unsigned as well: one
// of 2^31 ms or more is negative as a signed value, and must still wait.
bool Delay_Passed(uint32_t now, uint32_t since, int32_t delay_ms) {
    return now - since > static_cast<uint32_t>(delay_ms);
}

} // namespace

void Recording_Controller::Set_Detection(const Detection_Settings& detection) {
    detection_ = detection;
    detection_changed_ = true;
}

void Recording_Controller::Run_Tick() {
    const uint32_t tick_start = clock_.Tick_Count();
    tick_start_ = tick_start;
    Detect_Colour_At_End detect_colour(view_);
    const Working_Settings settings = view_.Read_Parameters();
    last_settings_ = settings;

    // The last frame goes back before the next is made, which may be made
    // in its memory: two camera frames alive at once would add one frame's
    // size to the program's peak memory.
    // A frame kept for the pictures from before the motion is not the
    // camera's to reuse; the one the ring let go for it is.
    QImage done_with = std::exchange(img_webcam_, QImage());
    camera_.Take_Back(give_back_.isNull() ? std::move(done_with) : std::exchange(give_back_, {}));
    done_with = QImage();
    if (detection_changed_) {
        detection_changed_ = false;
        detector_.Configure(detection_.areas, detection_.ignore_light);
        pre_ring_.Set_Capacity(static_cast<size_t>(std::max(detection_.pre_capture, 0)));
    }
    img_webcam_ = camera_.Grab_Frame();
    // Before anything shows, measures or records it.
    Black_Out_Hidden(img_webcam_, detection_.areas);
    // A stamped picture shows the frame once stamped, before anything is
    // drawn: showing it here as well would scale it for the view twice.
    const bool recording = state_.Rec_Continuous || state_.Rec_Motion;
    bool live_pending = recording && view_.Add_Time_Date();
    if (!live_pending)
        view_.Show_Live(img_webcam_);

    // A new continuous episode on the first tick that sees "Rec" pressed.
    if (state_.Rec_Continuous && !state_.New_Folder_R_Done) {
        state_.New_Folder_R_Done = true;
        ++state_.Num_Folder_R;
        episode_.Continuous_Started(reading_.level);
    }
    if (!state_.Rec_Continuous)
        state_.New_Folder_R_Done = false;

    if (settings.Use_FTP && wake_upload_)
        wake_upload_();

    // Pictures from before the motion keep coming first in their folder, so
    // those still to be written go before the tick's own.
    if (!pending_.empty())
        Write_Pending(settings);

    if (recording) {
        try {
            Record_Picture(settings, live_pending);
        } catch (...) {
            // Failed before the stamp: the frame shows as it came.
            if (live_pending)
                view_.Show_Live(img_webcam_);
            throw;
        }
    } else if (state_.Rec_Armed)
        Show_Waiting();
    else
        Show_Stopped();

    reading_ = detector_.Measure(View_Of(img_webcam_), view_.Sensitivity_Dark());
    const double measure = reading_.level;
    view_.Show_Detection("Detection : " + Float_To_Str(0, 1, measure) + "%");
    view_.Set_Gauge(static_cast<int>(std::trunc(measure)));
    const bool was_motion = state_.Rec_Motion;
    if (Decide(measure, settings))
        detect_colour.Motion_Seen();
    const bool kept = Keep_For_Pre_Capture(settings, state_.Rec_Armed && !recording);
    if (state_.Rec_Motion && !was_motion)
        episode_.Motion_Started(measure, kept);
    else if (state_.Rec_Motion)
        episode_.Level_Seen(measure);
    else if (was_motion)
        End_Motion_Episode();

    // The episode counter advances in the tick that saw the motion; its first
    // picture is the next tick's, after the frames from before it.
    if (state_.Rec_Motion && !state_.New_Folder_D_Done) {
        state_.New_Folder_D_Done = true;
        ++state_.Num_Folder_D;
        taken_ = pre_ring_.Take();
    }
    if (!state_.Rec_Motion)
        state_.New_Folder_D_Done = false;

    const uint32_t elapsed = clock_.Tick_Count() - tick_start;
    view_.Show_Processing_Time(
        " Processing time : " + Int_To_Str(static_cast<int32_t>(elapsed), 0) + "ms");
}

void Recording_Controller::Record_Picture(const Working_Settings& settings, bool& live_pending) {
    if (!taken_.empty()) {
        Name_Taken_Frames(settings, clock_.Now());
        Write_Pending(settings);
    }
    ++state_.Num_Image;
    const Local_Date_Time now = clock_.Now();
    const Picture_Destination dest =
        Next_Picture_Destination(state_, settings, now, episode_files_);
    Enter_Episode_Folder(settings.Dest_Folder + dest.relative_folder);

    const Snapshot_Request request = Request_For(dest, now, state_.Num_Image);
    // The stamp shows live and in the picture, but the frames the motion
    // measure compares are kept without it. Otherwise the end of a motion
    // recording (the next frame has no stamp) would read as motion and start
    // the next episode at once, so that with the stamp on a motion recording
    // never ended.
    std::optional<Rows_Keeper> unstamped;
    if (request.add_time_date)
        unstamped.emplace(img_webcam_, Time_Stamp_Top(img_webcam_.height(), request.dpi));
    // The stamp and the shifted strip show even when the file could not be
    // written.
    const auto show = [&] {
        if (live_pending) {
            view_.Show_Live(img_webcam_);
            live_pending = false;
        }
        view_.Show_Previews(previews_);
    };
    episode_files_.Before_Own_Write(dest.full_folder, dest.file_name + ".jpg");
    try {
        snapshots_.Save_Snapshot(img_webcam_, request, previews_);
    } catch (...) {
        show();
        view_.Show_Save_Problem(Save_Failure_Text(std::current_exception(), settings.Dest_Folder));
        throw;
    }
    show();
    view_.Show_Save_Problem("");

    const std::string name = dest.file_name + ".jpg";
    view_.Show_File_Name(name);
    view_.Show_Folder_Name(dest.full_folder);
    files_.Append(TFichier{dest.full_folder + name, name, dest.relative_folder, false});
    Picture_Written(dest, now, tick_start_, false);
    view_.Set_Rec_Panel(kColour_Red, "Recording in progress ...");
    view_.Set_Preview_Caption("");
}

bool Recording_Controller::Keep_For_Pre_Capture(const Working_Settings& settings,
                                                bool was_waiting) {
    if (!state_.Rec_Armed || state_.Rec_Continuous) {
        pre_ring_.Clear();
        taken_.clear();
        return false;
    }
    // Frames from before the grace delay ran out are never kept: the user
    // was still leaving the room. A fixed file name keeps only the latest
    // picture anyway.
    if (!was_waiting || pre_ring_.Capacity() == 0 || settings.Use_Same_File_Name ||
        img_webcam_.isNull() ||
        !Delay_Passed(clock_.Tick_Count(), state_.Tick_Armed, settings.Delay_Start_ms))
        return false;
    give_back_ = pre_ring_.Push(img_webcam_, clock_.Now(), tick_start_);
    return true;
}

void Recording_Controller::End_Motion_Episode() {
    if (const std::optional<Episode_Report> end = episode_.Motion_Ended(); end && on_episode_ended_)
        on_episode_ended_(*end);
}

void Recording_Controller::Picture_Written(const Picture_Destination& dest,
                                           const Local_Date_Time& when, uint32_t tick,
                                           bool is_trigger) {
    const std::string name = dest.file_name + ".jpg";
    if (const std::optional<Episode_Report> start = episode_.Picture_Written(
            dest.relative_folder, dest.full_folder + name, name, when, tick, is_trigger);
        start && on_episode_started_)
        on_episode_started_(*start);
}

void Recording_Controller::Name_Taken_Frames(const Working_Settings& settings,
                                             const Local_Date_Time& now) {
    for (size_t i = 0; i < taken_.size(); ++i) {
        Captured_Frame& captured = taken_[i];
        ++state_.Num_Image;
        // The folder is the episode's, opened now; the name carries the
        // moment the frame was taken.
        Pending_Picture picture;
        picture.dest = Next_Picture_Destination(state_, settings, now, episode_files_);
        picture.num_image = state_.Num_Image;
        picture.dest.file_name = Picture_File_Name(captured.when.hour, captured.when.minute,
                                                   captured.when.second, state_.Num_Image);
        // The newest is the frame of the tick that went over the threshold.
        picture.is_trigger = i + 1 == taken_.size();
        picture.captured = std::move(captured);
        pending_.push_back(std::move(picture));
    }
    taken_.clear();
}

void Recording_Controller::Write_Remaining_Pictures() noexcept {
    try {
        if (!taken_.empty())
            Name_Taken_Frames(last_settings_, clock_.Now());
        while (!pending_.empty()) {
            Pending_Picture picture = std::move(pending_.front());
            pending_.pop_front();
            Write_Pending_Picture(picture, last_settings_);
        }
    } catch (...) {
    }
}

void Recording_Controller::Write_Pending(const Working_Settings& settings) {
    const auto period = static_cast<uint32_t>(std::max(settings.Sampling_ms, 0));
    bool wrote = false;
    while (!pending_.empty()) {
        // Room for this one and the tick's own picture, at what the last
        // picture cost.
        const uint32_t spent = clock_.Tick_Count() - tick_start_;
        if (wrote && uint64_t{spent} + 2 * uint64_t{write_cost_ms_} > period)
            break;
        Pending_Picture picture = std::move(pending_.front());
        pending_.pop_front();
        const uint32_t started = clock_.Tick_Count();
        Write_Pending_Picture(picture, settings);
        write_cost_ms_ = clock_.Tick_Count() - started;
        wrote = true;
    }
}

void Recording_Controller::Write_Pending_Picture(Pending_Picture& picture,
                                                 const Working_Settings& settings) {
    const Picture_Destination& dest = picture.dest;
    // Pictures from before the motion are never in fixed-name mode, so
    // their folder is the episode's.
    Enter_Episode_Folder(dest.full_folder);
    const Snapshot_Request request = Request_For(dest, picture.captured.when, picture.num_image);
    const std::string name = dest.file_name + ".jpg";
    episode_files_.Before_Own_Write(dest.full_folder, name);
    try {
        snapshots_.Save_Snapshot(picture.captured.frame, request, previews_);
    } catch (...) {
        // Dropped rather than tried again at every tick: it would hold up
        // every picture after it, and the words say why.
        view_.Show_Save_Problem(Save_Failure_Text(std::current_exception(), settings.Dest_Folder));
        if (picture.is_trigger)
            episode_.Trigger_Lost();
        return;
    }
    view_.Show_Save_Problem("");
    files_.Append(TFichier{dest.full_folder + name, name, dest.relative_folder, false});
    Picture_Written(dest, picture.captured.when, picture.captured.tick, picture.is_trigger);
}

void Recording_Controller::Enter_Episode_Folder(std::string folder) {
    if (folder == last_episode_folder_)
        return;
    last_episode_folder_ = std::move(folder);
    if (on_new_episode_folder_)
        on_new_episode_folder_(last_episode_folder_);
}

Snapshot_Request Recording_Controller::Request_For(const Picture_Destination& dest,
                                                   const Local_Date_Time& when,
                                                   uint32_t num_image) const {
    Snapshot_Request request;
    request.full_folder = dest.full_folder;
    request.file_name = dest.file_name;
    request.when = when;
    request.num_image = num_image;
    request.add_time_date = view_.Add_Time_Date();
    request.jpeg_size_index = view_.Jpeg_Size_Index();
    request.dpi = stamp_dpi_;
    return request;
}

void Recording_Controller::Show_Waiting() {
    view_.Set_Rec_Panel(view_.Rec_Colour() == kColour_Lime ? kColour_White : kColour_Lime,
                        "Waiting for motion detection ...");
}

void Recording_Controller::Show_Stopped() {
    view_.Set_Rec_Panel(kColour_White, "Recording stopped");
    view_.Set_Preview_Caption("No pictures are recording ...");
    previews_.Clear();
    view_.Show_Previews(previews_);
}

bool Recording_Controller::Decide(double measure, const Working_Settings& settings) {
    // A measure of exactly 0 stands both for "no difference" and for "no
    // measurement", so it changes nothing; but it is no tick over the
    // threshold either.
    if (!(measure > 0)) {
        state_.Ticks_Over_Threshold = 0;
        return false;
    }
    const uint32_t now = clock_.Tick_Count();
    if (measure > settings.Threshold) {
        if (state_.Ticks_Over_Threshold < UINT32_MAX)
            ++state_.Ticks_Over_Threshold;
        // A sudden change of light shows as one tick over the threshold and
        // then calm again; a person who walks in keeps it high.
        const bool enough = !detection_.ignore_light || state_.Ticks_Over_Threshold >= 2;
        if (state_.Rec_Armed && (state_.Rec_Motion || enough) &&
            Delay_Passed(now, state_.Tick_Armed, settings.Delay_Start_ms)) {
            state_.Rec_Motion = true;
            state_.Tick_Last_Motion = now;
        }
        return true;
    }
    state_.Ticks_Over_Threshold = 0;
    if (Delay_Passed(now, state_.Tick_Last_Motion, settings.Delay_Stop_ms))
        state_.Rec_Motion = false;
    return false;
}

void Recording_Controller::Update_FTP_Test_Button() {
    view_.Enable_FTP_Test(!state_.Rec_Continuous && !state_.Rec_Motion && !state_.Rec_Armed);
}

void Recording_Controller::BTN_Start_Stop_RecClick() {
    if (state_.Rec_Motion)
        End_Motion_Episode();
    state_.Rec_Continuous = true;
    state_.Rec_Motion = false;
    state_.Rec_Armed = false;
    Update_FTP_Test_Button();
}

void Recording_Controller::BTN_Start_Stop_Rec_DetectClick() {
    if (state_.Rec_Motion)
        End_Motion_Episode();
    state_.Tick_Armed = clock_.Tick_Count();
    state_.Rec_Armed = true;
    state_.Rec_Motion = false;
    state_.Rec_Continuous = false;
    Update_FTP_Test_Button();
}

void Recording_Controller::BTN_StopClick() {
    if (state_.Rec_Motion)
        End_Motion_Episode();
    state_.Rec_Armed = false;
    state_.Rec_Motion = false;
    state_.Rec_Continuous = false;
    Update_FTP_Test_Button();
}

void Recording_Controller::Reset_For_Activation() {
    if (state_.Rec_Motion)
        End_Motion_Episode();
    state_.Rec_Motion = false;
    state_.Rec_Continuous = false;
    state_.Rec_Armed = false;
    state_.Num_Image = 0;
}

} // namespace vistrel
