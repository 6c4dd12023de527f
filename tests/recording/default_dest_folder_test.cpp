#include "recording/storage_layout.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vistrel {
namespace {

TEST(DefaultDestFolder, IsVistrelInTheUsersPicturesFolder) {
    test::Temp_Dir config;
    config.Write("user-dirs.dirs", "XDG_PICTURES_DIR=\"" + config.Folder() + "Photos\"\n");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    const std::string folder = Default_Dest_Folder();
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(folder, config.Folder() + "Photos/Vistrel");
}

} // namespace
} // namespace vistrel
