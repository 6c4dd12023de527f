#include "upload/upload_queue_file.h"

#include "settings/file_helpers.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vistrel {

namespace {

constexpr const char* kHeader = "vistrel upload queue 1\n";
// A failed rewrite (disk full, folder gone) is not tried again at once.
constexpr std::chrono::seconds kRewrite_Retry{30};

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

// Paths are any bytes but NUL; the separators of a record are escaped.
std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
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
    TFichier entry;
};

std::optional<Parsed_Record> Parse_Record(std::string_view line) {
    if (line.size() < 3 || (line[0] != 'A' && line[0] != 'D') || line[1] != ' ')
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
    if (line[0] == 'A') {
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
    const size_t first_tab = fields.find('\t');
    const size_t second_tab =
        first_tab == std::string_view::npos ? first_tab : fields.find('\t', first_tab + 1);
    if (second_tab == std::string_view::npos ||
        fields.find('\t', second_tab + 1) != std::string_view::npos)
        return std::nullopt;
    const auto path = Unescape(fields.substr(0, first_tab));
    const auto name = Unescape(fields.substr(first_tab + 1, second_tab - first_tab - 1));
    const auto folder = Unescape(fields.substr(second_tab + 1));
    if (!path || !name || !folder || path->empty())
        return std::nullopt;
    record.entry = {*path, *name, *folder, false};
    return record;
}

bool Write_Fully(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The folder's entry of a renamed file reaches the disk only with the folder.
void Sync_Folder_Of(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::string Encode_Appended_Record(uint64_t id, const TFichier& entry) {
    return Record('A', id,
                  Escape(entry.Path) + '\t' + Escape(entry.Name) + '\t' + Escape(entry.Folder));
}

std::string Encode_Finished_Record(uint64_t id) {
    return Record('D', id, {});
}

Upload_Queue_Contents Parse_Upload_Queue(std::string_view bytes) {
    std::map<uint64_t, TFichier> appended;
    std::set<uint64_t> finished;
    Upload_Queue_Contents contents;
    size_t start = 0;
    // A last line without its end was cut short: it is not read.
    for (size_t end; (end = bytes.find('\n', start)) != std::string_view::npos; start = end + 1) {
        const auto record = Parse_Record(bytes.substr(start, end - start));
        if (!record)
            continue;
        ++contents.records;
        contents.next_id = std::max(contents.next_id, record->id + 1);
        if (record->kind == 'A')
            appended.emplace(record->id, record->entry);
        else
            finished.insert(record->id);
    }
    for (auto& [id, entry] : appended)
        if (finished.count(id) == 0)
            contents.pending.push_back({id, std::move(entry)});
    return contents;
}

Upload_Queue_File::Upload_Queue_File(std::string path, Upload_List& files)
    : Upload_Queue_File(std::move(path), files, Options{}) {}

Upload_Queue_File::Upload_Queue_File(std::string path, Upload_List& files, Options options)
    : path_(std::move(path)), files_(files), options_(std::move(options)) {
    if (!options_.sync)
        options_.sync = [](int fd) { return ::fdatasync(fd); };
    if (!options_.picture_exists)
        options_.picture_exists = [](const std::string& picture) {
            std::error_code ec;
            return std::filesystem::is_regular_file(picture, ec);
        };

    std::optional<std::string> content;
    try {
        content = Read_Whole_File(path_);
    } catch (const std::exception&) {
        // Unreadable: we start afresh, and the rewrite replaces it.
        broken_ = true;
    }
    Upload_Queue_Contents contents = Parse_Upload_Queue(content ? *content : std::string());
    records_ = contents.records;
    torn_ = content && !content->empty() && content->back() != '\n';

    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        ::fchmod(fd_, 0600); // owner only, as the settings: it names the pictures
        if (!content || content->empty())
            Write_Fully(fd_, kHeader);
    } else {
        broken_ = true;
    }

    std::vector<Upload_List::Journaled> kept;
    for (Upload_List::Journaled& entry : contents.pending) {
        if (options_.picture_exists(entry.entry.Path)) {
            kept.push_back(std::move(entry));
        } else {
            ++dropped_;
            Write_Record(Encode_Finished_Record(entry.journal_id));
        }
    }
    restored_ = kept.size();
    live_ = kept.size();
    files_.Restore(kept, contents.next_id);
    files_.Attach_Journal(this);
    flusher_ = std::thread([this] { Flusher_Loop(); });
}

Upload_Queue_File::~Upload_Queue_File() {
    files_.Attach_Journal(nullptr);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    flusher_.join();
    // What was written is with the kernel, which flushes it by itself; the
    // program's end does not wait for the disk.
    if (fd_ >= 0)
        ::close(fd_);
}

void Upload_Queue_File::Appended(uint64_t journal_id, const TFichier& entry) noexcept {
    try {
        const std::string record = Encode_Appended_Record(journal_id, entry);
        std::lock_guard lock(mutex_);
        ++live_;
        Write_Record(record);
    } catch (...) {
        std::lock_guard lock(mutex_);
        broken_ = true;
    }
}

void Upload_Queue_File::Finished(uint64_t journal_id) noexcept {
    try {
        const std::string record = Encode_Finished_Record(journal_id);
        std::lock_guard lock(mutex_);
        live_ = live_ > 0 ? live_ - 1 : 0;
        Write_Record(record);
    } catch (...) {
        std::lock_guard lock(mutex_);
        broken_ = true;
    }
}

// Under mutex_ (or before the flusher starts).
void Upload_Queue_File::Write_Record(const std::string& record) noexcept {
    try {
        if (capturing_)
            captured_ += record;
        if (fd_ < 0) {
            broken_ = true;
            return;
        }
        // After a write that may have stopped mid-line, a line break keeps the
        // half line from swallowing this record.
        const bool ok = torn_ ? Write_Fully(fd_, "\n" + record) : Write_Fully(fd_, record);
        torn_ = !ok;
        if (ok)
            ++records_;
        else
            broken_ = true;
        dirty_ = true;
        changed_.notify_all();
    } catch (...) {
        broken_ = true;
    }
}

void Upload_Queue_File::Maintain() {
    std::lock_guard maintenance(maintenance_mutex_);
    bool sync = false;
    bool rewrite = false;
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        sync = dirty_;
        dirty_ = false;
        rewrite = (broken_ || records_ > 2 * live_ + options_.slack) &&
                  Steady_Clock::now() >= next_rewrite_attempt_;
        fd = fd_; // only a rewrite replaces it, and rewrites run here
    }
    if (rewrite)
        Rewrite();
    else if (sync && fd >= 0)
        options_.sync(fd);
}

void Upload_Queue_File::Rewrite() {
    std::string body = kHeader;
    size_t count = 0;
    // The backlog and the start of the capture in one moment: every record
    // after it goes to the new file as well.
    files_.Visit_Unfinished(
        [&](uint64_t id, const TFichier& entry) {
            body += Encode_Appended_Record(id, entry);
            ++count;
        },
        [&] {
            std::lock_guard lock(mutex_);
            capturing_ = true;
            captured_.clear();
            live_ = count;
        });
    try {
        Temporary_File temp(path_);
        temp.Set_Mode(0600);
        temp.Write(body);
        temp.Sync(); // the slow part, while the tick goes on appending
        int old_fd = -1;
        {
            std::lock_guard lock(mutex_);
            temp.Write(captured_);
            temp.Commit_As(path_, Durability::Program_Crash);
            const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            old_fd = fd_;
            fd_ = fd;
            records_ =
                count + static_cast<size_t>(std::count(captured_.begin(), captured_.end(), '\n'));
            capturing_ = false;
            captured_.clear();
            broken_ = fd < 0;
            torn_ = false;
            dirty_ = true; // the captured records are not on the disk yet
        }
        if (old_fd >= 0)
            ::close(old_fd);
        Sync_Folder_Of(path_);
    } catch (const std::exception&) {
        std::lock_guard lock(mutex_);
        capturing_ = false;
        captured_.clear();
        next_rewrite_attempt_ = Steady_Clock::now() + kRewrite_Retry;
    }
}

void Upload_Queue_File::Flusher_Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || dirty_ || broken_; });
        if (stopping_)
            return;
        // At most once an interval: a burst of pictures costs one flush.
        changed_.wait_for(lock, options_.sync_interval, [this] { return stopping_; });
        if (stopping_)
            return;
        lock.unlock();
        Maintain();
        lock.lock();
    }
}

} // namespace vistrel
