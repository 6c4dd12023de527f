#include "recording/save_failure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

namespace vistrel {
namespace {

TEST(Save_Failure, Names_The_Reason_And_The_Destination) {
    struct Case {
        int error;
        const char* reason;
    };
    const Case cases[] = {
        {ENOSPC, "the disk is full"},
        {EFBIG, "the disk is full"},
        {EDQUOT, "the disk quota is used up"},
        {EROFS, "the disk is read-only"},
        {EACCES, "the folder cannot be written"},
        {EPERM, "the folder cannot be written"},
        {ENOENT, "the folder is gone"},
        {ENOTDIR, "a file is in the way of the folder"},
        {EIO, "the disk cannot be reached"},
        {ENODEV, "the disk cannot be reached"},
        {ESTALE, "the disk cannot be reached"},
        {ENAMETOOLONG, "the path is too long"},
        {EMFILE, "too many files are open"},
        // Anything else in the system's words, starting in lower case.
        {ELOOP, "too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const auto failure = std::make_exception_ptr(
            std::system_error(c.error, std::generic_category(), "cannot write x"));
        EXPECT_EQ(Save_Failure_Text(failure, "/media/cam/"),
                  std::string("Pictures are not being saved: ") + c.reason + " (/media/cam)");
    }
}

TEST(Save_Failure, A_Picture_That_Could_Not_Be_Made_Says_So) {
    struct Case {
        std::exception_ptr failure;
        const char* folder;
        const char* text;
    };
    const Case cases[] = {
        {std::make_exception_ptr(std::runtime_error("JPEG encoder failed")), "/srv/cam//",
         "Pictures are not being saved: the picture could not be made (/srv/cam)"},
        {nullptr, "/", "Pictures are not being saved: the picture could not be made (/)"},
        {std::make_exception_ptr(42), "",
         "Pictures are not being saved: the picture could not be made ()"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Save_Failure_Text(c.failure, c.folder), c.text);
}

} // namespace
} // namespace vistrel
