// Runs without a display: only QtCore is used.
#include "platform/qt/QtEventLoop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/EventLoopBehaviour.h"
#include "platform/EventLoopTestSupport.h"

// Qt is not built with ThreadSanitizer, so TSan cannot see the atomic
// reference count by which Qt hands a queued functor from the posting thread
// to the loop thread: when the poster happens to drop the last reference, the
// functor's deletion looks like a race with its call. Only that hand-over is
// silenced; races in our own code around it are still reported.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QMetaObject::invokeMethodImpl\n";
}

namespace kavri::test {
namespace {

// The one QCoreApplication of the test program, made on the main thread
// before the first test and destroyed after the last.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_platform_qt";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

struct QtLoopFactory {
    static std::unique_ptr<EventLoop> Make(const Clock& clock) {
        return std::make_unique<QtEventLoop>(clock);
    }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, EventLoopBehaviour, QtLoopFactory);

namespace {

TEST(QtEventLoop, RealClockTimerIsDrivenByQt) {
    // A 5 ms timer on the real clock while Run executes Qt's loop.
    // Qt's timer wakes the loop at the deadline; the callback quits Run.
    QtEventLoop loop;
    const auto start = std::chrono::steady_clock::now();
    bool fired = false;
    loop.StartTimer(5ms, false, [&] {
        fired = true;
        loop.Quit();
    });
    loop.Run();
    EXPECT_TRUE(fired);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 5ms);
}

TEST(QtEventLoop, QtEventsAndTasksShareTheThread) {
    // A plain Qt single-shot timer and a posted task, both on the loop thread.
    // Both run while Run executes, so library events and windows interleave.
    ManualClock clock;
    QtEventLoop loop(clock);
    bool qtRan = false;
    bool taskRan = false;
    QTimer::singleShot(0, [&] { qtRan = true; });
    loop.Post([&] { taskRan = true; });
    ASSERT_TRUE(ProcessUntil(loop, [&] { return qtRan && taskRan; }));
}

TEST(QtEventLoop, ExceptionLeavesRunAndTheLoopCanRunAgain) {
    // A task throws while Run executes Qt's loop.
    // Run rethrows it (it never crosses Qt's dispatch); a second Run works.
    ManualClock clock;
    QtEventLoop loop(clock);
    loop.Post([] { throw std::runtime_error("handler failed"); });
    EXPECT_THROW(loop.Run(), std::runtime_error);
    bool ran = false;
    loop.Post([&] {
        ran = true;
        loop.Quit();
    });
    loop.Run();
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace kavri::test
