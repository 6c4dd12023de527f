// Deleting an episode the user chose to let go: its pictures leave the upload
// queue, then its files and its folder go. Only what the program wrote is
// deleted; a user's own files keep the folder.
#pragma once

#include <cstddef>
#include <string>

namespace vistrel {

class Upload_List;

struct Delete_Result {
    size_t forgotten = 0;   // queue entries that will not be sent
    size_t removed = 0;     // pictures and temporaries deleted
    size_t failed = 0;      // pictures or temporaries that could not be deleted
    size_t others_left = 0; // entries that are not ours, left in the folder
    bool folder_removed = false;
};

// The episode folder is reached from the destination without following a
// symbolic link below it, so that nothing outside it is deleted. `queue` may
// be null; a picture the upload worker has already taken is not withdrawn
// from it, and the worker finds it gone. The caller keeps the episode being
// recorded from being deleted.
Delete_Result Delete_Episode(const std::string& dest_folder, const std::string& day_folder_name,
                             const std::string& episode_folder_name, Upload_List* queue);

} // namespace vistrel
