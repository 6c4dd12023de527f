// The pictures still to be sent, kept in a file of the data folder so that a
// backlog outlives the program: closed, killed, crashed or cut off by a power
// failure. Each change of the upload list is one line appended to the file,
// handed to the kernel before the tick goes on, so a kill loses nothing; a
// thread of its own flushes it to the disk at most once a second, so a power
// cut loses at most the last two seconds; and the same thread rewrites the
// file once it holds mostly sent entries, so its size follows the backlog.
// The records are those of upload_queue_records.h.
#pragma once

#include "net/tcp_socket.h"
#include "upload/upload_list.h"
#include "upload/upload_queue_records.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vistrel {

// The name of the file in the data folder.
inline constexpr const char* kUpload_Queue_File_Name = "upload_queue";

class Upload_Queue_File : public Upload_Journal {
public:
    struct Options {
        Milliseconds sync_interval{1000};
        // Flushes a descriptor to the disk; 0 on success, as fdatasync.
        std::function<int(int fd)> sync;
        // Sent entries the file may hold beyond twice the backlog before it
        // is rewritten.
        size_t slack = 64;
        // Whether a restored entry's picture is still there.
        std::function<bool(const std::string& path)> picture_exists;
    };

    // Reads what an earlier run left at `path` into `files` (entries whose
    // picture is gone are dropped), then records every change of `files`.
    // Without a usable file the list simply lives in memory. Never throws
    // for the file's sake.
    Upload_Queue_File(std::string path, Upload_List& files, Options options);
    Upload_Queue_File(std::string path, Upload_List& files);
    // Never waits long for the disk: a flush still under way after a moment
    // finishes on its own.
    ~Upload_Queue_File() override;
    Upload_Queue_File(const Upload_Queue_File&) = delete;
    Upload_Queue_File& operator=(const Upload_Queue_File&) = delete;

    size_t Restored() const { return restored_; }
    size_t Dropped() const { return dropped_; }

    void Appended(uint64_t journal_id, const TFichier& entry) noexcept override;
    void Finished(uint64_t journal_id) noexcept override;
    void Refused(uint64_t journal_id, uint32_t refusals) noexcept override;

    // What the flushing thread does: flushes what was written since the last
    // time, and rewrites the file when it is due. Exposed for tests.
    void Maintain();

private:
    // The file and its state, shared with the flushing thread, which may
    // outlive this object by the time a slow disk takes to answer.
    struct Core;

    std::shared_ptr<Core> core_;
    Upload_List& files_;
    size_t restored_ = 0;
    size_t dropped_ = 0;
    std::thread flusher_;
};

} // namespace vistrel
