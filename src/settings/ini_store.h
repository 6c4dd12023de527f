// The settings file helpers. Each call reads the file anew, does its one job,
// writes the file back when it changed something, and never throws: a failure
// gives the neutral result (empty text, 0, or nothing written).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vistrel {

// Longest string value handed back by a read; longer values are cut.
inline constexpr size_t kIni_Max_String = 2047;

// Mode of a settings file the helpers create: it may hold a password.
inline constexpr unsigned kIni_New_File_Mode = 0600;

// Reads the key; when it is absent, first writes `default_value` under it and
// reads that. A key present with an empty value counts as present. When the
// file cannot be written, an absent key reads as empty text.
std::string Ini_Read_String(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& default_value) noexcept;

// As Ini_Read_String, for a whole number; anything that is no profile integer
// reads as 0.
int32_t Ini_Read_Integer(const std::string& path, const std::string& section,
                         const std::string& key, int32_t default_value) noexcept;

void Ini_Write_String(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value) noexcept;

void Ini_Write_Integer(const std::string& path, const std::string& section, const std::string& key,
                       int32_t value) noexcept;

// One key's new value, for writing many keys at once.
struct Ini_Value {
    std::string section;
    std::string key;
    std::string value;
};

// Writes the keys in the order given, as that many Ini_Write_String calls
// would, giving the same bytes, but reads and replaces the file once: a kill
// in the middle leaves either all of the values or none of them, and a slow
// disk is waited for once.
void Ini_Write_All(const std::string& path, const std::vector<Ini_Value>& values) noexcept;

// The key's value when it is there; nothing otherwise. Writes nothing.
std::optional<std::string> Ini_Read_Existing(const std::string& path, const std::string& section,
                                             const std::string& key) noexcept;

// Removes the key when it is there.
void Ini_Delete_Key(const std::string& path, const std::string& section,
                    const std::string& key) noexcept;

} // namespace vistrel
