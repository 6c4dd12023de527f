// Why a picture could not be saved, in words a user acts on. The sampling tick
// fails quietly, but the window must not go on saying it records when nothing
// reaches the disk.
#pragma once

#include <exception>
#include <string>
#include <system_error>

namespace vistrel {

// "the disk is full", "the folder cannot be written", ... for the error of a
// failed save.
std::string Save_Failure_Reason(std::error_code error);

// "Pictures are not being saved: the disk is full (/media/cam)", for the
// failure `failure` of a save below `dest_folder` (a trailing "/" is dropped).
std::string Save_Failure_Text(const std::exception_ptr& failure, const std::string& dest_folder);

} // namespace vistrel
