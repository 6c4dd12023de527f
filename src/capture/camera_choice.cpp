#include "capture/camera_choice.h"

#include "settings/ini_store.h"

namespace vistrel {

namespace {

constexpr const char* kFile = "camera.ini";

bool Starts_With(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::optional<std::string> Network_Camera_Description(const std::string& address) {
    if (!(Starts_With(address, "rtsp://") || Starts_With(address, "rtsps://") ||
          Starts_With(address, "http://") || Starts_With(address, "https://")))
        return std::nullopt;
    std::string quoted;
    for (const char c : address) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (c == '\r' || c == '\n')
            return std::nullopt;
        quoted += c;
    }
    return "uridecodebin uri=\"" + quoted + "\"";
}

std::string Load_Camera_Choice(const std::string& data_folder) {
    return Ini_Read_Existing(data_folder + kFile, "camera", "source").value_or("");
}

void Save_Camera_Choice(const std::string& data_folder, const std::string& description) {
    Ini_Write_String(data_folder + kFile, "camera", "source", description);
}

} // namespace vistrel
