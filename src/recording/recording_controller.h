// The sampling tick: one frame per tick, recorded when a recording mode is on,
// compared with the frame before it to start and stop motion recording. Runs
// on the GUI thread; the window drives it through its timer and buttons and
// shows what it reports through Recording_View.
#pragma once

#include "capture/frame_source.h"
#include "capture/motion_measure.h"
#include "detection/detection_settings.h"
#include "detection/motion_detector.h"
#include "recording/clock.h"
#include "recording/episode_file_count.h"
#include "recording/episode_tracker.h"
#include "recording/pre_capture.h"
#include "recording/recording_state.h"
#include "recording/snapshot.h"
#include "settings/working_settings.h"
#include "upload/upload_list.h"

#include <QImage>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace vistrel {

// Indicator colours, 0x00BBGGRR.
inline constexpr uint32_t kColour_Red = 255;
inline constexpr uint32_t kColour_Lime = 65280;
inline constexpr uint32_t kColour_White = 16777215;

// What the tick reads from and shows in the window.
class Recording_View {
public:
    virtual ~Recording_View() = default;

    // Copies the controls into the working settings (and sets the timer
    // period) and hands a copy to the tick.
    virtual Working_Settings Read_Parameters() = 0;
    virtual bool Add_Time_Date() const = 0;    // CKB_Add_Time_Date
    virtual bool Sensitivity_Dark() const = 0; // CKB_Sensitivity_Dark
    virtual int Jpeg_Size_Index() const = 0;   // CBX_JPEG_Size

    virtual void Set_Detect_Colour(uint32_t colour) = 0;        // PNL_Status_Detect
    virtual void Show_Live(const QImage& frame) = 0;            // IMG_WebCam
    virtual void Show_File_Name(const std::string& text) = 0;   // PNL_Nom_File
    virtual void Show_Folder_Name(const std::string& text) = 0; // PNL_Nom_Folder
    virtual uint32_t Rec_Colour() const = 0;                    // PNL_Rec
    virtual void Set_Rec_Panel(uint32_t colour, const std::string& caption) = 0;
    virtual void Set_Preview_Caption(const std::string& caption) = 0; // PNL_IMG_Pre
    virtual void Show_Previews(const Preview_Strip& previews) = 0;    // IMG_Pre_1..7
    virtual void Show_Detection(const std::string& text) = 0;         // status panel 1
    virtual void Set_Gauge(int value) = 0;                            // PGB_Coef_Correl
    virtual void Show_Processing_Time(const std::string& text) = 0;   // status panel 0
    virtual void Enable_FTP_Test(bool enabled) = 0;                   // BTN_FTP_Test
    // Why pictures are not reaching the disk, in words; empty once a picture
    // was saved again. Called after every attempt to save.
    virtual void Show_Save_Problem(const std::string& text) = 0;
};

class Recording_Controller {
public:
    // `wake_upload` starts one run of the upload worker; called on every tick
    // while Use_FTP is set.
    Recording_Controller(Recording_View& view, Frame_Source& camera, Clock& clock,
                         Upload_List& files, std::function<void()> wake_upload);

    void TMR_Refresh_IMGTimer();

    void BTN_Start_Stop_RecClick();
    void BTN_Start_Stop_Rec_DetectClick();
    void BTN_StopClick();

    // The first activation of the window starts from a stopped state and
    // numbers pictures from 1 again; the episode counters stay.
    void Reset_For_Activation();

    Recording_State& State() { return state_; }
    const Recording_State& State() const { return state_; }
    // The frame of the last tick, as the motion measure sampled it: without
    // the stamp. Null after a tick whose grab failed.
    const QImage& Live_Frame() const { return img_webcam_; }
    const Preview_Strip& Previews() const { return previews_; }

    // The episode folder of the last picture saved or tried ("" before
    // any): the one being recorded into while a recording runs.
    const std::string& Last_Episode_Folder() const { return last_episode_folder_; }
    // Told the episode folder of a picture before it is written, whenever
    // it is another than the last one's.
    void On_New_Episode_Folder(std::function<void(const std::string&)> told) {
        on_new_episode_folder_ = std::move(told);
    }

    // Areas, the light rule and the pictures from before the motion; they
    // take effect at the next tick.
    void Set_Detection(const Detection_Settings& detection);
    const Detection_Settings& Detection() const { return detection_; }
    // What the motion measure read in the last tick.
    const Motion_Reading& Last_Reading() const { return reading_; }

    // The memory the frames kept from before the motion hold now.
    size_t Pre_Capture_Bytes() const { return pre_ring_.Bytes_Held(); }
    // Pictures from before the motion named but not written yet.
    size_t Pre_Capture_Pending() const { return pending_.size() + taken_.size(); }

    // Told when an episode starts, with the picture that shows it, and when a
    // motion episode ends.
    void On_Episode_Started(std::function<void(const Episode_Report&)> told) {
        on_episode_started_ = std::move(told);
    }
    void On_Episode_Ended(std::function<void(const Episode_Report&)> told) {
        on_episode_ended_ = std::move(told);
    }

    // Writes the pictures from before the motion still waiting, all at once:
    // the program is closing and there is no next tick. Never throws.
    void Write_Remaining_Pictures() noexcept;

    // Pixels per point of the stamp; the screen's by default.
    void Set_Stamp_Dpi(double dpi) { stamp_dpi_ = dpi; }

private:
    void Run_Tick();
    // Shows the stamped frame when `live_pending`, and clears it then.
    void Record_Picture(const Working_Settings& settings, bool& live_pending);
    // Keeps the tick's frame for the start of a later episode, while armed
    // and waiting past the grace delay.
    // Returns whether it was kept.
    bool Keep_For_Pre_Capture(const Working_Settings& settings, bool was_waiting);
    // Tells the end of the motion episode, if one was recording.
    void End_Motion_Episode();
    void Picture_Written(const Picture_Destination& dest, const Local_Date_Time& when,
                         uint32_t tick, bool is_trigger);
    // Names and numbers the frames taken from before the motion, ahead of
    // the episode's first own picture.
    void Name_Taken_Frames(const Working_Settings& settings, const Local_Date_Time& now);
    // Writes the named frames, oldest first, as far as the tick's time
    // allows; at least one per tick, so they always get written.
    void Write_Pending(const Working_Settings& settings);
    void Write_Pending_Picture(Pending_Picture& picture, const Working_Settings& settings);
    // Tells of a new episode folder before its first picture is written.
    void Enter_Episode_Folder(std::string folder);
    Snapshot_Request Request_For(const Picture_Destination& dest, const Local_Date_Time& when,
                                 uint32_t num_image) const;
    void Show_Waiting();
    void Show_Stopped();
    // Whether the measure showed motion (above the threshold).
    bool Decide(double measure, const Working_Settings& settings);
    void Update_FTP_Test_Button();

    Recording_View& view_;
    Frame_Source& camera_;
    Clock& clock_;
    Upload_List& files_;
    std::function<void()> wake_upload_;

    Recording_State state_;
    QImage img_webcam_;
    Detection_Settings detection_;
    bool detection_changed_ = false;
    Motion_Detector detector_;
    Motion_Reading reading_;
    Pre_Capture_Ring pre_ring_;
    std::vector<Captured_Frame> taken_; // from the ring at an episode's start
    std::deque<Pending_Picture> pending_;
    QImage give_back_; // a frame the ring let go, for the camera
    uint32_t tick_start_ = 0;
    uint32_t write_cost_ms_ = 0;     // of the last picture written
    Working_Settings last_settings_; // of the last tick
    Episode_Tracker episode_;
    std::function<void(const Episode_Report&)> on_episode_started_;
    std::function<void(const Episode_Report&)> on_episode_ended_;
    Preview_Strip previews_;
    Snapshot_Writer snapshots_;
    Episode_File_Count episode_files_;
    std::string last_episode_folder_;
    std::function<void(const std::string&)> on_new_episode_folder_;
    double stamp_dpi_;
};

} // namespace vistrel
