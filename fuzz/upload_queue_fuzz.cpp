// The upload queue file, as a crash, a power cut or a failing disk may leave
// it: whatever it holds, reading it never fails, what it reads writes back
// to the same, and a whole record after any damage is still read.
//
// Input: the file's bytes.

#include "fuzz_support.h"
#include "upload/upload_queue_file.h"

#include <algorithm>
#include <string>

namespace {

using namespace vistrel;
using fuzz::Shown;

bool Same(const Upload_Queue_Contents& a, const Upload_Queue_Contents& b) {
    if (a.pending.size() != b.pending.size())
        return false;
    for (size_t i = 0; i < a.pending.size(); ++i) {
        const TFichier& x = a.pending[i].entry;
        const TFichier& y = b.pending[i].entry;
        if (a.pending[i].journal_id != b.pending[i].journal_id || x.Path != y.Path ||
            x.Name != y.Name || x.Folder != y.Folder)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const Upload_Queue_Contents read = Parse_Upload_Queue(bytes);
    FUZZ_CHECK(read.records <= static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')),
               "more records than lines in " + Shown(bytes));

    // What is read, written again, reads the same.
    std::string rewritten;
    for (const Upload_List::Journaled& entry : read.pending) {
        FUZZ_CHECK(entry.journal_id < read.next_id, "an id at or past the next one");
        rewritten += Encode_Appended_Record(entry.journal_id, entry.entry);
    }
    FUZZ_CHECK(Same(Parse_Upload_Queue(rewritten), read), "the rewrite of " + Shown(bytes));

    // A record written after whatever the file ends with is read.
    const TFichier picture{"/pics/RIDEV_2026_12_08/R0001/I_00_00_00__00001.jpg",
                           "I_00_00_00__00001.jpg", "RIDEV_2026_12_08/R0001/", false};
    const uint64_t id = read.next_id;
    const Upload_Queue_Contents after =
        Parse_Upload_Queue(bytes + "\n" + Encode_Appended_Record(id, picture));
    FUZZ_CHECK(!after.pending.empty() && after.pending.back().journal_id == id &&
                   after.pending.back().entry.Path == picture.Path,
               "a whole record lost after " + Shown(bytes));
    return 0;
}
