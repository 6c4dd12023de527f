#include "update/version_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace vistrel {
namespace {

TEST(VersionRules, NewerComparesNumbersOfDifferentTexts) {
    struct Case {
        const char* remote;
        bool newer;
    };
    for (const Case& c :
         {Case{"V3.3", true}, Case{"V3.2", false}, Case{"V3.1", false}, Case{"V3,3", true},
          Case{"V3.1", false}, Case{"V4", true}, Case{"abcd", false}, Case{"", false},
          Case{"W3.2", false}, Case{"V03.2", false}})
        EXPECT_EQ(Is_Newer(c.remote, "V3.2"), c.newer) << c.remote;
    EXPECT_EQ(Version_Remote_From("V3.10"), "V3.1");
    EXPECT_EQ(Version_Remote_From("V3"), "V3");
    EXPECT_FALSE(Is_Newer("V3.3", ""));
}

class Time_Zone {
public:
    explicit Time_Zone(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~Time_Zone() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

std::time_t Local(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST(VersionRules, AProgramFileIsOldFromThe21stDayOn) {
    for (const char* tz : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0"}) {
        SCOPED_TRACE(tz);
        const Time_Zone zone(tz);
        const std::time_t modified = Local(2026, 3, 1, 10, 0);
        EXPECT_FALSE(Is_Old(modified, Local(2026, 3, 21, 23, 59)));
        EXPECT_TRUE(Is_Old(modified, Local(2026, 3, 22, 0, 1)));
        // Across the change to summer time the rule still counts calendar days.
        const std::time_t spring = Local(2026, 3, 20, 10, 0);
        EXPECT_FALSE(Is_Old(spring, Local(2026, 4, 9, 23, 30)));
        EXPECT_TRUE(Is_Old(spring, Local(2026, 4, 10, 0, 30)));
    }
}

TEST(UpdateDialog, TextNamesBothVersionsWhenTheyDiffer) {
    EXPECT_EQ(
        Update_Dialog_Lines("Vistrel", "V3.2", "V3.1"),
        (std::vector<std::string>{"Your version V3.2 of Vistrel is out of date !",
                                  "Actual version available : V3.1",
                                  "You could miss the benefit of new functions and fixed issues !",
                                  "Proceed to download this new application version ..."}));
    for (const char* remote : {"", "V3.2"})
        EXPECT_EQ(Update_Dialog_Lines("Vistrel", "V3.2", remote),
                  (std::vector<std::string>{
                      "Your application :", "Vistrel",
                      " may be out of date and you could miss the benefit of new functions !",
                      "Do you want to proceed to check the latest version of this application ?"}));
}

} // namespace
} // namespace vistrel
