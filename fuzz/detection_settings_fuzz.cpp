// The Detection dialog's file as anybody may have edited it: any text reads
// without a fault into at most eight areas inside the frame, and what the
// program writes of it reads back the same.
//
// Input: the file's text.

#include "detection/detection_settings.h"
#include "fuzz_support.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using vistrel::Detection_Settings;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Detection_Settings read = Detection_Settings::Parse(text);
    FUZZ_CHECK(read.areas.size() <= vistrel::kMost_Areas,
               std::to_string(read.areas.size()) + " areas from " + vistrel::fuzz::Shown(text));
    for (const vistrel::Detection_Area& area : read.areas)
        FUZZ_CHECK(vistrel::Fits_Frame(area),
                   "an area outside the frame from " + vistrel::fuzz::Shown(text));
    FUZZ_CHECK(read.pre_capture >= 0 && read.pre_capture <= Detection_Settings::kMost_Pre_Capture,
               "Pre_Capture " + std::to_string(read.pre_capture));
    const std::string written = read.Text();
    FUZZ_CHECK(Detection_Settings::Parse(written) == read,
               "written as " + vistrel::fuzz::Shown(written) + " reads back otherwise");
    return 0;
}
