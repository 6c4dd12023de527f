#include "detection/detection_settings.h"

#include "base/file_helpers.h"
#include "settings/ini_document.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace vistrel {

namespace {

constexpr const char* kSection = "detection";
constexpr const char* kAreas_Section = "areas";
constexpr const char* kKey_Ignore_Light = "Ignore_Light";
constexpr const char* kKey_Pre_Capture = "Pre_Capture";

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Decimal digits only, with blanks around: no sign, no fraction.
std::optional<int32_t> Whole_Number(std::string_view text) {
    text = Trimmed(text);
    int32_t value = 0;
    const auto end = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '-' || end.ec != std::errc() ||
        end.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "KIND,X,Y,W,H"; nothing for anything else or an area outside the frame.
std::optional<Detection_Area> Parse_Area(std::string_view text) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == text.npos ? text.npos : comma - start));
        if (comma == text.npos)
            break;
        start = comma + 1;
    }
    if (fields.size() != 5)
        return std::nullopt;
    const std::optional<Area_Kind> kind = Parse_Kind(std::string(Trimmed(fields[0])));
    if (!kind)
        return std::nullopt;
    Detection_Area area;
    area.kind = *kind;
    int32_t* const parts[] = {&area.x, &area.y, &area.w, &area.h};
    for (size_t i = 0; i < 4; ++i) {
        const std::optional<int32_t> value = Whole_Number(fields[i + 1]);
        if (!value)
            return std::nullopt;
        *parts[i] = *value;
    }
    if (!Fits_Frame(area))
        return std::nullopt;
    return area;
}

std::string Area_Text(const Detection_Area& a) {
    return Kind_Name(a.kind) + "," + std::to_string(a.x) + "," + std::to_string(a.y) + "," +
           std::to_string(a.w) + "," + std::to_string(a.h);
}

} // namespace

std::string Detection_Settings::Text() const {
    std::string text = std::string("[") + kSection + "]\n";
    text += std::string(kKey_Ignore_Light) + "=" + (ignore_light ? "1" : "0") + "\n";
    text += std::string(kKey_Pre_Capture) + "=" +
            std::to_string(std::clamp(pre_capture, 0, kMost_Pre_Capture)) + "\n";
    text += std::string("[") + kAreas_Section + "]\n";
    size_t number = 0;
    for (const Detection_Area& area : areas) {
        if (!Fits_Frame(area) || number == kMost_Areas)
            continue;
        text += "Area" + std::to_string(++number) + "=" + Area_Text(area) + "\n";
    }
    return text;
}

Detection_Settings Detection_Settings::Parse(const std::string& text) {
    Detection_Settings settings;
    const Ini_Document file = Ini_Document::Parse(text);
    if (const auto value = file.Value(kSection, kKey_Ignore_Light))
        settings.ignore_light = Whole_Number(*value).value_or(0) == 1;
    if (const auto value = file.Value(kSection, kKey_Pre_Capture))
        settings.pre_capture = std::min(Whole_Number(*value).value_or(0), kMost_Pre_Capture);
    for (size_t number = 1; number <= kMost_Areas; ++number)
        if (const auto value = file.Value(kAreas_Section, "Area" + std::to_string(number)))
            if (const std::optional<Detection_Area> area = Parse_Area(*value))
                settings.areas.push_back(*area);
    return settings;
}

Detection_Settings Detection_Settings::Load(const std::string& data_folder) noexcept {
    try {
        return Parse(Read_Whole_File(data_folder + kFile_Name).value_or(""));
    } catch (...) {
        return Detection_Settings{};
    }
}

void Detection_Settings::Save(const std::string& data_folder) const {
    Write_File_Atomically(data_folder + kFile_Name, Text(), 0644);
}

} // namespace vistrel
