// The FTP connection test: a fresh connection with the settings typed in the
// window, a login, and a copy of the settings file appended to the server.
#pragma once

#include "settings/working_settings.h"
#include "upload/ftp_session.h"

#include <string>

namespace vistrel {

inline constexpr const char* kConnection_Test_Success = "file tranfered : datas.ini ...";

// The settings file as it would be sent: every byte as on disk, except that
// the FTP password's value is blanked, so that the copy on the server does not
// publish it.
std::string Settings_Copy_Without_Password(const std::string& content);

// Replaces any open connection, connects, logs in and appends the settings
// file (password blanked) as "datas.ini". True when the copy was sent; false
// when the server closed the connection right after its greeting. Throws on
// any failure, with a message for the user.
bool Run_Connection_Test(Ftp_Session& client, const Working_Settings& settings,
                         const std::string& settings_file);

// The message of the error box: a "." is added when it does not end in one.
std::string Error_Box_Text(const std::string& message);

} // namespace vistrel
