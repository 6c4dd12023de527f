#include "notify/episode_event.h"

#include <gtest/gtest.h>

namespace vistrel {
namespace {

Episode_Event Start_At(int h, int m, int s) {
    Episode_Event e;
    e.folder = "RIDEV_2026_12_10/D0004";
    e.picture_name = "I_14_03_22__00012.jpg";
    e.picture_path = "/pics/RIDEV_2026_12_10/D0004/I_14_03_22__00012.jpg";
    e.time = {2026, 12, 10, h, m, s};
    e.utc_offset_s = 3600;
    e.level = 37.5;
    return e;
}

TEST(Episode_Event, MessageTexts) {
    struct Case {
        const char* name;
        std::function<void(Episode_Event&)> change;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"motion", [](Episode_Event&) {}, "Motion at 14:03:22 \u2014 RIDEV_2026_12_10/D0004"},
        {"continuous",
         [](Episode_Event& e) {
             e.kind = Episode_Kind::Continuous;
             e.folder = "RIDEV_2026_12_10/R0001";
         },
         "Recording at 14:03:22 \u2014 RIDEV_2026_12_10/R0001"},
        {"after a cooldown", [](Episode_Event& e) { e.more_episodes = 3; },
         "Motion at 14:03:22 \u2014 RIDEV_2026_12_10/D0004 (3 more episodes since the last "
         "message)"},
        {"one more", [](Episode_Event& e) { e.more_episodes = 1; },
         "Motion at 14:03:22 \u2014 RIDEV_2026_12_10/D0004 (1 more episode since the last "
         "message)"},
        {"end",
         [](Episode_Event& e) {
             e.moment = Event_Moment::End;
             e.pictures = 540;
             e.duration_s = 108.4;
         },
         "Motion ended at 14:03:22 \u2014 RIDEV_2026_12_10/D0004: 1 min 48 s, 540 pictures, "
         "highest level 38 %"},
        {"short end",
         [](Episode_Event& e) {
             e.moment = Event_Moment::End;
             e.pictures = 1;
             e.duration_s = 0.2;
         },
         "Motion ended at 14:03:22 \u2014 RIDEV_2026_12_10/D0004: 0 s, 1 picture, highest "
         "level 38 %"},
        {"long end",
         [](Episode_Event& e) {
             e.moment = Event_Moment::End;
             e.pictures = 20000;
             e.duration_s = 2 * 3600 + 5 * 60 + 7;
         },
         "Motion ended at 14:03:22 \u2014 RIDEV_2026_12_10/D0004: 2 h 5 min, 20000 pictures, "
         "highest level 38 %"},
        {"merged",
         [](Episode_Event& e) {
             e.merged_episodes = 7;
             e.first_time = {2026, 12, 10, 14, 3, 0};
             e.time = {2026, 12, 10, 14, 40, 59};
         },
         "While Vistrel could not reach ntfy: 7 episodes between 14:03 and 14:40"},
    };
    for (const Case& c : cases) {
        Episode_Event e = Start_At(14, 3, 22);
        c.change(e);
        EXPECT_EQ(Message_Text(e, "ntfy"), c.text) << c.name;
    }
}

TEST(Episode_Event, TimesCarryTheirLocalOffset) {
    const Local_Date_Time t{2026, 3, 9, 7, 5, 1};
    EXPECT_EQ(Iso_8601(t, 3600), "2026-03-09T07:05:01+01:00");
    EXPECT_EQ(Iso_8601(t, 0), "2026-03-09T07:05:01+00:00");
    EXPECT_EQ(Iso_8601(t, -(3 * 3600 + 1800)), "2026-03-09T07:05:01-03:30");
    EXPECT_EQ(Iso_8601(t, 5 * 3600 + 45 * 60), "2026-03-09T07:05:01+05:45");
}

TEST(Episode_Event, WebhookJson) {
    Episode_Event e = Start_At(14, 3, 22);
    EXPECT_EQ(Webhook_Json(e), "{\"event\":\"start\",\"kind\":\"motion\","
                               "\"folder\":\"RIDEV_2026_12_10/D0004\","
                               "\"picture\":\"I_14_03_22__00012.jpg\","
                               "\"time\":\"2026-12-10T14:03:22+01:00\",\"level\":37.5}");
    e.moment = Event_Moment::End;
    e.kind = Episode_Kind::Continuous;
    e.level = 100;
    e.pictures = 3;
    e.duration_s = 0.6;
    EXPECT_EQ(Webhook_Json(e), "{\"event\":\"end\",\"kind\":\"continuous\","
                               "\"folder\":\"RIDEV_2026_12_10/D0004\","
                               "\"picture\":\"I_14_03_22__00012.jpg\","
                               "\"time\":\"2026-12-10T14:03:22+01:00\",\"level\":100,"
                               "\"pictures\":3,\"duration_s\":0.6}");
}

TEST(Episode_Event, JsonStringsAreEscaped) {
    EXPECT_EQ(Json_String("plain"), "\"plain\"");
    EXPECT_EQ(Json_String("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(Json_String(std::string("t\tn\n\x01", 5)), "\"t\\u0009n\\u000a\\u0001\"");
    EXPECT_EQ(Json_String("\u00e9t\u00e9"), "\"\u00e9t\u00e9\"");
}

} // namespace
} // namespace vistrel
