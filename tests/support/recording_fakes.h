// Stand-ins for the window, the camera and the clock around the sampling tick.
#pragma once

#include "recording/recording_controller.h"

#include <deque>
#include <string>
#include <vector>

namespace vistrel::test {

// The window's default recording settings, writing below `dest_folder`
// (which ends in "/").
inline Working_Settings Recording_Settings(const std::string& dest_folder) {
    Working_Settings s;
    s.Sampling_ms = 200;
    s.Threshold = 5;
    s.Delay_Start_ms = 5000;
    s.Delay_Stop_ms = 20000;
    s.Dest_Folder = dest_folder;
    s.Max_Files = 30000;
    s.Fixed_File_Name = "Img_";
    return s;
}

// A 320 x 240 grey texture: variant 0; variant 1 differs from it a little
// (a low, non-zero motion measure); variant 2 is its negative (full motion).
inline QImage Texture(int variant) {
    QImage img(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const int v = (x * 7 + y * 13 + (x * y) % 17) % 256;
            img.setPixel(x, y, qRgb(v, v, v));
        }
    if (variant == 1)
        for (int y = 100; y < 106; ++y)
            for (int x = 100; x < 120; ++x)
                img.setPixel(x, y, qRgb(255, 255, 255));
    if (variant == 2)
        img.invertPixels();
    return img;
}

class Fake_View : public Recording_View {
public:
    Working_Settings settings;
    bool add_time_date = false;
    bool sensitivity_dark = false;
    int jpeg_size_index = 0;

    uint32_t detect_colour = 0;
    std::vector<uint32_t> detect_colours; // every colour told, in order
    uint32_t rec_colour = kColour_White;
    std::string rec_caption;
    std::string preview_caption;
    std::string file_name;
    std::string folder_name;
    std::string detection;
    std::string processing_time;
    int gauge = -1;
    int detections_shown = 0;
    int read_parameters_calls = 0;
    bool ftp_test_enabled = true;
    QImage live;
    int live_shown = 0;
    std::string save_problem;
    std::vector<std::string> save_problem_changes; // each new text, in order

    Working_Settings Read_Parameters() override {
        ++read_parameters_calls;
        return settings;
    }
    bool Add_Time_Date() const override { return add_time_date; }
    bool Sensitivity_Dark() const override { return sensitivity_dark; }
    int Jpeg_Size_Index() const override { return jpeg_size_index; }
    void Set_Detect_Colour(uint32_t colour) override {
        detect_colour = colour;
        detect_colours.push_back(colour);
    }
    void Show_Live(const QImage& frame) override {
        live = frame;
        ++live_shown;
    }
    void Show_File_Name(const std::string& text) override { file_name = text; }
    void Show_Folder_Name(const std::string& text) override { folder_name = text; }
    uint32_t Rec_Colour() const override { return rec_colour; }
    void Set_Rec_Panel(uint32_t colour, const std::string& caption) override {
        rec_colour = colour;
        rec_caption = caption;
    }
    void Set_Preview_Caption(const std::string& caption) override { preview_caption = caption; }
    void Show_Previews(const Preview_Strip&) override {}
    void Show_Detection(const std::string& text) override {
        detection = text;
        ++detections_shown;
    }
    void Set_Gauge(int value) override { gauge = value; }
    void Show_Processing_Time(const std::string& text) override { processing_time = text; }
    void Enable_FTP_Test(bool enabled) override { ftp_test_enabled = enabled; }
    void Show_Save_Problem(const std::string& text) override {
        if (text != save_problem)
            save_problem_changes.push_back(text);
        save_problem = text;
    }
};

// Hands out the frames queued for it, one per grab; fails when none is queued.
class Fake_Camera : public Frame_Source {
public:
    std::deque<QImage> frames;

    void Open_Capture() noexcept override {}
    QImage Grab_Frame() override {
        if (frames.empty())
            throw Capture_Error("no frame");
        QImage f = frames.front();
        frames.pop_front();
        return f;
    }
    void Close_Capture() noexcept override {}
};

class Fake_Clock : public Clock {
public:
    uint32_t ticks = 1000;
    Local_Date_Time now = {2026, 12, 8, 14, 5, 9};

    uint32_t Tick_Count() override { return ticks; }
    Local_Date_Time Now() override { return now; }
};

} // namespace vistrel::test
