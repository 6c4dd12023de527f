// Asks the user whether to trust a server the system does not: a
// certificate no authority vouches for, or an SFTP host key not yet known.
#pragma once

#include "upload/server_trust.h"
#include "upload/sftp_client.h"

namespace vistrel {

class Trust_Prompt {
public:
    virtual ~Trust_Prompt() = default;
    virtual bool Trust(const Certificate_Error& refused) = 0;
    virtual bool Trust(const Host_Key_Error& refused) = 0;
    // Nobody is left to answer: a question still open, and every later one,
    // is answered No.
    virtual void Cancel() {}
};

} // namespace vistrel
