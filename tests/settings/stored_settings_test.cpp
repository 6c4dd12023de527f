#include "settings/stored_settings.h"

#include "support/fresh_datas_ini.h"

#include "settings/ini_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <tuple>

namespace vistrel {
namespace {

// Other tools read datas.ini: the bytes of a file the program starts are fixed.

const std::string kDefault_Folder = "/home/u/Pictures/Vistrel";
const std::string kFresh_File = test::Fresh_Datas_Ini(kDefault_Folder);

// Every value different from its default and from the others, so that a key
// written under another's name shows.
Stored_Settings Distinct_Values() {
    Stored_Settings v;
    v.RBT_Rec_Launch = 2;
    v.RBT_Mode_Start = 1;
    v.DED_Dest_Folder = "/srv/pics";
    v.EDT_Seuil_Detect = 11;
    v.EDT_Timer_Refresh = 222;
    v.EDT_Delay_Avant_Rec = 3;
    v.EDT_Delay_Apres_Rec = 44;
    v.CBX_JPEG_Size = 6;
    v.CKB_Use_FTP = 1;
    v.CKB_Use_Same_File_Name = 7;
    v.CKB_Add_Time_Date = 8;
    v.CKB_Sensitivity_Dark = 9;
    v.EDT_Nb_Max_File = 555;
    v.EDT_File_Name = "Cam_";
    v.EDT_FTP_Server_Name = "ftp.test:2121";
    v.EDT_FTP_Login = "cam";
    v.EDT_FTP_Password = "s3cret=x";
    return v;
}

class Stored : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    const std::string path = dir.File("datas.ini");

    std::string Content() const { return dir.Read("datas.ini"); }
};

TEST_F(Stored, A_Fresh_File_Gets_Every_Default_In_The_Order_The_Window_Reads_Them) {
    EXPECT_EQ(Ini_Read_String(path, "string", "DED_Dest_Folder", kDefault_Folder), kDefault_Folder);
    const Stored_Settings loaded = Load_Stored_Settings(path, "/elsewhere");
    EXPECT_EQ(Content(), kFresh_File);

    Stored_Settings defaults;
    defaults.DED_Dest_Folder = kDefault_Folder;
    EXPECT_EQ(loaded, defaults) << "the value the window stored first wins over the default";
    EXPECT_EQ(loaded.EDT_Seuil_Detect, 5);
    EXPECT_EQ(loaded.EDT_Timer_Refresh, 200);
    EXPECT_EQ(loaded.EDT_Delay_Avant_Rec, 5);
    EXPECT_EQ(loaded.EDT_Delay_Apres_Rec, 20);
    EXPECT_EQ(loaded.EDT_Nb_Max_File, 30000);
    EXPECT_EQ(loaded.EDT_File_Name, "Img_");
    EXPECT_EQ(loaded.RBT_Rec_Launch, 0);
    EXPECT_EQ(loaded.CKB_Use_FTP, 0);

    // Read again, a complete file is left as it is.
    EXPECT_EQ(Load_Stored_Settings(path, "/elsewhere"), defaults);
    EXPECT_EQ(Content(), kFresh_File);
}

TEST_F(Stored, Alone_On_A_Fresh_File_The_Keys_Come_In_Reading_Order) {
    Stored_Settings defaults;
    defaults.DED_Dest_Folder = kDefault_Folder;
    EXPECT_EQ(Load_Stored_Settings(path, kDefault_Folder), defaults);
    EXPECT_EQ(Content(), "[integer]\r\n"
                         "RBT_Rec_Launch=0\r\n"
                         "RBT_Mode_Start=0\r\n"
                         "EDT_Seuil_Detect=5\r\n"
                         "EDT_Timer_Refresh=200\r\n"
                         "EDT_Delay_Avant_Rec=5\r\n"
                         "EDT_Delay_Apres_Rec=20\r\n"
                         "CBX_JPEG_Size=0\r\n"
                         "CKB_Use_FTP=0\r\n"
                         "CKB_Use_Same_File_Name=0\r\n"
                         "CKB_Add_Time_Date=0\r\n"
                         "CKB_Sensitivity_Dark=0\r\n"
                         "EDT_Nb_Max_File=30000\r\n"
                         "[string]\r\n"
                         "DED_Dest_Folder=/home/u/Pictures/Vistrel\r\n"
                         "EDT_File_Name=Img_\r\n"
                         "EDT_FTP_Server_Name=\r\n"
                         "EDT_FTP_Login=\r\n"
                         "EDT_FTP_Password=\r\n");
}

TEST_F(Stored, Each_Key_Is_Read_Into_Its_Own_Value) {
    const std::string full = "\xEF\xBB\xBF; written by hand\r\n"
                             "[string]\r\n"
                             "DED_Dest_Folder=/srv/pics\r\n"
                             "EDT_File_Name=Cam_\r\n"
                             "EDT_FTP_Server_Name=ftp.test:2121\r\n"
                             "EDT_FTP_Login=cam\r\n"
                             "EDT_FTP_Password=s3cret=x\r\n"
                             "\r\n"
                             "[Other]\r\n"
                             "RBT_Rec_Launch=1\r\n"
                             "[integer]\r\n"
                             "RBT_Rec_Launch=2\r\n"
                             "RBT_Mode_Start=1\r\n"
                             "EDT_Seuil_Detect=11\r\n"
                             "EDT_Timer_Refresh=222\r\n"
                             "EDT_Delay_Avant_Rec=3\r\n"
                             "EDT_Delay_Apres_Rec=44\r\n"
                             "CBX_JPEG_Size=6\r\n"
                             "CKB_Use_FTP=1\r\n"
                             "CKB_Use_Same_File_Name=7\r\n"
                             "CKB_Add_Time_Date=8\r\n"
                             "CKB_Sensitivity_Dark=9\r\n"
                             "EDT_Nb_Max_File=555\r\n";
    dir.Write("datas.ini", full);
    EXPECT_EQ(Load_Stored_Settings(path, kDefault_Folder), Distinct_Values());
    EXPECT_EQ(Content(), full) << "nothing was missing: nothing is written";

    // Saving what was read gives the same bytes, whatever else the file holds.
    Save_Stored_Settings(path, Distinct_Values());
    EXPECT_EQ(Content(), full);
    Save_Stored_Settings(path, Load_Stored_Settings(path, kDefault_Folder));
    EXPECT_EQ(Content(), full);
}

TEST_F(Stored, Saved_Values_Read_Back_The_Same) {
    Save_Stored_Settings(path, Distinct_Values());
    const std::string saved = Content();
    EXPECT_EQ(Load_Stored_Settings(path, kDefault_Folder), Distinct_Values());
    EXPECT_EQ(Content(), saved);
    EXPECT_EQ(test::Mode_Of(path), 0600u) << "the file holds the FTP password";
}

// A file missing keys (an older version's, or one edited by hand) gets them
// where the window has always put them: at the end of their section, in the
// order the window writes them.
TEST_F(Stored, Keys_Missing_From_The_File_Are_Added_In_The_Order_They_Are_Saved) {
    const std::string integer_keys = "RBT_Rec_Launch=2\r\n"
                                     "RBT_Mode_Start=1\r\n"
                                     "EDT_Seuil_Detect=11\r\n"
                                     "EDT_Nb_Max_File=555\r\n"
                                     "EDT_Timer_Refresh=222\r\n"
                                     "EDT_Delay_Avant_Rec=3\r\n"
                                     "EDT_Delay_Apres_Rec=44\r\n"
                                     "CBX_JPEG_Size=6\r\n"
                                     "CKB_Add_Time_Date=8\r\n"
                                     "CKB_Sensitivity_Dark=9\r\n"
                                     "CKB_Use_FTP=1\r\n"
                                     "CKB_Use_Same_File_Name=7\r\n";
    const std::string string_keys = "DED_Dest_Folder=/srv/pics\r\n"
                                    "EDT_File_Name=Cam_\r\n"
                                    "EDT_FTP_Server_Name=ftp.test:2121\r\n"
                                    "EDT_FTP_Login=cam\r\n"
                                    "EDT_FTP_Password=s3cret=x\r\n";
    struct Case {
        const char* what;
        const char* before; // null: no file
        std::string after;
    };
    const Case cases[] = {
        {"no file", nullptr, "[integer]\r\n" + integer_keys + "[string]\r\n" + string_keys},
        {"empty file", "", "[integer]\r\n" + integer_keys + "[string]\r\n" + string_keys},
        {"the string section first", "[string]\r\nEDT_FTP_Login=old\r\n",
         "[string]\r\n"
         "EDT_FTP_Login=cam\r\n"
         "DED_Dest_Folder=/srv/pics\r\n"
         "EDT_File_Name=Cam_\r\n"
         "EDT_FTP_Server_Name=ftp.test:2121\r\n"
         "EDT_FTP_Password=s3cret=x\r\n"
         "[integer]\r\n" +
             integer_keys},
        {"keys out of order stay where they are",
         "[integer]\r\n"
         "EDT_Timer_Refresh=1\r\n"
         "RBT_Mode_Start=0\r\n"
         "\r\n"
         "[Other]\r\n"
         "X=1\r\n",
         "[integer]\r\n"
         "EDT_Timer_Refresh=222\r\n"
         "RBT_Mode_Start=1\r\n"
         "RBT_Rec_Launch=2\r\n"
         "EDT_Seuil_Detect=11\r\n"
         "EDT_Nb_Max_File=555\r\n"
         "EDT_Delay_Avant_Rec=3\r\n"
         "EDT_Delay_Apres_Rec=44\r\n"
         "CBX_JPEG_Size=6\r\n"
         "CKB_Add_Time_Date=8\r\n"
         "CKB_Sensitivity_Dark=9\r\n"
         "CKB_Use_FTP=1\r\n"
         "CKB_Use_Same_File_Name=7\r\n"
         "\r\n"
         "[Other]\r\n"
         "X=1\r\n"
         "[string]\r\n" +
             string_keys},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Temp_Dir folder;
        if (c.before != nullptr)
            folder.Write("datas.ini", c.before);
        Save_Stored_Settings(folder.File("datas.ini"), Distinct_Values());
        EXPECT_EQ(folder.Read("datas.ini"), c.after);
        EXPECT_EQ(test::Entries(folder.Path()), std::vector<std::string>{"datas.ini"});
    }
}

// Every field of the working settings, so that a case shows what differs.
auto Fields(const Working_Settings& w) {
    return std::make_tuple(w.Sampling_ms, w.Threshold, w.Delay_Start_ms, w.Delay_Stop_ms,
                           w.Dest_Folder, w.Max_Files, w.Use_Same_File_Name, w.Fixed_File_Name,
                           w.Use_FTP, w.FTP_Server, w.FTP_Login, w.FTP_Password, w.Minimized_Mode,
                           w.Launch_Rec, w.Launch_Rec_Motion);
}

TEST(Working_From, Makes_Milliseconds_Flags_And_A_Usable_Sampling_Period) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    struct Case {
        const char* what;
        std::function<void(Stored_Settings&)> stored;
        std::function<void(Working_Settings&)> working; // changes from the defaults' result
    };
    const Case cases[] = {
        {"defaults", [](Stored_Settings&) {}, [](Working_Settings&) {}},
        {"sampling 49", [](auto& s) { s.EDT_Timer_Refresh = 49; },
         [](auto& w) { w.Sampling_ms = 50; }},
        {"sampling 0", [](auto& s) { s.EDT_Timer_Refresh = 0; },
         [](auto& w) { w.Sampling_ms = 50; }},
        {"sampling negative", [](auto& s) { s.EDT_Timer_Refresh = -300; },
         [](auto& w) { w.Sampling_ms = 50; }},
        {"sampling 50", [](auto& s) { s.EDT_Timer_Refresh = 50; },
         [](auto& w) { w.Sampling_ms = 50; }},
        {"sampling 51", [](auto& s) { s.EDT_Timer_Refresh = 51; },
         [](auto& w) { w.Sampling_ms = 51; }},
        {"delays of 0 and -1 s",
         [](auto& s) {
             s.EDT_Delay_Avant_Rec = 0;
             s.EDT_Delay_Apres_Rec = -1;
         },
         [](auto& w) {
             w.Delay_Start_ms = 0;
             w.Delay_Stop_ms = -1000;
         }},
        {"largest delay that fits",
         [](auto& s) { s.EDT_Delay_Avant_Rec = s.EDT_Delay_Apres_Rec = 2147483; },
         [](auto& w) { w.Delay_Start_ms = w.Delay_Stop_ms = 2147483000; }},
        // Beyond 32 bits the milliseconds wrap, as the tick arithmetic does.
        {"delays just past 32 bits",
         [](auto& s) {
             s.EDT_Delay_Avant_Rec = 2147484;
             s.EDT_Delay_Apres_Rec = 3000000;
         },
         [](auto& w) {
             w.Delay_Start_ms = -2147483296;
             w.Delay_Stop_ms = -1294967296;
         }},
        {"extreme delays",
         [](auto& s) {
             s.EDT_Delay_Avant_Rec = kMax;
             s.EDT_Delay_Apres_Rec = kMin;
         },
         [](auto& w) {
             w.Delay_Start_ms = -1000;
             w.Delay_Stop_ms = 0;
         }},
        {"launch 1 records", [](auto& s) { s.RBT_Rec_Launch = 1; },
         [](auto& w) { w.Launch_Rec = true; }},
        {"launch 2 arms the detection", [](auto& s) { s.RBT_Rec_Launch = 2; },
         [](auto& w) { w.Launch_Rec_Motion = true; }},
        {"launch 5 does nothing", [](auto& s) { s.RBT_Rec_Launch = 5; }, [](auto&) {}},
        {"launch -1 does nothing", [](auto& s) { s.RBT_Rec_Launch = -1; }, [](auto&) {}},
        {"mode 1 is minimized", [](auto& s) { s.RBT_Mode_Start = 1; },
         [](auto& w) { w.Minimized_Mode = true; }},
        {"mode 2 is normal", [](auto& s) { s.RBT_Mode_Start = 2; }, [](auto&) {}},
        {"boxes at 1", [](auto& s) { s.CKB_Use_FTP = s.CKB_Use_Same_File_Name = 1; },
         [](auto& w) { w.Use_FTP = w.Use_Same_File_Name = true; }},
        {"boxes at 2 are off", [](auto& s) { s.CKB_Use_FTP = s.CKB_Use_Same_File_Name = 2; },
         [](auto&) {}},
        {"boxes at -1 are off", [](auto& s) { s.CKB_Use_FTP = s.CKB_Use_Same_File_Name = -1; },
         [](auto&) {}},
        {"no folder is the root", [](auto& s) { s.DED_Dest_Folder.clear(); },
         [](auto& w) { w.Dest_Folder = "/"; }},
        {"threshold, count and texts",
         [](auto& s) {
             s.EDT_Seuil_Detect = -3;
             s.EDT_Nb_Max_File = 0;
             s.EDT_File_Name = "Cam_";
             s.EDT_FTP_Server_Name = "sftp://cam.test";
             s.EDT_FTP_Login = "cam";
             s.EDT_FTP_Password = "s3cret";
         },
         [](auto& w) {
             w.Threshold = -3.0;
             w.Max_Files = 0;
             w.Fixed_File_Name = "Cam_";
             w.FTP_Server = "sftp://cam.test";
             w.FTP_Login = "cam";
             w.FTP_Password = "s3cret";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stored_Settings stored;
        stored.DED_Dest_Folder = "/srv/pics";
        c.stored(stored);
        const Stored_Settings before = stored;

        Working_Settings expected;
        expected.Sampling_ms = 200;
        expected.Threshold = 5.0;
        expected.Delay_Start_ms = 5000;
        expected.Delay_Stop_ms = 20000;
        expected.Dest_Folder = "/srv/pics/";
        expected.Max_Files = 30000;
        expected.Fixed_File_Name = "Img_";
        c.working(expected);

        EXPECT_EQ(Fields(Working_From(stored)), Fields(expected));
        EXPECT_EQ(stored, before);
    }
}

// The minimum is the timer's: what was typed is what is saved.
TEST_F(Stored, A_Sampling_Period_Below_The_Minimum_Is_Saved_As_Typed) {
    Stored_Settings values;
    values.EDT_Timer_Refresh = 10;
    ASSERT_EQ(Working_From(values).Sampling_ms, kMinimum_Sampling_ms);
    Save_Stored_Settings(path, values);
    EXPECT_NE(Content().find("\r\nEDT_Timer_Refresh=10\r\n"), std::string::npos) << Content();
    EXPECT_EQ(Load_Stored_Settings(path, kDefault_Folder).EDT_Timer_Refresh, 10);
}

} // namespace
} // namespace vistrel
