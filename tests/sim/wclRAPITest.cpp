// The RAPI loader against the virtual neighbourhood's "rapi.dll" and "Ceutil.dll".
#include "stack/wclRAPI.h"

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

class RAPILoader : public ::testing::Test {
protected:
    void Start(const char* text) { m_neighbourhood.emplace(ParseScenario(text), m_clock); }
    void TearDown() override { m_loader.Unload(); }

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    test::MessageRecorder m_recorder{m_loop};
    std::optional<VirtualNeighbourhood> m_neighbourhood;
    TwclRAPILoader m_loader{m_clock};
};

TEST_F(RAPILoader, AbsentWithoutTheLibraries) {
    // A neighbourhood without RAPI.
    // Expected: not loaded, no thread.
    Start("stacks microsoft\n");
    const std::size_t threads = test::ThreadCount();
    EXPECT_FALSE(m_loader.Load(m_recorder.Handle()));
    EXPECT_FALSE(m_loader.IsLoaded());
    EXPECT_EQ(test::ThreadCount(), threads);
}

TEST_F(RAPILoader, DeviceConnectedAtLoadIsReportedByMessageNotByTheLoad) {
    // A handheld is already connected when the loader loads.
    // Expected: load says false; 1024 follows without the clock moving.
    Start("stacks rapi\nrapi-device\n");
    EXPECT_FALSE(m_loader.Load(m_recorder.Handle()));
    EXPECT_TRUE(m_loader.IsLoaded());
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kRAPIConnected));
    EXPECT_TRUE(m_loader.IsConnected());
    EXPECT_TRUE(m_loader.Load(m_recorder.Handle())) << "a second load answers the state";
}

TEST_F(RAPILoader, DisconnectIsFoundWithinASecondAndReconnectAtOnce) {
    // Connected, then the handheld leaves, then it comes back.
    // Expected: 1025 after the next second's check; 1024 again as soon as it returns.
    Start("stacks rapi\nrapi-device\n");
    m_loader.Load(m_recorder.Handle());
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kRAPIConnected));
    m_neighbourhood->SetRapiDeviceConnected(false);
    m_clock.Advance(Clock::Duration(1000));
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kRAPIDisconnected));
    EXPECT_FALSE(m_loader.IsConnected());
    m_neighbourhood->SetRapiDeviceConnected(true);
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kRAPIConnected, 2));
    EXPECT_EQ(m_recorder.Numbers(),
              (std::vector<std::uint32_t>{wclMsg::kRAPIConnected, wclMsg::kRAPIDisconnected,
                                          wclMsg::kRAPIConnected}));
}

TEST_F(RAPILoader, UnloadWhileWaitingForADeviceEndsTheMonitor) {
    // No handheld: the monitor waits without a time limit.
    // Expected: Unload returns, the thread is gone, the state is false.
    Start("stacks rapi\n");
    const std::size_t threads = test::ThreadCount();
    m_loader.Load(m_recorder.Handle());
    EXPECT_EQ(test::ThreadCount(), threads + 1);
    m_loader.Unload();
    EXPECT_EQ(test::ThreadCount(), threads);
    EXPECT_FALSE(m_loader.IsConnected());
    EXPECT_TRUE(m_recorder.Numbers().empty());
    // The monitor gave its RAPI session back: a new load starts a new one.
    m_neighbourhood->SetRapiDeviceConnected(true);
    m_loader.Load(m_recorder.Handle());
    EXPECT_TRUE(m_recorder.WaitFor(wclMsg::kRAPIConnected));
}

}  // namespace
}  // namespace kavri
