#include "upload/upload_queue_records.h"

#include "base/text_helpers.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <set>

namespace vistrel {

namespace {

uint32_t Checksum(std::string_view text) {
    uint32_t hash = 2166136261u; // FNV-1a
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

std::string Hex(uint32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        text[static_cast<size_t>(i)] = kDigits[value & 15];
    return text;
}

std::optional<uint64_t> Number(std::string_view text) {
    uint64_t value = 0;
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Far beyond any run's count, and room left for the next id.
    if (error != std::errc() || end != text.data() + text.size() || value > (uint64_t{1} << 62))
        return std::nullopt;
    return value;
}

// "<kind> <id> <checksum>[ <fields>]", the checksum over the record without
// itself.
std::string Record(char kind, uint64_t id, std::string_view fields) {
    std::string signed_part = std::string(1, kind) + ' ' + std::to_string(id);
    std::string unsigned_part = signed_part;
    if (!fields.empty()) {
        unsigned_part += ' ';
        unsigned_part += fields;
    }
    std::string line = signed_part + ' ' + Hex(Checksum(unsigned_part));
    if (!fields.empty()) {
        line += ' ';
        line += fields;
    }
    return line + '\n';
}

struct Parsed_Record {
    char kind = 0;
    uint64_t id = 0;
    TFichier entry;        // of an A record
    uint32_t refusals = 0; // of an R record
};

std::optional<Parsed_Record> Parse_Record(std::string_view line) {
    if (line.size() < 3 || (line[0] != 'A' && line[0] != 'D' && line[0] != 'R') || line[1] != ' ')
        return std::nullopt;
    const size_t id_end = line.find(' ', 2);
    if (id_end == std::string_view::npos)
        return std::nullopt;
    const auto id = Number(line.substr(2, id_end - 2));
    const std::string_view sum = line.substr(id_end + 1, 8);
    if (!id || sum.size() != 8)
        return std::nullopt;
    const std::string_view rest = line.substr(id_end + 1 + 8);
    std::string_view fields;
    if (line[0] != 'D') {
        if (rest.size() < 2 || rest[0] != ' ')
            return std::nullopt;
        fields = rest.substr(1);
    } else if (!rest.empty()) {
        return std::nullopt;
    }
    std::string unsigned_part(line.substr(0, id_end));
    if (!fields.empty()) {
        unsigned_part += ' ';
        unsigned_part += fields;
    }
    if (Hex(Checksum(unsigned_part)) != sum)
        return std::nullopt;

    Parsed_Record record;
    record.kind = line[0];
    record.id = *id;
    if (record.kind == 'D')
        return record;
    if (record.kind == 'R') {
        const auto refusals = Number(fields);
        if (!refusals || *refusals == 0 || *refusals > UINT32_MAX)
            return std::nullopt;
        record.refusals = static_cast<uint32_t>(*refusals);
        return record;
    }
    const size_t first_tab = fields.find('\t');
    const size_t second_tab =
        first_tab == std::string_view::npos ? first_tab : fields.find('\t', first_tab + 1);
    if (second_tab == std::string_view::npos ||
        fields.find('\t', second_tab + 1) != std::string_view::npos)
        return std::nullopt;
    const auto path = Unescape_Field(fields.substr(0, first_tab));
    const auto name = Unescape_Field(fields.substr(first_tab + 1, second_tab - first_tab - 1));
    const auto folder = Unescape_Field(fields.substr(second_tab + 1));
    if (!path || !name || !folder || path->empty())
        return std::nullopt;
    record.entry = {*path, *name, *folder, false};
    return record;
}

} // namespace

std::string Encode_Appended_Record(uint64_t id, const TFichier& entry) {
    return Record('A', id,
                  Escape_Field(entry.Path) + '\t' + Escape_Field(entry.Name) + '\t' +
                      Escape_Field(entry.Folder));
}

std::string Encode_Finished_Record(uint64_t id) {
    return Record('D', id, {});
}

std::string Encode_Refused_Record(uint64_t id, uint32_t refusals) {
    return Record('R', id, std::to_string(refusals));
}

Upload_Queue_Contents Parse_Upload_Queue(std::string_view bytes) {
    std::map<uint64_t, TFichier> appended;
    std::set<uint64_t> finished;
    std::map<uint64_t, uint32_t> refusals;
    Upload_Queue_Contents contents;
    size_t start = 0;
    // A last line without its end was cut short: it is not read.
    for (size_t end; (end = bytes.find('\n', start)) != std::string_view::npos; start = end + 1) {
        const auto record = Parse_Record(bytes.substr(start, end - start));
        if (!record)
            continue;
        ++contents.records;
        contents.next_id = std::max(contents.next_id, record->id + 1);
        if (record->kind == 'A') {
            appended.emplace(record->id, record->entry);
        } else if (record->kind == 'R') {
            // Counts only grow: the highest is the latest, in whatever order
            // a rewrite left the records.
            uint32_t& count = refusals[record->id];
            count = std::max(count, record->refusals);
        } else {
            finished.insert(record->id);
        }
    }
    // The torn line may be a whole record but for its line end; the next
    // record written ends it, so its id is taken, though it is not read now.
    if (const auto torn = Parse_Record(bytes.substr(start)))
        contents.next_id = std::max(contents.next_id, torn->id + 1);
    for (auto& [id, entry] : appended) {
        if (finished.count(id) != 0)
            continue;
        const auto refused = refusals.find(id);
        contents.pending.push_back(
            {id, std::move(entry), refused == refusals.end() ? 0 : refused->second});
    }
    return contents;
}

} // namespace vistrel
