// What the user chose in the Detection dialog, kept in "detection.ini" in
// the data folder (datas.ini gets no new keys: other tools rely on its key
// set):
//   [detection]
//   Ignore_Light=0
//   Pre_Capture=0
//   [areas]
//   Area1=watch,1000,500,4000,3000
#pragma once

#include "detection/detection_area.h"

#include <string>
#include <vector>

namespace vistrel {

struct Detection_Settings {
    static constexpr const char* kFile_Name = "detection.ini";
    static constexpr int kMost_Pre_Capture = 25;

    // Leave out samples near black or white, and start an episode only after
    // two ticks in a row over the threshold.
    bool ignore_light = false;
    // How many pictures from before the motion open a motion episode.
    int pre_capture = 0;
    // At most kMost_Areas, each inside the frame.
    std::vector<Detection_Area> areas;

    bool operator==(const Detection_Settings&) const = default;

    // The file's text: LF line ends, areas numbered from 1 in their order.
    std::string Text() const;
    // LF or CR LF. A line that cannot be read, an area out of range or past
    // the eighth is left out; never fails.
    static Detection_Settings Parse(const std::string& text);

    // The settings in `data_folder` (ending in "/"); the defaults for a
    // missing or unreadable file.
    static Detection_Settings Load(const std::string& data_folder) noexcept;
    // Replaces the file in one step. Throws std::system_error when it cannot
    // be written.
    void Save(const std::string& data_folder) const;
};

} // namespace vistrel
