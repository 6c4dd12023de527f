#include "net/name_lookup.h"

#include <gtest/gtest.h>

#include <future>
#include <netinet/in.h>
#include <thread>

namespace vistrel {
namespace {

using namespace std::chrono_literals;

TEST(Name_Lookup, Gives_The_Answer_Or_The_Failure_Of_The_Resolver) {
    Name_Lookup found([](const std::string&, uint16_t port) { return Resolve("127.0.0.1", port); },
                      "camera.test", 21);
    const std::vector<Endpoint> endpoints = found.Wait(found.Take_Ticket(), After(10s));
    ASSERT_EQ(endpoints.size(), 1u);
    EXPECT_EQ(endpoints[0].Port(), 21);

    Name_Lookup failing(
        [](const std::string& host, uint16_t) -> std::vector<Endpoint> {
            throw Socket_Error("cannot resolve " + host);
        },
        "nowhere.test", 21);
    try {
        failing.Wait(failing.Take_Ticket(), After(10s));
        ADD_FAILURE() << "no failure";
    } catch (const Socket_Error& e) {
        EXPECT_STREQ(e.what(), "cannot resolve nowhere.test");
    }
}

TEST(Name_Lookup, A_Resolver_That_Never_Answers_Holds_Nobody) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const auto blocking = [released](const std::string&, uint16_t) {
        released.wait();
        return std::vector<Endpoint>{};
    };
    Name_Lookup lookup(blocking, "slow.test", 21);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(lookup.Wait(lookup.Take_Ticket(), After(100ms)), Socket_Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_FALSE(lookup.Answered());

    // An interruption ends the waits of the tickets taken before it, and
    // only those: the lookup can be waited for again.
    const Name_Lookup::Ticket before = lookup.Take_Ticket();
    auto waiting = std::async(std::launch::async, [&] { lookup.Wait(before, Deadline::max()); });
    std::this_thread::sleep_for(50ms);
    lookup.Interrupt();
    ASSERT_EQ(waiting.wait_for(1s), std::future_status::ready);
    EXPECT_THROW(waiting.get(), Socket_Error);
    EXPECT_THROW(lookup.Wait(before, After(10s)), Socket_Error) << "taken before the interruption";
    EXPECT_THROW(lookup.Wait(lookup.Take_Ticket(), After(50ms)), Socket_Timeout);

    // Abandoned, every wait fails at once.
    lookup.Abandon();
    const auto abandoned = std::chrono::steady_clock::now();
    EXPECT_THROW(lookup.Wait(lookup.Take_Ticket(), After(10s)), Socket_Error);
    EXPECT_LT(std::chrono::steady_clock::now() - abandoned, 1s) << "not a wait to the deadline";
    // The lookup's thread ends once the resolver returns, whoever still waits.
    release.set_value();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!lookup.Answered() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(lookup.Answered());
}

} // namespace
} // namespace vistrel
