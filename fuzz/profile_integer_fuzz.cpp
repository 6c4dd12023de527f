// Whole numbers in the settings file: any text must read without a fault,
// and every 32-bit number must read back from each way of writing it.
//
// Input: any text; its first four bytes also give the number written.

#include "fuzz_support.h"
#include "settings/ini_document.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using vistrel::Parse_Profile_Integer;

std::string Hex(uint32_t magnitude, bool upper) {
    char text[16];
    std::snprintf(text, sizeof text, upper ? "%" PRIX32 : "%" PRIx32, magnitude);
    return text;
}

void Check_Reads(const std::string& text, int32_t expected) {
    const int32_t got = Parse_Profile_Integer(text);
    FUZZ_CHECK(got == expected, vistrel::fuzz::Shown(text) + " reads " + std::to_string(got) +
                                    ", not " + std::to_string(expected));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int32_t read = Parse_Profile_Integer(text);
    if (read != 0)
        Check_Reads(std::to_string(read), read);

    if (size < 4)
        return 0;
    int32_t value;
    std::memcpy(&value, data, sizeof value);
    const bool negative = value < 0;
    const uint32_t magnitude =
        negative ? uint32_t{0} - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    const std::string sign = negative ? "-" : "";
    Check_Reads(std::to_string(value), value);
    Check_Reads(sign + "000" + std::to_string(magnitude), value);
    if (!negative)
        Check_Reads("+" + std::to_string(value), value);
    Check_Reads(sign + "0x" + Hex(magnitude, false), value);
    Check_Reads(sign + "0X" + Hex(magnitude, true), value);
    Check_Reads(sign + "$" + Hex(magnitude, data[0] & 1), value);

    // Just outside the 32-bit range, on the value's own side of zero.
    const int64_t outside =
        negative ? int64_t{value} - (int64_t{1} << 31) - 1 : int64_t{value} + (int64_t{1} << 31);
    Check_Reads(std::to_string(outside), 0);
    const uint64_t outside_magnitude =
        negative ? uint64_t{0} - static_cast<uint64_t>(outside) : static_cast<uint64_t>(outside);
    char hex[24];
    std::snprintf(hex, sizeof hex, "%" PRIx64, outside_magnitude);
    Check_Reads(sign + "0x" + hex, 0);
    return 0;
}
