#include "stack/wclStackTable.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "stack/wclAPI.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclBluetoothDiscovery.h"
#include "stack/wclLoaders.h"
#include "wclFakeStacks.h"
#include "wclTestBinding.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavri {
namespace {

using test::kTestStackAPI;
using test::ProcessPending;
using test::TestStackLine;
using test::TestStackState;

class StackTableTest : public ::testing::Test {
protected:
    ManualClock clock;
    PollEventLoop loop{clock};
    std::shared_ptr<TestStackState> state = std::make_shared<TestStackState>();
};

TEST_F(StackTableTest, ANewStackIsOneMoreLine) {
    // The default lines plus the test stack's, whose radio is ready (none of the
    // default stacks is installed here). Expected: the manager loads it, its radio
    // is listed and answers, its watcher's messages move its bit, Unload frees it.
    wclStackTable table = DefaultStackTable();
    table.push_back(TestStackLine(state));
    TwclAPIManager manager(loop, CreateLoaders(table, clock));
    TwclAPI api(loop);
    int changes = 0;
    api.OnChanged = [&](TwclAPI&) { ++changes; };
    manager.Load();
    ProcessPending(loop);

    TwclBluetoothAPIs onlyTest;
    onlyTest.Include(kTestStackAPI);
    EXPECT_EQ(manager.APIs(), onlyTest);
    EXPECT_TRUE(IsTransportAvailable(TwclTransport::trBluetooth));
    EXPECT_EQ(TwclBluetoothRadio(kTestStackAPI).Address(),
              UInt64ToAddress(test::kTestRadioAddress));

    TwclBluetoothDiscovery discovery(loop);
    const auto radios = discovery.EnumRadios();
    ASSERT_EQ(radios->Count(), 1);
    EXPECT_EQ(radios->Items(0).API(), kTestStackAPI);

    PostMessage(state->Window(), test::kTestStackRemoved);
    ProcessPending(loop);
    EXPECT_TRUE(manager.APIs().Empty());
    EXPECT_FALSE(IsTransportAvailable(TwclTransport::trBluetooth));
    PostMessage(state->Window(), test::kTestStackArrived);
    ProcessPending(loop);
    EXPECT_EQ(manager.APIs(), onlyTest);
    EXPECT_EQ(changes, 2);

    ASSERT_TRUE(state->loaded);
    manager.Unload();
    EXPECT_FALSE(state->loaded);
}

TEST_F(StackTableTest, RefusesLinesThatClash) {
    // The default lines plus one test line that breaks a rule of the table.
    // Expected: the manager refuses the set, naming the line, and none is current.
    struct Case {
        const char* rule;
        wclStackLine line;
    };
    const auto bluetooth = [this](TwclBluetoothAPI api, std::uint32_t arrival) {
        wclStackLine line = TestStackLine(state);
        std::get<wclBluetoothStack>(line.stack).api = api;
        line.arrivalMessage = arrival;
        return line;
    };
    const Case cases[] = {
        {"value above 7", bluetooth(static_cast<TwclBluetoothAPI>(8), test::kTestStackArrived)},
        {"value taken", bluetooth(TwclBluetoothAPI::baToshiba, test::kTestStackArrived)},
        {"message taken", bluetooth(kTestStackAPI, wclMsg::kIrDAAbsent)},
        {"derived transport",
         {wclTransportStack{TwclTransport::trSerial, nullptr}, "Test", 1100, 1101}},
        {"transport taken",
         {wclTransportStack{TwclTransport::trIrDA, nullptr}, "Test", 1100, 1101}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        wclStackTable table = DefaultStackTable();
        table.push_back(c.line);
        try {
            TwclAPIManager manager(loop, CreateLoaders(table, clock));
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("Test"), std::string::npos) << e.what();
        }
        EXPECT_EQ(TwclAPIManager::Current(), nullptr);
    }
}

}  // namespace
}  // namespace kavri
