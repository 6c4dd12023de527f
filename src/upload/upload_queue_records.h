// The lines of the upload queue file. One record per line, each with a
// checksum, so that a line torn by a crash or garbled by the disk is ignored
// instead of read:
//   A <id> <checksum> <path>\t<name>\t<folder>    an entry appended
//   D <id> <checksum>                             an entry that needs no more sending
//   R <id> <checksum> <count>                     the server refused the entry count times
// The checksum covers the record without itself. A file read more than once,
// or whose records come in another order, reads the same.
#pragma once

#include "upload/upload_list.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel {

std::string Encode_Appended_Record(uint64_t id, const TFichier& entry);
std::string Encode_Finished_Record(uint64_t id);
std::string Encode_Refused_Record(uint64_t id, uint32_t refusals);

struct Upload_Queue_Contents {
    // Appended, not finished, by id, with the refusals recorded for them.
    std::vector<Upload_List::Journaled> pending;
    uint64_t next_id = 0; // above every id seen
    size_t records = 0;   // lines read as records
};

// What a queue file holds; lines that are not whole, valid records are
// skipped.
Upload_Queue_Contents Parse_Upload_Queue(std::string_view bytes);

} // namespace vistrel
