// The stack session over a virtual neighbourhood on a manual clock.
#include "host/StackSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclAPI.h"

namespace kavri::host {
namespace {

const char* const kStreet =
    "stacks microsoft\n"
    "radio (00:1A:7D:DA:71:13) \"Shop Radio\"\n"
    "device (00:17:E5:3A:91:02) \"Anna\" class 0x5A020C\n"
    "  service 9 \"OBEX Object Push\" 0x1105\n";

std::string Inboxes() {
    return (std::filesystem::temp_directory_path() / "kavri-host-stack-inboxes").string();
}

TEST(StackSession, TheStacksUnloadWhileTheNeighbourhoodStillStands) {
    // Situation: a session on a one-radio street, and a stack component that
    // watches the manager unload as the session goes.
    // Expected: the Bluetooth transport is there while the session lives; at
    // the unload the neighbourhood is still current; afterwards neither the
    // manager nor the neighbourhood is left.
    ManualClock clock;
    PollEventLoop loop(clock);
    TwclAPI api(loop);
    std::optional<bool> neighbourhoodAtUnload;
    api.OnUnloaded = [&](TwclAPI&) {
        neighbourhoodAtUnload = sim::VirtualNeighbourhood::Current() != nullptr;
    };
    {
        StackSession session(loop, clock, Inboxes());
        const Result opened = session.OpenScenario(sim::ParseScenario(kStreet));
        ASSERT_TRUE(opened) << opened.Message;
        EXPECT_TRUE(session.Simulated());
        ASSERT_NE(session.Devices(), nullptr);
        EXPECT_NE(session.Devices()->ServerOf("(00:17:E5:3A:91:02)"), nullptr);
        EXPECT_TRUE(IsTransportAvailable(TwclTransport::trBluetooth));
    }
    EXPECT_EQ(neighbourhoodAtUnload, std::optional<bool>(true));
    EXPECT_EQ(TwclAPIManager::Current(), nullptr);
    EXPECT_EQ(sim::VirtualNeighbourhood::Current(), nullptr);
}

TEST(StackSession, AFailedOpenLeavesNothingRunning) {
    // Situation: a scenario file that does not exist; one with a misspelt
    // behaviour on its second line; then a second session while a first one
    // holds the stacks.
    // Expected: failures naming the file, the line, and the refusal; after
    // each failure neither a manager nor a neighbourhood of the failed session
    // is left, and the first session keeps its stacks.
    ManualClock clock;
    PollEventLoop loop(clock);
    {
        StackSession session(loop, clock, Inboxes());
        const Result missing = session.Open(std::string("/nonexistent/street.scenario"));
        EXPECT_FALSE(missing);
        EXPECT_NE(missing.Message.find("/nonexistent/street.scenario"), std::string::npos)
            << missing.Message;
        const auto path = std::filesystem::temp_directory_path() / "kavri-host-bad.scenario";
        std::ofstream(path)
            << "stacks microsoft\ndevice (00:17:E5:3A:91:02) \"A\" behaviour acept\n";
        const Result misspelt = session.Open(path.string());
        std::filesystem::remove(path);
        EXPECT_FALSE(misspelt);
        EXPECT_NE(misspelt.Message.find(":2: unknown behaviour"), std::string::npos)
            << misspelt.Message;
        EXPECT_EQ(TwclAPIManager::Current(), nullptr);
        EXPECT_EQ(sim::VirtualNeighbourhood::Current(), nullptr);
    }
    StackSession first(loop, clock, Inboxes());
    ASSERT_TRUE(first.OpenScenario(sim::ParseScenario(kStreet)));
    StackSession second(loop, clock, Inboxes());
    EXPECT_FALSE(second.OpenScenario(sim::ParseScenario(kStreet)));
    EXPECT_FALSE(second.Open(std::nullopt));
    EXPECT_FALSE(second.Simulated());
    EXPECT_TRUE(IsTransportAvailable(TwclTransport::trBluetooth));
}

}  // namespace
}  // namespace kavri::host
