// The free-space setting, kept in "storage.ini" in the data folder: the key
// set of datas.ini is relied on by other tools, so it gets no new keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vistrel {

struct Storage_Settings {
    static constexpr const char* kFile_Name = "storage.ini";
    static constexpr double kDefault_Keep_Free_GB = 2.0;
    static constexpr double kMost_Keep_Free_GB = 1000000.0;

    bool keep_free = false;                      // off until the user turns it on
    double keep_free_gb = kDefault_Keep_Free_GB; // 1 GB is 10^9 bytes, as disks are sold

    uint64_t Keep_Free_Bytes() const;

    // The settings in `data_folder` (ending in "/"); the defaults for a
    // missing or unreadable file, and for a value that is no number in range.
    static Storage_Settings Load(const std::string& data_folder) noexcept;
    // Throws std::system_error when the file cannot be written.
    void Save(const std::string& data_folder) const;
};

// A number of gigabytes as the file and the dialog write it: a dot for
// decimals, whatever the locale, and no more digits than needed.
std::string Gigabytes_Text(double gigabytes);
// Nothing for a text that is no number above 0 and at most the largest.
std::optional<double> Parse_Gigabytes(const std::string& text);

} // namespace vistrel
