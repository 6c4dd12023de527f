// A destination folder on a pretend disk for the free-space keeper's tests:
// the pictures are real files, and what they take on the real disk is what
// the pretend one counts as used.
#pragma once

#include "recording/storage_keeper.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unordered_set>

namespace vistrel::test {

inline constexpr uint64_t kPicture_Bytes = 1000;

class Keeping : public ::testing::Test {
public: // the cases of a table arrange it
    Temp_Dir dir;
    std::string dest = dir.Folder() + "cam/";
    uint64_t capacity = 0;  // what the files may take
    uint64_t disk_size = 0; // what the disk reports as its size; 0: four times the capacity
    uint64_t unit = 0;      // what one picture takes on the disk
    Keeper_Inputs inputs;
    std::set<std::string> queued;
    Keeper_Hooks hooks;

    // When the disk shows freed space: at once, once synced (btrfs), or
    // never (a snapshot holds the files).
    enum class Frees { At_Once, At_Sync, Never };
    Frees frees = Frees::At_Once;
    uint64_t shown_used = 0; // while frees are held back
    size_t syncs = 0;
    Keeper_Clock::time_point clock{}; // the keeper's time

    void SetUp() override {
        std::ofstream(dir.Path() / "probe") << std::string(kPicture_Bytes, 'p');
        unit = Allocated(dir.Path() / "probe");
        ASSERT_GT(unit, 0u);
        inputs.dest_folder = dest;
        hooks.measure = [this](const std::string&) -> std::optional<Disk_Space> {
            const uint64_t used = Shown_Used();
            return Disk_Space{used >= capacity ? 0 : capacity - used,
                              disk_size > 0 ? disk_size : 4 * capacity};
        };
        hooks.queued_pictures = [this] {
            return std::unordered_set<std::string>(queued.begin(), queued.end());
        };
        hooks.sync = [this](int) {
            ++syncs;
            if (frees == Frees::At_Sync)
                Commit();
        };
        hooks.now = [this] { return clock; };
    }

    // What the files take on the disk, as freeing them gives it back.
    static uint64_t Allocated(const std::filesystem::path& file) {
        struct stat st {};
        return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)
                   ? static_cast<uint64_t>(st.st_blocks) * 512
                   : 0;
    }
    uint64_t Used() const {
        uint64_t used = 0;
        std::error_code ec;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dest, ec))
            used += Allocated(e.path());
        return used;
    }
    // Writes show at once; deletions as `frees` says.
    uint64_t Shown_Used() const {
        return frees == Frees::At_Once ? Used() : std::max(Used(), shown_used);
    }
    // The file system commits: what was freed shows.
    void Commit() { shown_used = Used(); }

    // "RIDEV_2026_12_01/D0001/I_10_00_00__00001.jpg" and the like.
    std::string Put(const std::string& relative, uint64_t bytes = kPicture_Bytes) {
        const std::filesystem::path path = dest + relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << std::string(bytes, 'p');
        return path.string();
    }
    // `count` pictures of one episode, numbered from `first`.
    void Put_Episode(const std::string& episode, int count, int first = 10000) {
        for (int i = 0; i < count; ++i)
            Put(episode + "/I_10_00_00__" + std::to_string(first + i) + ".jpg");
    }

    std::set<std::string> Left() const {
        std::set<std::string> left;
        std::error_code ec;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dest, ec)) {
            const std::string name = e.path().filename().string();
            if (name == Destination_Lock::kFile_Name)
                continue;
            left.insert(e.path().lexically_relative(dest).string() +
                        (e.is_directory(ec) && !e.is_symlink(ec) ? "/" : ""));
        }
        return left;
    }
    size_t Pictures_Left() const {
        size_t count = 0;
        for (const std::string& path : Left())
            count += path.ends_with(".jpg") ? 1 : 0;
        return count;
    }

    Keep_Free_Outcome Pass() {
        return Keep_Free_Space([this] { return inputs; }, hooks);
    }
    Keep_Free_Outcome Pass(Free_Space_Ledger& ledger) {
        return Keep_Free_Space([this] { return inputs; }, hooks, ledger);
    }
};

} // namespace vistrel::test
