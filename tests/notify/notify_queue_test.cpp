#include "notify/notify_queue.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vistrel {
namespace {

Episode_Event Event_At(int minute, const std::string& picture) {
    Episode_Event e;
    e.folder = "RIDEV_2026_12_10/D00" + std::to_string(10 + minute);
    e.picture_name = picture;
    e.picture_path = "/pics/" + e.folder + "/" + picture;
    e.time = {2026, 12, 10, 14, minute, 5};
    e.level = 12.25;
    return e;
}

TEST(Notify_Queue, LinesRoundTripAndRefuseDamage) {
    Queued_Message m;
    m.id = 42;
    m.target = Notify_Target::Telegram;
    m.created_s = 1765400000;
    m.event = Event_At(3, "I_14_03_05__00001.jpg");
    m.event.picture_path = "/odd\tfolder/with\nbreaks\\and\rmore/x.jpg";
    m.event.moment = Event_Moment::End;
    m.event.kind = Episode_Kind::Continuous;
    m.event.utc_offset_s = -12600;
    m.event.pictures = 9;
    m.event.duration_s = 1.8;
    m.event.more_episodes = 2;
    m.event.merged_episodes = 4;
    m.event.first_time = {2026, 12, 10, 13, 59, 0};
    const std::string line = Encode_Message_Line(m);
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line";
    EXPECT_EQ(Decode_Message_Line(line), m);

    // Torn at every length, or one byte changed anywhere: never read.
    for (size_t cut = 0; cut + 1 < line.size(); ++cut)
        EXPECT_FALSE(Decode_Message_Line(line.substr(0, cut))) << cut;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        std::string garbled = line;
        garbled[i] = static_cast<char>(garbled[i] ^ 0x04);
        EXPECT_FALSE(Decode_Message_Line(garbled)) << i;
    }
}

TEST(Notify_Queue, MessagesOutliveTheProgramInAPrivateFile) {
    test::Temp_Dir dir;
    const std::string path = dir.File("notify_queue");
    uint64_t second = 0;
    {
        Notify_Queue queue(path);
        queue.Add(Notify_Target::Ntfy, Event_At(1, "a.jpg"), 100);
        second = queue.Add(Notify_Target::Email, Event_At(2, "b.jpg"), 200);
        queue.Add(Notify_Target::Ntfy, Event_At(3, "c.jpg"), 300);
        queue.Remove(second);
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A line torn by a crash at the end is skipped, the rest is read.
    dir.Write("notify_queue", dir.Read("notify_queue") + "N\t0123");
    Notify_Queue again(path);
    const std::vector<Queued_Message> left = again.Messages();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].event.picture_name, "a.jpg");
    EXPECT_EQ(left[1].event.picture_name, "c.jpg");
    EXPECT_EQ(left[1].created_s, 300);
    // New messages never reuse an id of the file's.
    const uint64_t next = again.Add(Notify_Target::Ntfy, Event_At(4, "d.jpg"), 400);
    EXPECT_GT(next, left[1].id);

    again.Drop_Target(Notify_Target::Ntfy);
    EXPECT_EQ(Notify_Queue(path).Size(), 0u);
}

TEST(Notify_Queue, OldMessagesOfATargetMergeIntoOneWithTheLastPicture) {
    const int64_t now = 10000;
    std::vector<Queued_Message> messages;
    uint64_t id = 1;
    const auto add = [&](Notify_Target target, int64_t age_s, int minute, Event_Moment moment) {
        Queued_Message m;
        m.id = id++;
        m.target = target;
        m.created_s = now - age_s;
        m.event = Event_At(minute, "p" + std::to_string(minute) + ".jpg");
        m.event.moment = moment;
        messages.push_back(m);
    };
    add(Notify_Target::Ntfy, 3000, 3, Event_Moment::Start);
    add(Notify_Target::Webhook, 2900, 4, Event_Moment::Start); // alone: stays
    add(Notify_Target::Ntfy, 2000, 20, Event_Moment::End);     // an end adds no episode
    add(Notify_Target::Ntfy, 1500, 25, Event_Moment::Start);
    add(Notify_Target::Ntfy, 900, 40, Event_Moment::Start); // exactly 15 minutes: merges
    add(Notify_Target::Ntfy, 899, 41, Event_Moment::Start); // newer: stays
    messages[3].event.more_episodes = 2;                    // two kept quiet by the cooldown

    const std::vector<Queued_Message> merged = Merge_Old_Messages(messages, now);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].target, Notify_Target::Webhook);
    EXPECT_EQ(merged[0].event.merged_episodes, 0u);
    const Episode_Event& one = merged[1].event;
    EXPECT_EQ(merged[1].id, 5u);
    EXPECT_EQ(one.merged_episodes, 1u + 3u + 1u);
    EXPECT_EQ(one.picture_name, "p40.jpg");
    EXPECT_EQ(one.first_time.minute, 3);
    EXPECT_EQ(Message_Text(one, "ntfy"),
              "While Vistrel could not reach ntfy: 5 episodes between 14:03 and 14:40");
    EXPECT_EQ(merged[2].event.picture_name, "p41.jpg");

    // Merged again later, the count and the first time carry on.
    messages = merged;
    messages.back().created_s = now - 2000;
    const std::vector<Queued_Message> again = Merge_Old_Messages(messages, now);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].event.merged_episodes, 6u);
    EXPECT_EQ(again[1].event.first_time.minute, 3);
    EXPECT_EQ(again[1].event.picture_name, "p41.jpg");
}

} // namespace
} // namespace vistrel
