// What the tick benchmarks share: a scene, a folder, a view that shows
// nothing, a camera with ready frames and a clock that moves on by itself.
#pragma once

#include "recording/clock.h"
#include "recording/recording_controller.h"

#include <QImage>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vistrel::bench {

// A smooth picture compresses like a camera's, unlike noise.
inline QImage Scene(int w, int h, int shift) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb((x + shift) / 5 % 256, (y * 2) % 256, ((x + y) / 3) % 256);
    }
    return img;
}

class Folder {
public:
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vistrel-bench-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~Folder() { std::filesystem::remove_all(path_); }
    std::string Path() const { return path_.string() + "/"; }

private:
    std::filesystem::path path_;
};

class Null_View : public Recording_View {
public:
    Working_Settings settings;
    bool stamp = true;
    Working_Settings Read_Parameters() override { return settings; }
    bool Add_Time_Date() const override { return stamp; }
    bool Sensitivity_Dark() const override { return false; }
    int Jpeg_Size_Index() const override { return 0; }
    void Set_Detect_Colour(uint32_t) override {}
    void Show_Live(const QImage&) override {}
    void Show_File_Name(const std::string&) override {}
    void Show_Folder_Name(const std::string&) override {}
    uint32_t Rec_Colour() const override { return kColour_White; }
    void Set_Rec_Panel(uint32_t, const std::string&) override {}
    void Set_Preview_Caption(const std::string&) override {}
    void Show_Previews(const Preview_Strip&) override {}
    void Show_Detection(const std::string&) override {}
    void Set_Gauge(int) override {}
    void Show_Processing_Time(const std::string&) override {}
    void Enable_FTP_Test(bool) override {}
    void Show_Save_Problem(const std::string&) override {}
};

// Two camera frames in turn, as a scene with motion gives them, each in a
// buffer of its own as the camera's conversion makes it.
class Ready_Camera : public Frame_Source {
public:
    void Open_Capture() noexcept override {}
    QImage Grab_Frame() override { return ((flip_ = !flip_) ? a_ : b_).copy(); }
    void Close_Capture() noexcept override {}

private:
    QImage a_ = Scene(1280, 720, 0);
    QImage b_ = Scene(1280, 720, 40);
    bool flip_ = false;
};

class Steady_Clock : public Clock {
public:
    uint32_t Tick_Count() override { return ticks_ += 200; }
    Local_Date_Time Now() override { return {2026, 12, 8, 14, 5, 9}; }

private:
    uint32_t ticks_ = 0;
};

} // namespace vistrel::bench
