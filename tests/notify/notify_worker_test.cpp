#include "notify/notify_worker.h"

#include "notify/episode_notifier.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace vistrel {
namespace {

using std::chrono::seconds;

// Answers from a script per target; delivered when the script runs out.
class Scripted_Sender : public Message_Sender {
public:
    std::map<Notify_Target, std::deque<Delivery::Outcome>> script;
    std::vector<std::pair<Notify_Target, std::string>> sent; // target, picture
    bool cancelled = false;

    Delivery Send(Notify_Target target, const Notify_Settings&,
                  const Episode_Event& event) override {
        sent.emplace_back(target, event.picture_name);
        auto& answers = script[target];
        if (answers.empty())
            return {Delivery::Outcome::Delivered, "200"};
        const Delivery::Outcome outcome = answers.front();
        answers.pop_front();
        return {outcome, outcome == Delivery::Outcome::Refused ? "403: no such topic" : "down"};
    }
    void Cancel() noexcept override { cancelled = true; }
};

Episode_Event Event(const std::string& picture) {
    Episode_Event e;
    e.folder = "RIDEV_2026_12_10/D0001";
    e.picture_name = picture;
    e.picture_path = "/pics/" + picture;
    e.time = {2026, 12, 10, 14, 3, 22};
    return e;
}

class Worker : public ::testing::Test {
protected:
    test::Temp_Dir dir;
    Notify_Queue queue{dir.File("notify_queue")};
    Scripted_Sender sender;
    Notify_Settings settings = [] {
        Notify_Settings s;
        s.ntfy.enabled = true;
        s.webhook.enabled = true;
        return s;
    }();
    Notify_Clock::time_point now{};
    int64_t wall = 1'000'000;
    std::vector<std::pair<Notify_Target, std::string>> refusals;
    Notify_Worker worker{queue, sender,
                         Notify_Worker_Hooks{[this] { return settings; }, [this] { return now; },
                                             [this] { return wall; },
                                             [this](Notify_Target t, const std::string& words) {
                                                 refusals.emplace_back(t, words);
                                             }},
                         false};

    size_t Waiting(Notify_Target target) const {
        size_t n = 0;
        for (const Queued_Message& m : queue.Messages())
            n += m.target == target;
        return n;
    }
};

TEST_F(Worker, DeliversInOrderAndEmptiesTheQueue) {
    queue.Add(Notify_Target::Ntfy, Event("a.jpg"), wall);
    queue.Add(Notify_Target::Webhook, Event("a.jpg"), wall);
    queue.Add(Notify_Target::Ntfy, Event("b.jpg"), wall);
    EXPECT_FALSE(worker.Run_Round());
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(sender.sent, (std::vector<std::pair<Notify_Target, std::string>>{
                               {Notify_Target::Ntfy, "a.jpg"},
                               {Notify_Target::Ntfy, "b.jpg"},
                               {Notify_Target::Webhook, "a.jpg"}}));
}

TEST_F(Worker, AFailingTargetWaitsTenSecondsDoublingWhileTheOthersGoOn) {
    sender.script[Notify_Target::Ntfy] = {Delivery::Outcome::Retry, Delivery::Outcome::Retry,
                                          Delivery::Outcome::Retry};
    queue.Add(Notify_Target::Ntfy, Event("a.jpg"), wall);
    queue.Add(Notify_Target::Ntfy, Event("b.jpg"), wall);
    queue.Add(Notify_Target::Webhook, Event("a.jpg"), wall);
    const Notify_Clock::time_point start = now;

    EXPECT_EQ(worker.Run_Round(), start + seconds(10));
    EXPECT_EQ(Waiting(Notify_Target::Ntfy), 2u) << "kept, in order";
    EXPECT_EQ(Waiting(Notify_Target::Webhook), 0u) << "not held up by ntfy";
    EXPECT_EQ(worker.Last_Failure(Notify_Target::Ntfy), "down");

    now = start + seconds(9);
    worker.Run_Round();
    EXPECT_EQ(sender.sent.size(), 2u) << "not before its time";
    now = start + seconds(10);
    EXPECT_EQ(worker.Run_Round(), now + seconds(20));
    now += seconds(20);
    EXPECT_EQ(worker.Run_Round(), now + seconds(40));
    // The server back after the outage: both go, oldest first.
    now += seconds(40);
    EXPECT_FALSE(worker.Run_Round());
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(sender.sent.back(), std::make_pair(Notify_Target::Ntfy, std::string("b.jpg")));
    EXPECT_EQ(worker.Last_Failure(Notify_Target::Ntfy), "");
}

TEST_F(Worker, ARefusalForGoodStopsTheTargetAndIsToldOnce) {
    sender.script[Notify_Target::Ntfy] = {Delivery::Outcome::Refused};
    queue.Add(Notify_Target::Ntfy, Event("a.jpg"), wall);
    queue.Add(Notify_Target::Ntfy, Event("b.jpg"), wall);
    queue.Add(Notify_Target::Webhook, Event("a.jpg"), wall);
    worker.Run_Round();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_TRUE(worker.Refused(Notify_Target::Ntfy));
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0].second, "403: no such topic");

    // Later messages are not even tried until the settings change.
    queue.Add(Notify_Target::Ntfy, Event("c.jpg"), wall);
    now += seconds(3600);
    worker.Run_Round();
    EXPECT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(refusals.size(), 1u);
    EXPECT_EQ(queue.Size(), 0u) << "nothing piles up for a refusing target";
    worker.Settings_Changed();
    queue.Add(Notify_Target::Ntfy, Event("d.jpg"), wall);
    worker.Run_Round();
    EXPECT_EQ(sender.sent.back().second, "d.jpg");
    EXPECT_FALSE(worker.Refused(Notify_Target::Ntfy));
}

TEST_F(Worker, MessagesOfATargetSwitchedOffAreDropped) {
    queue.Add(Notify_Target::Email, Event("a.jpg"), wall);
    worker.Run_Round();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(Worker, AfterFifteenMinutesOfOutageTheBacklogBecomesOneMessage) {
    sender.script[Notify_Target::Ntfy] = std::deque<Delivery::Outcome>(6, Delivery::Outcome::Retry);
    for (int i = 0; i < 7; ++i) {
        Episode_Event e = Event("p" + std::to_string(i) + ".jpg");
        e.time.minute = 3 + 6 * i;
        queue.Add(Notify_Target::Ntfy, e, wall + 60 * 6 * i);
    }
    for (int round = 0; round < 6; ++round) {
        now += seconds(300);
        worker.Run_Round();
    }
    EXPECT_EQ(Waiting(Notify_Target::Ntfy), 7u);
    wall += 60 * 6 * 6 + 15 * 60;
    now += seconds(300);
    worker.Run_Round();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(sender.sent.back().second, "p6.jpg") << "with the last picture";
    EXPECT_EQ(sender.sent.size(), 7u) << "one message for the seven";
}

TEST_F(Worker, UndeliveredMessagesAreSentAfterARestart) {
    sender.script[Notify_Target::Ntfy] = {Delivery::Outcome::Retry};
    queue.Add(Notify_Target::Ntfy, Event("a.jpg"), wall);
    worker.Run_Round();
    Notify_Queue reopened(dir.File("notify_queue"));
    Scripted_Sender fresh;
    Notify_Worker_Hooks hooks;
    hooks.settings = [this] { return settings; };
    Notify_Worker restarted(reopened, fresh, hooks, false);
    restarted.Run_Round();
    ASSERT_EQ(fresh.sent.size(), 1u);
    EXPECT_EQ(fresh.sent[0].second, "a.jpg");
    EXPECT_EQ(reopened.Size(), 0u);
}

TEST_F(Worker, StoppingCancelsTheDeliveryUnderWay) {
    worker.Stop();
    EXPECT_TRUE(sender.cancelled);
}

// The worker's own thread: woken by a new message, it delivers it; stopped
// in the middle of a delivery that never ends, it cuts it and returns.
TEST(Notify_Worker_Thread, DeliversWhenWokenAndStopsADeliveryThatHangs) {
    class Hanging_Sender : public Message_Sender {
    public:
        std::mutex mutex;
        std::condition_variable changed;
        int sent = 0;
        bool hang = false;
        bool cancelled = false;
        Delivery Send(Notify_Target, const Notify_Settings&, const Episode_Event&) override {
            std::unique_lock lock(mutex);
            ++sent;
            changed.notify_all();
            if (hang)
                changed.wait(lock, [this] { return cancelled; });
            return {cancelled ? Delivery::Outcome::Retry : Delivery::Outcome::Delivered, ""};
        }
        void Cancel() noexcept override {
            const std::lock_guard lock(mutex);
            cancelled = true;
            changed.notify_all();
        }
        bool Wait_For_Sent(int n) {
            std::unique_lock lock(mutex);
            return changed.wait_for(lock, std::chrono::seconds(10), [&] { return sent >= n; });
        }
    };
    test::Temp_Dir dir;
    Notify_Queue queue(dir.File("notify_queue"));
    Hanging_Sender sender;
    Notify_Settings settings;
    settings.ntfy.enabled = true;
    Notify_Worker_Hooks hooks;
    hooks.settings = [&] { return settings; };
    Notify_Worker worker(queue, sender, hooks);
    queue.Add(Notify_Target::Ntfy, Event("a.jpg"), 1);
    worker.Wake();
    ASSERT_TRUE(sender.Wait_For_Sent(1));
    {
        std::lock_guard lock(sender.mutex);
        sender.hang = true;
    }
    queue.Add(Notify_Target::Ntfy, Event("b.jpg"), 2);
    worker.Wake();
    ASSERT_TRUE(sender.Wait_For_Sent(2));
    worker.Stop();
    EXPECT_TRUE(sender.cancelled);
    ASSERT_EQ(queue.Size(), 1u) << "the message cut short stays for the next run";
    EXPECT_EQ(queue.Messages()[0].event.picture_name, "b.jpg");
}

TEST(Episode_Notifier, OneStartPerCooldownPerEnabledTargetAndEndsWhenAsked) {
    test::Temp_Dir dir;
    Notify_Queue queue(dir.File("notify_queue"));
    Notify_Settings settings;
    settings.ntfy.enabled = true;
    settings.telegram.enabled = true;
    Notify_Clock::time_point now{};
    int wakes = 0;
    Episode_Notifier notifier(queue, {[&] { return settings; }, [&] { ++wakes; },
                                      [&] { return now; }, [] { return int64_t{5}; }});
    EXPECT_TRUE(notifier.Episode_Started(Event("a.jpg")));
    EXPECT_EQ(queue.Size(), 2u);
    EXPECT_EQ(wakes, 1);
    now += seconds(30);
    EXPECT_FALSE(notifier.Episode_Started(Event("b.jpg")));
    EXPECT_FALSE(notifier.Episode_Started(Event("c.jpg")));
    EXPECT_FALSE(notifier.Episode_Ended(Event("c.jpg"))) << "On_End is off";
    settings.on_end = true;
    EXPECT_TRUE(notifier.Episode_Ended(Event("c.jpg"))) << "ends ignore the cooldown";
    now += seconds(30);
    EXPECT_TRUE(notifier.Episode_Started(Event("d.jpg")));
    const std::vector<Queued_Message> queued = queue.Messages();
    ASSERT_EQ(queued.size(), 6u);
    EXPECT_EQ(queued[2].event.moment, Event_Moment::End);
    EXPECT_EQ(queued[4].event.picture_name, "d.jpg");
    EXPECT_EQ(queued[4].event.more_episodes, 2u);
    EXPECT_EQ(queued[4].created_s, 5);

    Episode_Event continuous = Event("r.jpg");
    continuous.kind = Episode_Kind::Continuous;
    EXPECT_FALSE(notifier.Episode_Ended(continuous)) << "continuous recording has no end message";
    settings = Notify_Settings{};
    now += seconds(3600);
    EXPECT_FALSE(notifier.Episode_Started(Event("e.jpg"))) << "no target on";
}

} // namespace
} // namespace vistrel
