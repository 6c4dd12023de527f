#include "net/server_connector.h"

#include "support/fake_ftp_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {
namespace {

using namespace std::chrono_literals;

// What both clients do with the slot: hold the socket under the guard, and a
// cut from another thread shuts it and says so.
class Test_Slot : public Connect_Slot {
public:
    void Throw_If_Cut() const override {
        if (cut)
            throw Socket_Error("cut");
    }
    void Hold(const std::shared_ptr<Tcp_Socket>& socket) override {
        held = socket;
        ++holds;
        if (cut)
            socket->Shutdown();
    }
    bool Let_Go(const std::shared_ptr<Tcp_Socket>& socket, bool last) override {
        EXPECT_EQ(socket, held);
        lasts.push_back(last);
        held.reset();
        return cut || cut_while_connecting;
    }
    // From another thread, under the guard, as Disconnect does.
    void Cut() {
        cut = true;
        if (held)
            held->Shutdown();
    }

    bool cut = false;
    // A cut that came while the connect failed on its own.
    bool cut_while_connecting = false;
    int holds = 0;
    std::vector<bool> lasts;
    std::shared_ptr<Tcp_Socket> held;
};

Endpoint Loopback(uint16_t port) {
    return Resolve("127.0.0.1", port).front();
}

template <typename Condition> bool Comes_True(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return condition();
}

TEST(Server_Connector_Connect, Tries_Each_Address_In_Turn_Until_One_Takes_It_Or_A_Cut_Comes) {
    const test::Unique_Fd listening = test::Listen_On_Loopback();
    const uint16_t open_port = test::Local_Port(listening.Get());
    const uint16_t closed_port = test::Unused_Port();
    struct Case {
        const char* name;
        std::vector<uint16_t> ports;
        bool cut_after_first_failure;
        bool connects;
        std::vector<uint16_t> attempted;
        std::vector<bool> lasts; // what the slot was told of each failure
    };
    const Case cases[] = {
        {"the first takes it", {open_port, closed_port}, false, true, {open_port}, {}},
        {"the second takes it",
         {closed_port, open_port},
         false,
         true,
         {closed_port, open_port},
         {false}},
        {"none takes it",
         {closed_port, closed_port},
         false,
         false,
         {closed_port, closed_port},
         {false, true}},
        {"cut after the first", {closed_port, open_port}, true, false, {closed_port}, {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex guard;
        Server_Connector connector(guard);
        Test_Slot slot;
        std::vector<Endpoint> endpoints;
        for (const uint16_t port : c.ports)
            endpoints.push_back(Loopback(port));
        slot.cut_while_connecting = c.cut_after_first_failure;
        std::vector<uint16_t> attempted;
        const auto attempting = [&](const Endpoint& endpoint) {
            attempted.push_back(endpoint.Port());
        };
        std::shared_ptr<Tcp_Socket> socket;
        try {
            socket = connector.Connect("camera.local", endpoints, 5s, slot, attempting);
        } catch (const Socket_Error& e) {
            EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
        }
        EXPECT_EQ(socket != nullptr, c.connects);
        if (socket) {
            EXPECT_TRUE(socket->Established());
            EXPECT_EQ(socket, slot.held) << "the connected socket stays where a cut reaches it";
        }
        EXPECT_EQ(attempted, c.attempted);
        EXPECT_EQ(slot.holds, static_cast<int>(c.attempted.size()));
        EXPECT_EQ(slot.lasts, c.lasts);
    }
}

TEST(Server_Connector_Connect, No_Address_Fails_Naming_The_Host) {
    std::mutex guard;
    Server_Connector connector(guard);
    Test_Slot slot;
    try {
        connector.Connect("camera.local", {}, 1s, slot, {});
        ADD_FAILURE() << "connected to nothing";
    } catch (const Socket_Error& e) {
        EXPECT_STREQ(e.what(), "no address for camera.local");
    }
    EXPECT_EQ(slot.holds, 0);
}

TEST(Server_Connector_Connect, A_Cut_From_Another_Thread_Ends_The_Wait_And_Every_Later_Attempt) {
    const test::Full_Listener silent;
    std::mutex guard;
    Server_Connector connector(guard);
    Test_Slot slot;
    const std::vector<Endpoint> endpoints{Loopback(silent.Port()), Loopback(silent.Port())};
    std::atomic<int> attempts{0};
    auto connecting = std::async(std::launch::async, [&]() -> std::string {
        try {
            connector.Connect("camera.local", endpoints, 30s, slot,
                              [&](const Endpoint&) { ++attempts; });
            return "connected";
        } catch (const Socket_Timeout&) {
            return "timed out";
        } catch (const Socket_Error&) {
            return "cut";
        }
    });
    ASSERT_TRUE(Comes_True([&] {
        std::lock_guard lock(guard);
        return slot.held != nullptr;
    }));
    std::this_thread::sleep_for(50ms); // the connect is waiting by now
    const auto start = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(guard);
        slot.Cut();
    }
    ASSERT_EQ(connecting.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(connecting.get(), "cut");
    EXPECT_EQ(attempts, 1) << "no other address is tried after a cut";
}

// A resolver that blocks until released, counting its calls.
struct Blocked_Resolver {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);

    Resolver Get() const {
        return [released = released, calls = calls](const std::string&, uint16_t port) {
            ++*calls;
            released.wait();
            return std::vector<Endpoint>{Loopback(port)};
        };
    }
};

std::future<std::string> Look_Up_In_Background(Server_Connector& connector,
                                               const Resolver& resolver, Test_Slot& slot) {
    return std::async(std::launch::async, [&connector, resolver, &slot]() -> std::string {
        try {
            return std::to_string(
                connector.Look_Up(resolver, "camera.local", 2121, 30s, slot).front().Port());
        } catch (const Socket_Timeout&) {
            return "timed out";
        } catch (const Socket_Error&) {
            return "cut";
        }
    });
}

TEST(Server_Connector_Look_Up, An_Interrupted_Lookup_Is_Waited_For_Again_An_Abandoned_One_Is_Not) {
    struct Case {
        const char* name;
        bool abandon;
        int calls_after_second_wait;
    };
    const Case cases[] = {{"interrupted", false, 1}, {"abandoned", true, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Blocked_Resolver resolver;
        std::mutex guard;
        Server_Connector connector(guard);
        Test_Slot slot;
        auto first = Look_Up_In_Background(connector, resolver.Get(), slot);
        ASSERT_TRUE(Comes_True([&] { return *resolver.calls == 1; }));
        std::this_thread::sleep_for(20ms);
        const auto start = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(guard);
            if (c.abandon)
                connector.Abandon_Locked();
            else
                connector.Interrupt_Locked();
        }
        ASSERT_EQ(first.wait_for(1s), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        EXPECT_EQ(first.get(), "cut");

        auto second = Look_Up_In_Background(connector, resolver.Get(), slot);
        EXPECT_TRUE(Comes_True([&] { return *resolver.calls == c.calls_after_second_wait; }));
        // The count is already right before the second lookup's thread has
        // even begun: it must be seen waiting before the first is let go, or
        // on a slow machine it starts only after and rightly looks up anew.
        EXPECT_EQ(second.wait_for(300ms), std::future_status::timeout);
        resolver.release.set_value();
        ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
        EXPECT_EQ(second.get(), "2121");
        EXPECT_EQ(*resolver.calls, c.calls_after_second_wait);
    }
}

TEST(Server_Connector_Look_Up, Digits_Need_No_Resolver_And_A_Cut_Slot_Starts_No_Lookup) {
    Blocked_Resolver resolver;
    resolver.release.set_value();
    std::mutex guard;
    Server_Connector connector(guard);
    Test_Slot slot;
    const std::vector<Endpoint> numeric =
        connector.Look_Up(resolver.Get(), "127.0.0.1", 21, 1s, slot);
    ASSERT_EQ(numeric.size(), 1u);
    EXPECT_EQ(numeric.front().Host(), "127.0.0.1");
    EXPECT_EQ(*resolver.calls, 0);

    slot.cut = true;
    EXPECT_THROW(connector.Look_Up(resolver.Get(), "camera.local", 21, 1s, slot), Socket_Error);
    EXPECT_EQ(*resolver.calls, 0);
}

TEST(Server_Connector_Look_Up, A_Name_Server_That_Never_Answers_Times_Out) {
    Blocked_Resolver resolver;
    std::mutex guard;
    Server_Connector connector(guard);
    Test_Slot slot;
    EXPECT_THROW(connector.Look_Up(resolver.Get(), "camera.local", 21, 50ms, slot), Socket_Timeout);
    resolver.release.set_value();
}

} // namespace
} // namespace vistrel
