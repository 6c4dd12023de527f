#include "settings/storage_settings.h"

#include "base/file_helpers.h"
#include "settings/ini_document.h"

#include <charconv>
#include <cmath>

namespace vistrel {

namespace {

constexpr const char* kSection = "storage";
constexpr const char* kKey_Keep_Free = "Keep_Free";
constexpr const char* kKey_Keep_Free_GB = "Keep_Free_GB";

} // namespace

std::string Gigabytes_Text(double gigabytes) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, gigabytes, std::chars_format::fixed);
    return end.ec == std::errc() ? std::string(text, end.ptr) : std::string("2");
}

std::optional<double> Parse_Gigabytes(const std::string& text) {
    double value = 0;
    const char* const first = text.data();
    const char* const last = text.data() + text.size();
    const auto end = std::from_chars(first, last, value, std::chars_format::fixed);
    if (end.ec != std::errc() || end.ptr != last || !std::isfinite(value) || !(value > 0) ||
        value > Storage_Settings::kMost_Keep_Free_GB)
        return std::nullopt;
    return value;
}

uint64_t Storage_Settings::Keep_Free_Bytes() const {
    return static_cast<uint64_t>(std::llround(keep_free_gb * 1e9));
}

Storage_Settings Storage_Settings::Load(const std::string& data_folder) noexcept {
    Storage_Settings settings;
    try {
        const Ini_Document file =
            Ini_Document::Parse(Read_Whole_File(data_folder + kFile_Name).value_or(""));
        settings.keep_free = file.Value(kSection, kKey_Keep_Free).value_or("0") == "1";
        if (const auto text = file.Value(kSection, kKey_Keep_Free_GB))
            settings.keep_free_gb = Parse_Gigabytes(*text).value_or(kDefault_Keep_Free_GB);
    } catch (...) {
        return Storage_Settings{};
    }
    return settings;
}

void Storage_Settings::Save(const std::string& data_folder) const {
    const std::string path = data_folder + kFile_Name;
    Ini_Document file = Ini_Document::Parse(Read_Whole_File(path).value_or(""));
    file.Set(kSection, kKey_Keep_Free, keep_free ? "1" : "0");
    file.Set(kSection, kKey_Keep_Free_GB, Gigabytes_Text(keep_free_gb));
    Write_File_Atomically(path, file.Serialize(), 0644);
}

} // namespace vistrel
