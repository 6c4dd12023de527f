#include "upload/server_session.h"

namespace vistrel {

void Server_Session::Set_Server(const std::string& server) {
    const bool sftp = Parse_Server(server).Protocol == Transfer_Protocol::Sftp;
    // The other kind's connection has no use any more.
    if (sftp != sftp_)
        Current().Disconnect();
    sftp_ = sftp;
    Current().Set_Server(server);
}

} // namespace vistrel
