#include "upload/upload_queue_file.h"

#include "base/file_helpers.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vistrel {

namespace {

constexpr const char* kHeader = "vistrel upload queue 1\n";
// A failed rewrite (disk full, folder gone) is not tried again at once.
constexpr std::chrono::seconds kRewrite_Retry{30};

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

struct Upload_Queue_File::Core {
    Core(std::string file_path, Options file_options)
        : path(std::move(file_path)), options(std::move(file_options)) {}
    ~Core() {
        if (fd >= 0)
            ::close(fd);
    }

    void Write_Record(const std::string& record) noexcept;
    void Maintain();
    void Rewrite();
    void Flusher_Loop();

    const std::string path;
    const Options options;

    std::mutex maintenance_mutex; // one Maintain at a time

    std::mutex mutex; // guards what follows; taken after the list's lock
    std::condition_variable changed;
    const Upload_List* files = nullptr; // while it may be read
    int fd = -1;
    bool dirty = false;  // written since the last flush
    bool broken = false; // a write failed: only a rewrite makes the file whole
    bool torn = false;   // the last write may have left half a line
    bool capturing = false;
    std::string captured; // records written while a rewrite is under way
    size_t records = 0;   // in the file
    size_t live = 0;      // entries appended and not finished
    Steady_Clock::time_point next_rewrite_attempt{};
    bool stopping = false;
    bool visiting = false; // a rewrite walks the list
    bool flusher_done = false;
};

Upload_Queue_File::Upload_Queue_File(std::string path, Upload_List& files)
    : Upload_Queue_File(std::move(path), files, Options{}) {}

Upload_Queue_File::Upload_Queue_File(std::string path, Upload_List& files, Options options)
    : files_(files) {
    if (!options.sync)
        options.sync = [](int fd) { return ::fdatasync(fd); };
    if (!options.picture_exists)
        options.picture_exists = [](const std::string& picture) {
            std::error_code ec;
            return std::filesystem::is_regular_file(picture, ec);
        };
    core_ = std::make_shared<Core>(std::move(path), std::move(options));
    Core& core = *core_;

    std::optional<std::string> content;
    try {
        content = Read_Whole_File(core.path);
    } catch (const std::exception&) {
        // Unreadable: we start afresh, and the rewrite replaces it.
        core.broken = true;
    }
    Upload_Queue_Contents contents = Parse_Upload_Queue(content ? *content : std::string());
    core.records = contents.records;
    core.torn = content && !content->empty() && content->back() != '\n';

    core.fd = ::open(core.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (core.fd >= 0) {
        ::fchmod(core.fd, 0600); // owner only, as the settings: it names the pictures
        if (!content || content->empty())
            Write_Fully(core.fd, kHeader);
    } else {
        core.broken = true;
    }

    std::vector<Upload_List::Journaled> kept;
    for (Upload_List::Journaled& entry : contents.pending) {
        if (core.options.picture_exists(entry.entry.Path)) {
            kept.push_back(std::move(entry));
        } else {
            ++dropped_;
            core.Write_Record(Encode_Finished_Record(entry.journal_id));
        }
    }
    restored_ = kept.size();
    core.live = kept.size();
    core.files = &files_;
    files_.Restore(kept, contents.next_id);
    flusher_ = std::thread([core = core_] { core->Flusher_Loop(); });
    files_.Attach_Journal(this);
}

Upload_Queue_File::~Upload_Queue_File() {
    files_.Attach_Journal(nullptr);
    bool flusher_done = false;
    {
        std::unique_lock lock(core_->mutex);
        core_->stopping = true;
        core_->changed.notify_all();
        // A rewrite walking the list stops at its next piece.
        core_->changed.wait(lock, [this] { return !core_->visiting; });
        core_->files = nullptr;
        // What was written is with the kernel, which flushes it by itself;
        // the program's end does not wait for a slow disk.
        flusher_done = core_->changed.wait_for(lock, std::chrono::seconds(1),
                                               [this] { return core_->flusher_done; });
    }
    if (flusher_done)
        flusher_.join();
    else
        flusher_.detach(); // it keeps the core, and touches nothing else
}

void Upload_Queue_File::Appended(uint64_t journal_id, const TFichier& entry) noexcept {
    try {
        const std::string record = Encode_Appended_Record(journal_id, entry);
        std::lock_guard lock(core_->mutex);
        ++core_->live;
        core_->Write_Record(record);
    } catch (...) {
        std::lock_guard lock(core_->mutex);
        core_->broken = true;
    }
}

void Upload_Queue_File::Finished(uint64_t journal_id) noexcept {
    try {
        const std::string record = Encode_Finished_Record(journal_id);
        std::lock_guard lock(core_->mutex);
        core_->live = core_->live > 0 ? core_->live - 1 : 0;
        core_->Write_Record(record);
    } catch (...) {
        std::lock_guard lock(core_->mutex);
        core_->broken = true;
    }
}

void Upload_Queue_File::Refused(uint64_t journal_id, uint32_t refusals) noexcept {
    try {
        const std::string record = Encode_Refused_Record(journal_id, refusals);
        std::lock_guard lock(core_->mutex);
        core_->Write_Record(record);
    } catch (...) {
        std::lock_guard lock(core_->mutex);
        core_->broken = true;
    }
}

void Upload_Queue_File::Maintain() {
    core_->Maintain();
}

// Under mutex (or before the flusher starts).
void Upload_Queue_File::Core::Write_Record(const std::string& record) noexcept {
    try {
        if (capturing)
            captured += record;
        if (fd < 0) {
            broken = true;
            return;
        }
        // After a write that may have stopped mid-line, a line break keeps the
        // half line from swallowing this record.
        const bool ok = torn ? Write_Fully(fd, "\n" + record) : Write_Fully(fd, record);
        torn = !ok;
        if (ok)
            ++records;
        else
            broken = true;
        dirty = true;
        changed.notify_all();
    } catch (...) {
        broken = true;
    }
}

void Upload_Queue_File::Core::Maintain() {
    std::lock_guard maintenance(maintenance_mutex);
    bool sync = false;
    bool rewrite = false;
    int descriptor = -1;
    {
        std::lock_guard lock(mutex);
        sync = dirty;
        dirty = false;
        rewrite = (broken || records > 2 * live + options.slack) &&
                  Steady_Clock::now() >= next_rewrite_attempt;
        descriptor = fd; // only a rewrite replaces it, and rewrites run here
    }
    if (rewrite)
        Rewrite();
    else if (sync && descriptor >= 0)
        options.sync(descriptor);
}

void Upload_Queue_File::Core::Rewrite() {
    const Upload_List* list = nullptr;
    {
        // The capture starts before the walk: whatever changes meanwhile is
        // written again after it. Records read the same whatever their
        // order, and once more changes nothing.
        std::lock_guard lock(mutex);
        if (stopping || files == nullptr)
            return;
        list = files;
        capturing = true;
        captured.clear();
        visiting = true;
    }
    std::string body = kHeader;
    size_t count = 0;
    std::optional<Upload_List::Entry_Id> next = 0;
    while (next) {
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                visiting = false;
                capturing = false;
                captured.clear();
                changed.notify_all();
                return;
            }
        }
        // In pieces, so that the tick never waits long for the list.
        next = list->Visit_Journaled(*next, 256, [&](const Upload_List::Journaled& entry) {
            body += Encode_Appended_Record(entry.journal_id, entry.entry);
            ++count;
            if (entry.refusals > 0) {
                body += Encode_Refused_Record(entry.journal_id, entry.refusals);
                ++count;
            }
        });
    }
    {
        std::lock_guard lock(mutex);
        visiting = false;
        changed.notify_all();
    }
    try {
        Temporary_File temp(path);
        temp.Set_Mode(0600);
        temp.Write(body);
        temp.Sync(); // the slow part, while the tick goes on appending
        int old_fd = -1;
        {
            std::lock_guard lock(mutex);
            temp.Write(captured);
            temp.Commit_As(path, Durability::Program_Crash);
            const int reopened = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            old_fd = fd;
            fd = reopened;
            records =
                count + static_cast<size_t>(std::count(captured.begin(), captured.end(), '\n'));
            capturing = false;
            captured.clear();
            broken = reopened < 0;
            torn = false;
            dirty = true; // the captured records are not on the disk yet
        }
        if (old_fd >= 0)
            ::close(old_fd);
        Sync_Folder_Of(path);
    } catch (const std::exception&) {
        std::lock_guard lock(mutex);
        capturing = false;
        captured.clear();
        next_rewrite_attempt = Steady_Clock::now() + kRewrite_Retry;
    }
}

void Upload_Queue_File::Core::Flusher_Loop() {
    std::unique_lock lock(mutex);
    // Runs cut short before their first rewrite (a program killed or closed
    // soon after each start) leave a file that grows with the history: it is
    // made to follow the backlog again at once, changed or not.
    if (!stopping && records > 2 * live + options.slack) {
        lock.unlock();
        Maintain();
        lock.lock();
    }
    while (!stopping) {
        changed.wait(lock, [this] { return stopping || dirty || broken; });
        if (stopping)
            break;
        // At most once an interval: a burst of pictures costs one flush.
        changed.wait_for(lock, options.sync_interval, [this] { return stopping; });
        if (stopping)
            break;
        lock.unlock();
        Maintain();
        lock.lock();
    }
    flusher_done = true;
    changed.notify_all();
}

} // namespace vistrel
