// libssh's and its SFTP part's objects under RAII, for the SFTP client.
#pragma once

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <cstddef>
#include <memory>
#include <type_traits>

namespace vistrel {

// The C library's memory under RAII, each with its own release.
struct Char_Release {
    void operator()(char* p) const { ssh_string_free_char(p); }
};
using Ssh_Text = std::unique_ptr<char, Char_Release>;
struct Key_Release {
    void operator()(ssh_key k) const { ssh_key_free(k); }
};
using Ssh_Key = std::unique_ptr<std::remove_pointer_t<ssh_key>, Key_Release>;
struct Attributes_Release {
    void operator()(sftp_attributes a) const { sftp_attributes_free(a); }
};
using Sftp_Attributes = std::unique_ptr<std::remove_pointer_t<sftp_attributes>, Attributes_Release>;
// Closed by hand where the answer matters; these only release what a
// time-out left open, on a session already cut, where closing fails at once.
struct File_Release {
    void operator()(sftp_file f) const { sftp_close(f); }
};
using Sftp_File = std::unique_ptr<std::remove_pointer_t<sftp_file>, File_Release>;
struct Dir_Release {
    void operator()(sftp_dir d) const { sftp_closedir(d); }
};
using Sftp_Dir = std::unique_ptr<std::remove_pointer_t<sftp_dir>, Dir_Release>;

// A key file with a passphrase is skipped rather than asked for on a
// terminal nobody watches. `callbacks` must outlive the session.
inline void Never_Prompt_On(ssh_session ssh, ssh_callbacks_struct& callbacks) {
    ssh_callbacks_init(&callbacks);
    callbacks.auth_function = [](const char*, char*, size_t, int, int, void*) { return -1; };
    ssh_set_callbacks(ssh, &callbacks);
}

} // namespace vistrel
