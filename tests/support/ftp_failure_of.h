// The FTP_Error an action fails with, for tests of how failures are told.
#pragma once

#include "upload/ftp_session.h"

#include <gtest/gtest.h>

namespace vistrel::test {

template <typename Action> FTP_Error Failure_Of(Action action) {
    try {
        action();
    } catch (const FTP_Error& e) {
        return e;
    }
    ADD_FAILURE() << "did not fail";
    return FTP_Error(-1, "");
}

} // namespace vistrel::test
