// What an SFTP server's status answer means for the picture being sent.
#pragma once

#include "upload/ftp_session.h"

namespace vistrel {

// `status` is the protocol's own code (SSH_FX_*, version 3), as the server
// gave it in answer to a request.
inline Failure_Kind Sftp_Status_Failure_Kind(int status) {
    switch (status) {
    case 2:  // no such file
    case 3:  // permission denied
    case 10: // no such path
    case 11: // a file already has the name
    case 12: // write-protected
        return Failure_Kind::Refused;
    // OpenSSH's server says no more than "failure" for a full disk, an
    // exceeded quota, and a folder made where a file has the name.
    case 4:
        return Failure_Kind::Refused;
    case 8: // the server does not do what every picture needs
        return Failure_Kind::Server_Refused;
    default: // ok, end of file, a garbled message, a lost connection, ...
        return Failure_Kind::Connection;
    }
}

} // namespace vistrel
