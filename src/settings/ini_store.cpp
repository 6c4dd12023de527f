#include "settings/ini_store.h"

#include "base/file_helpers.h"
#include "settings/ini_document.h"

#include <mutex>

namespace vistrel {

namespace {

// One read-modify-write at a time, so two threads never lose each other's
// change to the same file.
std::mutex& Ini_Mutex() {
    static std::mutex mutex;
    return mutex;
}

Ini_Document Load(const std::string& path) {
    const auto text = Read_Whole_File(path);
    return text ? Ini_Document::Parse(*text) : Ini_Document();
}

void Store(const std::string& path, const Ini_Document& doc) {
    Write_File_Atomically(path, doc.Serialize(), kIni_New_File_Mode);
}

// Cuts a long value without splitting a UTF-8 character.
std::string Cut_To_Limit(std::string value) {
    if (value.size() <= kIni_Max_String)
        return value;
    size_t cut = kIni_Max_String;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
        --cut;
    value.resize(cut);
    return value;
}

std::string Read_With_Default(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& default_value) {
    std::lock_guard lock(Ini_Mutex());
    Ini_Document doc = Load(path);
    if (!doc.Value(section, key)) {
        doc.Set(section, key, default_value);
        Store(path, doc);
    }
    return Cut_To_Limit(doc.Value(section, key).value_or(std::string()));
}

} // namespace

std::string Ini_Read_String(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& default_value) noexcept {
    try {
        return Read_With_Default(path, section, key, default_value);
    } catch (...) {
        return {};
    }
}

int32_t Ini_Read_Integer(const std::string& path, const std::string& section,
                         const std::string& key, int32_t default_value) noexcept {
    try {
        return Parse_Profile_Integer(
            Read_With_Default(path, section, key, std::to_string(default_value)));
    } catch (...) {
        return 0;
    }
}

void Ini_Write_String(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value) noexcept {
    try {
        std::lock_guard lock(Ini_Mutex());
        Ini_Document doc = Load(path);
        doc.Set(section, key, value);
        Store(path, doc);
    } catch (...) {
    }
}

void Ini_Write_All(const std::string& path, const std::vector<Ini_Value>& values) noexcept {
    try {
        std::lock_guard lock(Ini_Mutex());
        Ini_Document doc = Load(path);
        for (const Ini_Value& v : values)
            doc.Set(v.section, v.key, v.value);
        Store(path, doc);
    } catch (...) {
    }
}

void Ini_Write_Integer(const std::string& path, const std::string& section, const std::string& key,
                       int32_t value) noexcept {
    Ini_Write_String(path, section, key, std::to_string(value));
}

std::optional<std::string> Ini_Read_Existing(const std::string& path, const std::string& section,
                                             const std::string& key) noexcept {
    try {
        std::lock_guard lock(Ini_Mutex());
        const auto value = Load(path).Value(section, key);
        if (!value)
            return std::nullopt;
        return Cut_To_Limit(*value);
    } catch (...) {
        return std::nullopt;
    }
}

void Ini_Delete_Key(const std::string& path, const std::string& section,
                    const std::string& key) noexcept {
    try {
        std::lock_guard lock(Ini_Mutex());
        Ini_Document doc = Load(path);
        if (doc.Remove(section, key))
            Store(path, doc);
    } catch (...) {
    }
}

} // namespace vistrel
