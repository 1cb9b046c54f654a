// Which Bluetooth stacks see what: the "on STACKS" option of devices and radios.
#include "sim/ScenarioParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavri::sim {
namespace {

const std::string kPushService = "  service 9 \"OPP\" 0x1105\n";

TEST(ScenarioStacks, OnListsTheStacksThatSeeTheDevice) {
    // Devices with and without "on", in either letter case.
    // Expected: the listed stacks in their order; no option means every stack.
    const Scenario scenario = ParseScenario(
        "stacks microsoft toshiba widcomm\n"
        "device (00:17:E5:3A:91:02) \"Phone\" on WIDCOMM,toshiba\n" +
        kPushService + "device (00:17:E5:3A:91:03) \"Everywhere\"\n" + kPushService);
    ASSERT_EQ(scenario.devices.size(), 2u);
    const DeviceSpec& phone = scenario.devices[0];
    EXPECT_EQ(phone.visibleOn, (std::vector{StackKind::Widcomm, StackKind::Toshiba}));
    EXPECT_TRUE(phone.IsVisibleOn(StackKind::Widcomm));
    EXPECT_TRUE(phone.IsVisibleOn(StackKind::Toshiba));
    EXPECT_FALSE(phone.IsVisibleOn(StackKind::Microsoft));
    const DeviceSpec& everywhere = scenario.devices[1];
    EXPECT_TRUE(everywhere.visibleOn.empty());
    EXPECT_TRUE(everywhere.IsVisibleOn(StackKind::BlueSoleil));
    EXPECT_TRUE(everywhere.IsVisibleOn(StackKind::Microsoft));
}

TEST(ScenarioStacks, BadStackListsAreRefusedWithTheirReason) {
    // Lists with an unknown name, a transport, an empty entry, a repeat, or nothing.
    // Expected: ScenarioError on the device line, naming what is wrong.
    struct Case {
        std::string option;
        std::string reason;
    };
    const Case cases[] = {
        {"on hci0", "unknown Bluetooth stack \"hci0\""},
        {"on irda", "unknown Bluetooth stack \"irda\""},
        {"on rapi,widcomm", "unknown Bluetooth stack \"rapi\""},
        {"on widcomm,", "unknown Bluetooth stack \"\""},
        {"on ,widcomm", "unknown Bluetooth stack \"\""},
        {"on widcomm,toshiba,widcomm", "stack widcomm listed twice after on"},
        {"on", "missing stack names after on"},
        {"on \"widcomm\"", "expected stack names after on, found the quoted text"},
        {"on widcomm on toshiba", "device option \"on\" given twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        const std::string text = "device (00:17:E5:3A:91:02) \"Phone\" " + c.option + "\n";
        try {
            ParseScenario(text + kPushService);
            ADD_FAILURE() << "parsed";
        } catch (const ScenarioError& error) {
            EXPECT_EQ(error.Line(), 1u);
            EXPECT_NE(error.Reason().find(c.reason), std::string::npos) << error.Reason();
        }
    }
}

TEST(ScenarioStacks, RadiosOfTheirOwnServeTheirStacksAlone) {
    // A shared radio and one for Widcomm and Toshiba, pulled after ten
    // seconds; then the refusals of a second shared radio and of a stack
    // given two radios.
    // Expected: each stack sees its radio and its presence; the refusals name
    // the earlier line.
    const Scenario scenario = ParseScenario(
        "stacks microsoft toshiba widcomm\n"
        "radio (00:1A:7D:DA:71:13) \"Shared\"\n"
        "radio (00:1A:7D:DA:71:14) \"Own\" on widcomm,toshiba pull 10s\n");
    EXPECT_EQ(scenario.RadioOf(StackKind::Microsoft).name, "Shared");
    EXPECT_EQ(scenario.RadioOf(StackKind::Widcomm).name, "Own");
    EXPECT_EQ(scenario.RadioOf(StackKind::Toshiba).address, "(00:1A:7D:DA:71:14)");
    EXPECT_TRUE(scenario.RadioPresentAt(9999, StackKind::Widcomm));
    EXPECT_FALSE(scenario.RadioPresentAt(10000, StackKind::Toshiba));
    EXPECT_TRUE(scenario.RadioPresentAt(10000, StackKind::Microsoft));
    EXPECT_EQ(ParseScenario(FormatScenario(scenario)), scenario);

    const std::pair<std::string, std::string> refused[] = {
        {"radio (00:1A:7D:DA:71:13) \"A\"\nradio (00:1A:7D:DA:71:14) \"B\"\n",
         "radio given twice (first on line 1)"},
        {"radio (00:1A:7D:DA:71:13) \"A\" on toshiba\n"
         "radio (00:1A:7D:DA:71:14) \"B\" on widcomm,toshiba\n",
         "stack toshiba given a second radio (first on line 1)"},
    };
    for (const auto& [text, reason] : refused) {
        SCOPED_TRACE(text);
        try {
            ParseScenario(text);
            ADD_FAILURE() << "parsed";
        } catch (const ScenarioError& error) {
            EXPECT_EQ(error.Line(), 2u);
            EXPECT_NE(error.Reason().find(reason), std::string::npos) << error.Reason();
        }
    }
}

TEST(ScenarioStacks, OnSurvivesFormatting) {
    // A scenario whose devices name stack lists, written out and read again.
    // Expected: the same model, lists in the same order.
    const Scenario scenario = ParseScenario(
        "stacks bluesoleil microsoft\n"
        "device (00:17:E5:3A:91:02) \"A\" on microsoft,bluesoleil,widcomm,toshiba\n" +
        kPushService + "device (00:17:E5:3A:91:03) \"B\" on bluesoleil\n" + kPushService);
    const std::string text = FormatScenario(scenario);
    EXPECT_NE(text.find(" on microsoft,bluesoleil,widcomm,toshiba\n"), std::string::npos) << text;
    EXPECT_EQ(ParseScenario(text), scenario);
}

}  // namespace
}  // namespace kavri::sim
