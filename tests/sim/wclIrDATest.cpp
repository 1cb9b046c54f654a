// The IrDA loader against the virtual neighbourhood's Winsock and SetupAPI.
#include "stack/wclIrDA.h"

#include <gtest/gtest.h>

#include "LoaderTestSupport.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "stack/wclTypes.h"

#include <optional>

namespace kavri {
namespace {

using sim::ParseScenario;
using sim::VirtualNeighbourhood;

class IrDALoader : public ::testing::Test {
protected:
    void Start(const char* text) { m_neighbourhood.emplace(ParseScenario(text), m_clock); }
    void TearDown() override {
        m_loader.Unload();
        if (m_neighbourhood) {
            EXPECT_EQ(m_neighbourhood->OpenHandleCount(), 0u);
        }
    }

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    test::MessageRecorder m_recorder{m_loop};
    std::optional<VirtualNeighbourhood> m_neighbourhood;
    TwclIrDALoader m_loader{m_clock};
};

TEST_F(IrDALoader, AbsentWhenSocketsOfTheFamilyCannotBeOpened) {
    // A system without IrDA, and one without any neighbourhood at all.
    // Expected: absent and not loaded, no watcher started.
    const std::size_t threads = test::ThreadCount();
    EXPECT_FALSE(m_loader.Load(m_recorder.Handle()));
    Start("stacks microsoft\nradio (00:1A:7D:DA:71:13) \"R\"\n");
    EXPECT_FALSE(m_loader.Load(m_recorder.Handle()));
    EXPECT_FALSE(m_loader.IsLoaded());
    EXPECT_EQ(test::ThreadCount(), threads);
}

TEST_F(IrDALoader, ReportsADevicePresentAtLoad) {
    // IrDA installed with a device in reach.
    // Expected: load says present.
    Start("stacks irda\nirda-device\n");
    EXPECT_TRUE(m_loader.Load(m_recorder.Handle()));
    EXPECT_TRUE(m_loader.IsDevicePresent());
}

TEST_F(IrDALoader, WatcherPostsArrivalAndRemovalWithinASecond) {
    // IrDA installed, no device; one comes, then goes.
    // Expected: loaded but absent; 1034 after the next second, then 1035; nothing more.
    Start("stacks irda\n");
    EXPECT_FALSE(m_loader.Load(m_recorder.Handle()));
    EXPECT_TRUE(m_loader.IsLoaded());
    m_neighbourhood->SetIrDADevicePresent(true);
    m_clock.Advance(Clock::Duration(1000));
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kIrDAPresent));
    m_neighbourhood->SetIrDADevicePresent(false);
    m_clock.Advance(Clock::Duration(1000));
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kIrDAAbsent));
    EXPECT_EQ(m_recorder.Numbers(),
              (std::vector<std::uint32_t>{wclMsg::kIrDAPresent, wclMsg::kIrDAAbsent}));
}

TEST_F(IrDALoader, UnloadStopsTheWatcher) {
    // Loaded, then unloaded.
    // Expected: the watcher thread is gone.
    Start("stacks irda\n");
    const std::size_t threads = test::ThreadCount();
    m_loader.Load(m_recorder.Handle());
    EXPECT_EQ(test::ThreadCount(), threads + 1);
    m_loader.Unload();
    EXPECT_EQ(test::ThreadCount(), threads);
    EXPECT_FALSE(m_loader.IsDevicePresent());
}

}  // namespace
}  // namespace kavri
