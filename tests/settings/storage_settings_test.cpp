#include "settings/storage_settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vistrel {
namespace {

TEST(Storage_Settings_File, Keeps_What_Was_Saved_And_Falls_Back_On_Bad_Values) {
    struct Case {
        const char* file; // nullptr: no file
        bool keep_free;
        double gigabytes;
    };
    const Case cases[] = {
        {nullptr, false, 2.0},
        {"", false, 2.0},
        {"[storage]\r\nKeep_Free=1\r\nKeep_Free_GB=0.5\r\n", true, 0.5},
        {"[STORAGE]\nkeep_free=1\nkeep_free_gb=250\n", true, 250.0},
        {"[storage]\nKeep_Free=yes\nKeep_Free_GB=3\n", false, 3.0},
        {"[storage]\nKeep_Free=1\nKeep_Free_GB=0\n", true, 2.0},
        {"[storage]\nKeep_Free=1\nKeep_Free_GB=-4\n", true, 2.0},
        {"[storage]\nKeep_Free=1\nKeep_Free_GB=2,5\n", true, 2.0},
        {"[storage]\nKeep_Free=1\nKeep_Free_GB=1e3\n", true, 2.0},
        {"[storage]\nKeep_Free=1\nKeep_Free_GB=nan\n", true, 2.0},
        {"[storage]\nKeep_Free=1\nKeep_Free_GB=99999999\n", true, 2.0},
        {"[other]\nKeep_Free=1\n", false, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(none)");
        test::Temp_Dir dir;
        if (c.file)
            std::ofstream(dir.Path() / Storage_Settings::kFile_Name) << c.file;
        const Storage_Settings read = Storage_Settings::Load(dir.Folder());
        EXPECT_EQ(read.keep_free, c.keep_free);
        EXPECT_DOUBLE_EQ(read.keep_free_gb, c.gigabytes);
    }
}

TEST(Storage_Settings_File, Round_Trips_And_Leaves_Other_Lines_Alone) {
    test::Temp_Dir dir;
    std::ofstream(dir.Path() / Storage_Settings::kFile_Name) << "; mine\n[storage]\nKeep_Free=0\n";
    for (const double gigabytes : {0.1, 2.0, 12.5, 1000000.0}) {
        Storage_Settings saved;
        saved.keep_free = true;
        saved.keep_free_gb = gigabytes;
        saved.Save(dir.Folder());
        const Storage_Settings read = Storage_Settings::Load(dir.Folder());
        EXPECT_TRUE(read.keep_free);
        EXPECT_DOUBLE_EQ(read.keep_free_gb, gigabytes);
        EXPECT_EQ(read.Keep_Free_Bytes(), static_cast<uint64_t>(gigabytes * 1e9 + 0.5));
    }
    EXPECT_EQ(test::Bytes_Of(dir.Path() / Storage_Settings::kFile_Name).rfind("; mine", 0), 0u);
}

TEST(Storage_Settings_File, A_Save_That_Cannot_Be_Written_Throws) {
    test::Temp_Dir dir;
    Storage_Settings settings;
    EXPECT_THROW(settings.Save(dir.Folder() + "missing/"), std::system_error);
}

} // namespace
} // namespace vistrel
