// The settings file helpers on a real file: each one must leave exactly the
// text the document it describes would write, and a read must hand back the
// stored value, cut to the longest string a read gives without splitting a
// UTF-8 character.
//
// Input: the file's text, then, after NUL bytes, (section, key, value)
// triples: each key is read, written and read with a default; a (section,
// key) pair left over at the end is deleted.

#include "fuzz_support.h"
#include "settings/ini_document.h"
#include "settings/ini_store.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace vistrel;
using fuzz::Shown;

constexpr size_t kMax_Writes = 4;

// A folder of our own for the run, in memory when the system offers one, so
// that the file writes cost no disk.
const std::string& Folder() {
    static const std::string folder = [] {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr;
        std::string pattern =
            (base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path())
                .append("vistrel-fuzz-XXXXXX")
                .string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return pattern;
    }();
    return folder;
}

void Remove_Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder(), ignored);
}

std::string Read_File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write_File(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// `got` is `full` when that fits, otherwise its longest beginning within the
// limit that ends where a character starts.
void Check_Cut(const std::string& full, const std::string& got) {
    FUZZ_CHECK(got.size() <= kIni_Max_String, std::to_string(got.size()) + " bytes read");
    FUZZ_CHECK(full.compare(0, got.size(), got) == 0, Shown(got) + " is no beginning of the value");
    if (full.size() <= kIni_Max_String) {
        FUZZ_CHECK(got == full, Shown(full) + " read as " + Shown(got));
        return;
    }
    FUZZ_CHECK(got.empty() || !Continuation(full[got.size()]),
               "a character split after " + std::to_string(got.size()));
    for (size_t next = got.size() + 1; next <= kIni_Max_String; ++next)
        FUZZ_CHECK(Continuation(full[next]), "cut at " + std::to_string(got.size()) +
                                                 ", a character starts at " + std::to_string(next));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Folder();
    std::atexit(Remove_Folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> fields = fuzz::Fields(data, size);
    const std::string path = Folder() + "/datas.ini";
    Write_File(path, fields.front());
    Ini_Document doc = Ini_Document::Parse(fields.front());

    size_t i = 1;
    for (size_t writes = 0; i + 2 < fields.size() && writes < kMax_Writes; i += 3, ++writes) {
        const std::string& section = fields[i];
        const std::string& key = fields[i + 1];
        const std::string& value = fields[i + 2];

        const std::optional<std::string> stored = doc.Value(section, key);
        const std::optional<std::string> existing = Ini_Read_Existing(path, section, key);
        FUZZ_CHECK(existing.has_value() == stored.has_value(),
                   "[" + section + "] " + Shown(key) + " present in one reading only");
        if (stored)
            Check_Cut(*stored, *existing);

        Ini_Write_String(path, section, key, value);
        doc.Set(section, key, value);
        FUZZ_CHECK(Read_File(path) == doc.Serialize(),
                   "the file after a write: " + Shown(Read_File(path)));

        // The default only counts, and is only written, for an absent key.
        const std::string read = Ini_Read_String(path, section, key, "fallback");
        if (!doc.Value(section, key))
            doc.Set(section, key, "fallback");
        FUZZ_CHECK(Read_File(path) == doc.Serialize(),
                   "the file after a read: " + Shown(Read_File(path)));
        Check_Cut(doc.Value(section, key).value_or(std::string()), read);
    }
    if (i + 2 == fields.size()) {
        const std::string before = Read_File(path);
        Ini_Delete_Key(path, fields[i], fields[i + 1]);
        // Nothing to delete leaves the file as it was, not even rewritten.
        const std::string expected =
            doc.Remove(fields[i], fields[i + 1]) ? doc.Serialize() : before;
        FUZZ_CHECK(Read_File(path) == expected,
                   "the file after a deletion: " + Shown(Read_File(path)));
    }
    return 0;
}
