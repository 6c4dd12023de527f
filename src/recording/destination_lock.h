// One free-space keeper per destination folder: two Vistrels with their own
// data folders may record into the same place, and each would take the
// other's current episode and unsent pictures for old ones.
#pragma once

#include <string>

namespace vistrel {

class Destination_Lock {
public:
    // Hidden, and named as no picture, day or episode folder is; it lives in
    // the destination folder itself, where no folder's files are counted.
    static constexpr const char* kFile_Name = ".vistrel-keeper.lock";

    enum class Result { Held, Held_Elsewhere, Failed };

    // Tries once, without waiting. Never throws.
    explicit Destination_Lock(const std::string& dest_folder) noexcept;
    ~Destination_Lock();
    Destination_Lock(const Destination_Lock&) = delete;
    Destination_Lock& operator=(const Destination_Lock&) = delete;

    Result State() const { return result_; }
    bool Held() const { return result_ == Result::Held; }
    const std::string& Folder() const { return folder_; }
    // Why it failed, in words.
    const std::string& Reason() const { return reason_; }

private:
    std::string folder_;
    int fd_ = -1;
    Result result_ = Result::Failed;
    std::string reason_;
};

} // namespace vistrel
