#include "recording/save_failure.h"

#include <cctype>
#include <cerrno>

namespace vistrel {

std::string Save_Failure_Reason(std::error_code error) {
    if (error.category() != std::generic_category() && error.category() != std::system_category())
        return error.message();
    switch (error.value()) {
    case ENOSPC:
    case EFBIG: // the file size limit: to the user it is the same wall
        return "the disk is full";
    case EDQUOT:
        return "the disk quota is used up";
    case EROFS:
        return "the disk is read-only";
    case EACCES:
    case EPERM:
        return "the folder cannot be written";
    case ENOENT:
        return "the folder is gone";
    case ENOTDIR:
    case EEXIST:
        return "a file is in the way of the folder";
    case EIO:
    case ENODEV:
    case ENXIO:
    case ESTALE:
    case ENOTCONN:
        return "the disk cannot be reached";
    case ENAMETOOLONG:
        return "the path is too long";
    case EMFILE:
    case ENFILE:
        return "too many files are open";
    default: {
        std::string text = error.message();
        if (!text.empty())
            text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        return text;
    }
    }
}

std::string Save_Failure_Text(const std::exception_ptr& failure, const std::string& dest_folder) {
    std::string reason = "the picture could not be made";
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const std::system_error& e) {
        reason = Save_Failure_Reason(e.code());
    } catch (...) {
    }
    std::string folder = dest_folder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return "Pictures are not being saved: " + reason + " (" + folder + ")";
}

} // namespace vistrel
