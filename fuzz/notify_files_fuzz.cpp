// The two files of the messages about episodes as a crash, a disk or a user
// may leave them: any text reads without a fault, and what the program
// writes of what it read reads back the same.
//
// Input: the text, read both as notify.ini and as notify_queue lines.

#include "fuzz_support.h"
#include "notify/notify_queue.h"
#include "notify/notify_settings.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vistrel;
    const std::string text(reinterpret_cast<const char*>(data), size);

    const Notify_Settings settings = Notify_Settings::Parse(text);
    FUZZ_CHECK(settings.cooldown_s >= 0 && settings.cooldown_s <= 3600,
               "cooldown " + std::to_string(settings.cooldown_s));
    const std::string written = settings.Text();
    FUZZ_CHECK(Notify_Settings::Parse(written) == settings,
               "notify.ini written as " + fuzz::Shown(written) + " reads back otherwise");

    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (const auto message =
                Decode_Message_Line(std::string_view(text).substr(start, end - start))) {
            const std::string line = Encode_Message_Line(*message);
            FUZZ_CHECK(Decode_Message_Line(line) == message,
                       "queue line written as " + fuzz::Shown(line) + " reads back otherwise");
        }
        start = end + 1;
    }
    return 0;
}
