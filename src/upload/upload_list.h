// The pictures recorded during this run, in recording order, shared between
// the sampling tick (which appends) and the upload worker (which sends).
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace vistrel {

struct TFichier {
    std::string Path;   // full local path of the picture
    std::string Name;   // file name with ".jpg"
    std::string Folder; // day and episode folder below the destination, ends in "/"
    bool Sent = false;  // taken by the upload worker
};

class Upload_List {
public:
    void Append(TFichier entry) {
        std::lock_guard lock(Files_Lock);
        Files.push_back(std::move(entry));
    }

    // A copy of the list as it stands, for display and tests.
    std::vector<TFichier> Snapshot() const {
        std::lock_guard lock(Files_Lock);
        return Files;
    }

    mutable std::mutex Files_Lock;
    std::vector<TFichier> Files; // guarded by Files_Lock
};

} // namespace vistrel
