// The web server's answer to the version request, as any server (or
// anything else listening on its port) may send it. The reader must read it
// or refuse it with an Http_Error, and the outcome must not depend on how
// the bytes were cut into pieces on their way.
//
// Input: one byte giving a piece size from 1 to 32, then the answer.

#include "fuzz_support.h"
#include "net/http_request.h"

#include <algorithm>
#include <string>

namespace {

using namespace vistrel;
using fuzz::Shown;

struct Outcome {
    bool refused = false;
    std::string why;
    bool complete = false;
    int status = 0;
    std::string body;
};

// Feeds the answer in pieces until it is complete, then ends the connection,
// as the fetch does.
Outcome Read(const std::string& answer, size_t piece) {
    Outcome out;
    Http_Response_Reader reader;
    try {
        for (size_t at = 0; at < answer.size() && !reader.Complete(); at += piece) {
            const bool done = reader.Feed(answer.data() + at, std::min(piece, answer.size() - at));
            FUZZ_CHECK(done == reader.Complete(), "Feed and Complete disagree");
        }
        reader.Finish();
        FUZZ_CHECK(reader.Complete(), "Finish went through on an incomplete answer");
    } catch (const Http_Error& e) {
        out.refused = true;
        out.why = e.what();
        return out;
    }
    out.complete = reader.Complete();
    out.status = reader.Status();
    out.body = reader.Body();
    return out;
}

std::string Described(const Outcome& o) {
    if (o.refused)
        return "refused (" + o.why + ")";
    return "status " + std::to_string(o.status) + ", body " + Shown(o.body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t piece = data[0] % 32 + 1;
    const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);

    const Outcome whole = Read(answer, std::max<size_t>(answer.size(), 1));
    const Outcome pieces = Read(answer, piece);
    FUZZ_CHECK(whole.refused == pieces.refused && whole.status == pieces.status &&
                   whole.body == pieces.body,
               "whole: " + Described(whole) + "; in pieces of " + std::to_string(piece) + ": " +
                   Described(pieces));
    if (!whole.refused) {
        // What is read is a final answer with a three-digit status.
        FUZZ_CHECK(whole.status >= 0 && whole.status <= 999, Described(whole));
        FUZZ_CHECK(whole.status < 100 || whole.status >= 200, Described(whole));
    }
    return 0;
}
