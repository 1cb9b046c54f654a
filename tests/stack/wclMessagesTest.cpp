#include "stack/wclMessages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/EventLoopTestSupport.h"
#include "platform/PollEventLoop.h"

namespace kavri {
namespace {

using namespace std::chrono_literals;
using test::RunUntilIdle;

constexpr std::uint32_t kMsgA = kWmUser + 1;
constexpr std::uint32_t kMsgB = kWmUser + 2;

// A poll loop that tells the test when something was posted to it, so a test
// can act while a sender is known to be waiting, without sleeping.
class ObservedLoop final : public EventLoop {
public:
    explicit ObservedLoop(const Clock& clock) : m_inner(clock) {}

    bool Post(Task task) override {
        const bool accepted = m_inner.Post(std::move(task));
        {
            std::lock_guard lock(m_mutex);
            ++m_posts;
        }
        m_posted.notify_all();
        return accepted;
    }
    void WaitForPosts(int count) {
        std::unique_lock lock(m_mutex);
        m_posted.wait(lock, [&] { return m_posts >= count; });
    }

    TimerId StartTimer(Clock::Duration interval, bool repeat, Task task) override {
        return m_inner.StartTimer(interval, repeat, std::move(task));
    }
    void StopTimer(TimerId id) override { m_inner.StopTimer(id); }
    WatchId WatchFd(int fd, unsigned events, FdCallback callback) override {
        return m_inner.WatchFd(fd, events, std::move(callback));
    }
    void UnwatchFd(WatchId id) override { m_inner.UnwatchFd(id); }
    void Run() override { m_inner.Run(); }
    void Quit() override { m_inner.Quit(); }
    bool ProcessEvents(Clock::Duration maxWait) override { return m_inner.ProcessEvents(maxWait); }
    void Shutdown() override { m_inner.Shutdown(); }
    bool IsStopping() const override { return m_inner.IsStopping(); }
    bool IsLoopThread() const override { return m_inner.IsLoopThread(); }
    const Clock& GetClock() const override { return m_inner.GetClock(); }

private:
    PollEventLoop m_inner;
    std::mutex m_mutex;
    std::condition_variable m_posted;
    int m_posts = 0;
};

// Restores the default application exception handler when a test ends.
struct ApplicationHandlerScope {
    explicit ApplicationHandlerScope(std::function<void(std::exception_ptr)> handler) {
        SetApplicationExceptionHandler(std::move(handler));
    }
    ~ApplicationHandlerScope() { SetApplicationExceptionHandler(nullptr); }
};

class MessageWindowTest : public ::testing::Test {
protected:
    ManualClock m_clock;
    ObservedLoop m_loop{m_clock};
};

// ---- posting ---------------------------------------------------------------

TEST_F(MessageWindowTest, PostsReachEachWindowInPostingOrderWithTheirParameters) {
    // Messages posted alternately to two windows, with full-width parameters.
    // Each window sees its own messages in order, parameters intact; nothing
    // runs before the loop does.
    std::vector<Message> first;
    std::vector<Message> second;
    MessageWindow a(m_loop, [&](const Message& m) { first.push_back(m); });
    MessageWindow b(m_loop, [&](const Message& m) { second.push_back(m); });
    const std::uintptr_t bigW = UINTPTR_MAX;
    const std::intptr_t negativeL = -12345;
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(PostMessage(a.Handle(), kMsgA + i, bigW - i, negativeL));
        EXPECT_TRUE(PostMessage(b.Handle(), kMsgB + i, i, -static_cast<std::intptr_t>(i)));
    }
    EXPECT_TRUE(first.empty());
    RunUntilIdle(m_loop);
    ASSERT_EQ(first.size(), 4u);
    ASSERT_EQ(second.size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(first[i].Msg, kMsgA + i);
        EXPECT_EQ(first[i].WParam, bigW - i);
        EXPECT_EQ(first[i].LParam, negativeL);
        EXPECT_EQ(second[i].Msg, kMsgB + i);
        EXPECT_EQ(second[i].LParam, -static_cast<std::intptr_t>(i));
    }
}

TEST_F(MessageWindowTest, PostsFromManyThreadsKeepEachThreadsOrder) {
    // Four threads post 1000 messages each to one window while the loop runs.
    // All arrive, each thread's in the order it posted them.
    constexpr int kThreads = 4;
    constexpr int kEach = 1000;
    std::vector<std::vector<std::intptr_t>> seen(kThreads);
    int total = 0;
    MessageWindow window(m_loop, [&](const Message& m) {
        seen[m.WParam].push_back(m.LParam);
        if (++total == kThreads * kEach) {
            m_loop.Quit();
        }
    });
    const MessageWindowHandle handle = window.Handle();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([handle, t] {
            for (int i = 0; i < kEach; ++i) {
                PostMessage(handle, kMsgA, static_cast<std::uintptr_t>(t), i);
            }
        });
    }
    m_loop.Run();
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kEach));
        for (int i = 0; i < kEach; ++i) {
            ASSERT_EQ(seen[t][i], i);
        }
    }
}

TEST_F(MessageWindowTest, MessagesToAGoneWindowAreDropped) {
    // Messages queued for a window that is then destroyed, and new ones after.
    // The handler never runs; later posts and sends fail at once.
    int handled = 0;
    auto window = std::make_unique<MessageWindow>(m_loop, [&](const Message&) { ++handled; });
    const MessageWindowHandle handle = window->Handle();
    EXPECT_TRUE(handle.IsAlive());
    PostMessage(handle, kMsgA);
    PostMessage(handle, kMsgB);
    window.reset();
    EXPECT_FALSE(handle.IsAlive());
    RunUntilIdle(m_loop);
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(PostMessage(handle, kMsgA));
    bool sent = true;
    std::thread other([&] { sent = SendMessage(handle, kMsgA); });
    other.join();
    EXPECT_FALSE(sent);
    EXPECT_FALSE(SendMessage(handle, kMsgA)) << "from the loop thread too";
    EXPECT_FALSE(PostMessage(MessageWindowHandle(), kMsgA)) << "a null handle";
    EXPECT_FALSE(SendMessage(MessageWindowHandle(), kMsgA));
}

// ---- sending ---------------------------------------------------------------

TEST_F(MessageWindowTest, SendOnTheLoopThreadCallsTheHandlerAtOnce) {
    // A send from the loop thread, whose handler sends to a second window.
    // Both handlers have run when the outer send returns; no event was processed.
    std::vector<std::string> log;
    MessageWindow inner(m_loop, [&](const Message&) { log.push_back("inner"); });
    MessageWindow outer(m_loop, [&](const Message&) {
        log.push_back("outer");
        EXPECT_TRUE(SendMessage(inner.Handle(), kMsgB));
        log.push_back("outer done");
    });
    EXPECT_TRUE(SendMessage(outer.Handle(), kMsgA));
    EXPECT_EQ(log, (std::vector<std::string>{"outer", "inner", "outer done"}));
}

TEST_F(MessageWindowTest, SendsFromManyThreadsAreAllHandledBeforeTheyReturn) {
    // Four threads send 500 messages each; every message points at the
    // sender's own data, which the handler fills in.
    // Every send returns true only after its data was written (the sender
    // reads it right after, as the stack threads do before freeing it).
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    struct Reply {
        int question = 0;
        int answer = 0;
    };
    int handled = 0;
    MessageWindow window(m_loop, [&](const Message& m) {
        auto* reply = reinterpret_cast<Reply*>(m.LParam);
        reply->answer = reply->question * 2;
        if (++handled == kThreads * kEach) {
            m_loop.Quit();
        }
    });
    const MessageWindowHandle handle = window.Handle();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                Reply reply{t * kEach + i, -1};
                const bool ok =
                    SendMessage(handle, kMsgA, 0, reinterpret_cast<std::intptr_t>(&reply));
                if (!ok || reply.answer != reply.question * 2) {
                    ++wrong;
                }
            }
        });
    }
    m_loop.Run();
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(handled, kThreads * kEach);
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(MessageWindowTest, SendWaitingWhenItsWindowIsDestroyedReturnsFalse) {
    // Another thread's send is queued; the loop thread destroys the window
    // before handling it.
    // The send returns false, the handler never runs, nothing deadlocks.
    int handled = 0;
    auto window = std::make_unique<MessageWindow>(m_loop, [&](const Message&) { ++handled; });
    const MessageWindowHandle handle = window->Handle();
    bool sent = true;
    std::thread sender([&] { sent = SendMessage(handle, kMsgA); });
    m_loop.WaitForPosts(1);
    window.reset();
    sender.join();
    EXPECT_FALSE(sent);
    RunUntilIdle(m_loop);
    EXPECT_EQ(handled, 0);
}

TEST_F(MessageWindowTest, SendWaitingWhenTheLoopShutsDownReturnsFalse) {
    // Another thread's send is queued; the loop shuts down without running it.
    // The send returns false; a later send fails at once.
    MessageWindow window(m_loop, [](const Message&) { FAIL() << "must not run"; });
    const MessageWindowHandle handle = window.Handle();
    bool sent = true;
    std::thread sender([&] { sent = SendMessage(handle, kMsgA); });
    m_loop.WaitForPosts(1);
    m_loop.Shutdown();
    sender.join();
    EXPECT_FALSE(sent);
    bool later = true;
    std::thread lateSender([&] { later = SendMessage(handle, kMsgB); });
    lateSender.join();
    EXPECT_FALSE(later);
    EXPECT_FALSE(PostMessage(handle, kMsgB));
}

TEST_F(MessageWindowTest, HandlerMayDestroyItsOwnWindow) {
    // A send from another thread whose handler destroys its own window, with
    // another message queued behind it.
    // The send reports that the handler ran; the queued message is dropped.
    std::unique_ptr<MessageWindow> window;
    int handled = 0;
    window = std::make_unique<MessageWindow>(m_loop, [&](const Message& m) {
        ++handled;
        if (m.Msg == kMsgA) {
            window.reset();
        }
    });
    const MessageWindowHandle handle = window->Handle();
    bool sent = false;
    std::thread sender([&] { sent = SendMessage(handle, kMsgA); });
    m_loop.WaitForPosts(1);
    PostMessage(handle, kMsgB);
    RunUntilIdle(m_loop);
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(handled, 1);
    EXPECT_FALSE(handle.IsAlive());
}

// ---- exceptions ------------------------------------------------------------

TEST_F(MessageWindowTest, HandlerExceptionGoesToTheApplicationHandlerAndTheLoopGoesOn) {
    // A handler throws for a posted and for a directly sent message.
    // The application handler receives both; the loop keeps handling messages.
    std::vector<std::string> caught;
    ApplicationHandlerScope scope([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            caught.emplace_back(e.what());
        }
    });
    int handled = 0;
    MessageWindow window(m_loop, [&](const Message& m) {
        ++handled;
        if (m.Msg == kMsgA) {
            throw std::runtime_error("radio went away");
        }
    });
    PostMessage(window.Handle(), kMsgA);
    PostMessage(window.Handle(), kMsgB);
    EXPECT_NO_THROW(RunUntilIdle(m_loop));
    EXPECT_EQ(handled, 2);
    EXPECT_TRUE(SendMessage(window.Handle(), kMsgA)) << "the handler ran, though it threw";
    EXPECT_THAT(caught, ::testing::ElementsAre("radio went away", "radio went away"));
}

TEST(ApplicationExceptionHandler, DefaultPrintsTheMessageAndAFailingHandlerIsContained) {
    // The default handler, then a handler that itself throws.
    // The message is written to stderr; the failing handler's exception does
    // not escape.
    SetApplicationExceptionHandler(nullptr);
    ::testing::internal::CaptureStderr();
    HandleApplicationException(std::make_exception_ptr(std::runtime_error("lost the stack")));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("lost the stack"));

    ApplicationHandlerScope scope([](std::exception_ptr) { throw 42; });
    ::testing::internal::CaptureStderr();
    HandleApplicationException(std::make_exception_ptr(std::runtime_error("second")));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("second"));
}

// ---- pumping ---------------------------------------------------------------

TEST_F(MessageWindowTest, PumpReturnsWhenTheMessageReachesTheWindow) {
    // The awaited message is posted by another thread after other traffic,
    // while the same number goes to a second window first.
    // The pump returns true once the first window handled it, having handled
    // what came before.
    std::vector<std::uint32_t> seen;
    MessageWindow target(m_loop, [&](const Message& m) { seen.push_back(m.Msg); });
    MessageWindow bystander(m_loop, [](const Message&) {});
    PostMessage(bystander.Handle(), kMsgB);
    PostMessage(target.Handle(), kMsgA);
    std::thread poster([handle = target.Handle()] { PostMessage(handle, kMsgB); });
    EXPECT_TRUE(PumpMessagesUntil(target.Handle(), kMsgB, 30s));
    poster.join();
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{kMsgA, kMsgB}));
}

TEST_F(MessageWindowTest, PumpTimesOutOnTheLoopsClock) {
    // The awaited message was handled before the pump began; a timer moves the
    // manual clock past the pump's 30 s time-out.
    // The pump returns false: only messages handled during it count.
    MessageWindow window(m_loop, [](const Message&) {});
    PostMessage(window.Handle(), kMsgA);
    RunUntilIdle(m_loop);
    m_loop.StartTimer(0ms, false, [&] { m_clock.Advance(30s); });
    const auto start = m_clock.Now();
    EXPECT_FALSE(PumpMessagesUntil(window.Handle(), kMsgA, 30s));
    EXPECT_EQ(m_clock.Now() - start, 30s);
}

TEST_F(MessageWindowTest, PumpEndsWhenTheWindowGoesOrFromAnotherThread) {
    // A pump whose window is destroyed by a queued task; a pump called off the
    // loop thread.
    // Both return false without waiting for their time-out.
    auto window = std::make_unique<MessageWindow>(m_loop, [](const Message&) {});
    const MessageWindowHandle handle = window->Handle();
    bool offThread = true;
    std::thread other([&] { offThread = PumpMessagesUntil(handle, kMsgA, 30s); });
    other.join();
    EXPECT_FALSE(offThread);
    m_loop.Post([&] { window.reset(); });
    EXPECT_FALSE(PumpMessagesUntil(handle, kMsgA, 30s));
    EXPECT_EQ(m_clock.Now(), Clock::TimePoint{});
}

// ---- notification lists ------------------------------------------------------

TEST_F(MessageWindowTest, NotificationListAddsOnceAndRemoves) {
    // One window added twice, another once, then one removed.
    // The second Add changes nothing; broadcasts reach each listed window once.
    int aCount = 0;
    int bCount = 0;
    MessageWindow a(m_loop, [&](const Message&) { ++aCount; });
    MessageWindow b(m_loop, [&](const Message&) { ++bCount; });
    NotificationList list;
    EXPECT_TRUE(list.Add(a.Handle()));
    EXPECT_FALSE(list.Add(a.Handle()));
    EXPECT_TRUE(list.Add(b.Handle()));
    EXPECT_FALSE(list.Add(MessageWindowHandle()));
    EXPECT_THAT(list.Snapshot(), ::testing::ElementsAre(a.Handle(), b.Handle()));
    EXPECT_EQ(list.BroadcastPost(kMsgA), 2u);
    RunUntilIdle(m_loop);
    EXPECT_EQ(aCount, 1);
    EXPECT_EQ(bCount, 1);
    EXPECT_TRUE(list.Remove(a.Handle()));
    EXPECT_FALSE(list.Remove(a.Handle()));
    EXPECT_EQ(list.BroadcastSend(kMsgA), 1u);
    EXPECT_EQ(aCount, 1);
    EXPECT_EQ(bCount, 2);
}

TEST_F(MessageWindowTest, NotificationListSkipsAndPrunesGoneWindows) {
    // A listed window is destroyed without being removed; another is added.
    // Broadcasts skip it and count only the living; the next Add drops it.
    MessageWindow kept(m_loop, [](const Message&) {});
    auto gone = std::make_unique<MessageWindow>(m_loop, [](const Message&) {});
    NotificationList list;
    list.Add(gone->Handle());
    list.Add(kept.Handle());
    gone.reset();
    EXPECT_EQ(list.BroadcastPost(kMsgA), 1u);
    EXPECT_EQ(list.BroadcastSend(kMsgA), 1u);
    MessageWindow added(m_loop, [](const Message&) {});
    list.Add(added.Handle());
    EXPECT_THAT(list.Snapshot(), ::testing::ElementsAre(kept.Handle(), added.Handle()));
}

TEST_F(MessageWindowTest, BroadcastSendWhileHandlersChangeTheList) {
    // Another thread sends a broadcast to three windows; each handler removes
    // itself from the list and the first also adds a new window.
    // The broadcast reaches all three and returns (the list's lock is not held
    // while handlers run); the list ends with just the new window.
    NotificationList list;
    MessageWindow late(m_loop, [](const Message&) {});
    std::vector<std::unique_ptr<MessageWindow>> windows;
    int handled = 0;
    for (int i = 0; i < 3; ++i) {
        windows.push_back(std::make_unique<MessageWindow>(m_loop, [&, i](const Message&) {
            ++handled;
            list.Remove(windows[i]->Handle());
            if (i == 0) {
                list.Add(late.Handle());
            }
        }));
        list.Add(windows.back()->Handle());
    }
    std::size_t delivered = 0;
    std::thread broadcaster([&] {
        delivered = list.BroadcastSend(kMsgA);
        m_loop.Quit();
    });
    m_loop.Run();
    broadcaster.join();
    EXPECT_EQ(delivered, 3u);
    EXPECT_EQ(handled, 3);
    EXPECT_THAT(list.Snapshot(), ::testing::ElementsAre(late.Handle()));
}

TEST(ProcessNotificationList, IsOneListForTheProcess) {
    // The process-wide list asked for twice, from two threads.
    // Both get the same object.
    NotificationList* here = &ProcessNotificationList();
    NotificationList* there = nullptr;
    std::thread other([&] { there = &ProcessNotificationList(); });
    other.join();
    EXPECT_EQ(here, there);
}

}  // namespace
}  // namespace kavri
