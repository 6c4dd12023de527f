#include "settings/window_placement.h"

#include "settings/ini_store.h"

#include <charconv>
#include <vector>

namespace vistrel {

namespace {

constexpr const char* kSection = "Common";
constexpr const char* kKey = "F_Main";
constexpr int kFormat_Mark = 200;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        fields.push_back(text.substr(start, at - start));
    fields.push_back(text.substr(start));
    return fields;
}

std::optional<int> Decimal(const std::string& field) {
    int value = 0;
    const char* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (field.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<Window_Placement> Parse_Placement(const std::string& text) {
    const std::vector<std::string> fields = Split(text, ',');
    if (fields.size() != 7 || fields[0] != "200")
        return std::nullopt;
    int values[7];
    for (size_t i = 0; i < 7; ++i) {
        const auto v = Decimal(fields[i]);
        if (!v)
            return std::nullopt; // a damaged value: keep the design placement
        values[i] = *v;
    }
    return Window_Placement{values[1], values[2], values[3], values[4], values[5], values[6]};
}

std::string Format_Placement(const Window_Placement& p) {
    std::string text = std::to_string(kFormat_Mark);
    for (int v : {p.flags, p.show, p.left, p.top, p.right, p.bottom}) {
        text += ',';
        text += std::to_string(v);
    }
    return text;
}

Window_Placement Move_Into_Desktop(Window_Placement p, const Desktop_Area& desktop) {
    const int width = p.Width();
    const int height = p.Height();
    if (p.right > desktop.width) {
        p.right = desktop.width;
        p.left = desktop.width - width;
    }
    if (p.bottom > desktop.height) {
        p.bottom = desktop.height;
        p.top = desktop.height - height;
    }
    if (p.left < desktop.left) {
        p.left = desktop.left;
        p.right = p.left + width;
    }
    if (p.top < desktop.top) {
        p.top = desktop.top;
        p.bottom = p.top + height;
    }
    return p;
}

std::optional<Window_Placement> Load_Window_Placement(const std::string& appli_ini) {
    return Parse_Placement(Ini_Read_Existing(appli_ini, kSection, kKey).value_or(""));
}

void Save_Window_Placement(const std::string& appli_ini, const Window_Placement& placement) {
    Ini_Write_String(appli_ini, kSection, kKey, Format_Placement(placement));
    Ini_Delete_Key(appli_ini, kSection, "F_MainColor");
    Ini_Delete_Key(appli_ini, kSection, "F_MainFont");
}

} // namespace vistrel
