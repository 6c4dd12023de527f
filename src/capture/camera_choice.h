// The cameras a user can pick from, as GStreamer source descriptions.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vistrel {

struct Camera_Option {
    std::string label;       // shown in the menu
    std::string description; // the GStreamer source description
};

// The built-in test picture, for trying the program without a camera.
inline const std::string kTest_Pattern_Description = "videotestsrc pattern=ball is-live=true";

// The source description of a network camera's address (rtsp, rtsps, http or
// https); nothing for anything else. The address is quoted, so it cannot add
// elements of its own to the pipeline.
std::optional<std::string> Network_Camera_Description(const std::string& address);

// The choice kept in the data folder ("camera.ini"); empty means the first
// camera found.
std::string Load_Camera_Choice(const std::string& data_folder);
void Save_Camera_Choice(const std::string& data_folder, const std::string& description);

} // namespace vistrel
