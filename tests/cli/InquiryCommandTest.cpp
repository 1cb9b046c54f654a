#include "cli/InquiryCommand.h"

#include <gtest/gtest.h>

#include "CliTestSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace kavri::cli {
namespace {

// Runs the command on a scenario written to a temporary file and returns
// what it printed on each stream.
using test::Outcome;

Outcome RunOn(const std::string& scenarioText,
              const std::optional<std::string>& stack = std::nullopt) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("kavri-inquiry-" + std::to_string(::getpid()) + ".scenario");
    std::ofstream(path, std::ios::binary) << scenarioText;
    const Outcome outcome = test::Capture(
        [&](std::FILE* out, std::FILE* err) { return RunInquiry(path.string(), out, err, stack); });
    std::filesystem::remove(path);
    return outcome;
}

TEST(InquiryCommand, ListsEveryPresentDeviceWithClassChannelAndEscapedName) {
    // Three devices in range: one with Object Push, one without, one with a
    // hostile name; a fourth arrives later.
    // Expected: three tab-separated lines in inquiry order; "-" for the missing
    // channel; control characters escaped; status 0.
    const Outcome outcome = RunOn(
        "stacks microsoft\n"
        "radio (00:1A:7D:DA:71:13) \"Radio\"\n"
        "device (00:17:E5:3A:91:02) \"Anna\" class 0x5A020C\n"
        "  service 9 \"OBEX Object Push\" 0x1105\n"
        "device (00:0D:44:B2:18:7F) \"Headset\" class 0x240404 behaviour no-object-push\n"
        "  service 2 \"Hands-Free\" 0x111E\n"
        "device (00:12:EE:9A:40:B5) \"Evil\\x1B[2J\\n[X]\" class 0x5A020C\n"
        "  service 15 \"OPP\" 0x1105\n"
        "device (00:25:47:D6:0C:92) \"Later\" arrive 10min\n"
        "  service 2 \"OPP\" 0x1105\n");
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out,
              "(00:17:E5:3A:91:02)\t0x5A020C\t9\tAnna\n"
              "(00:0D:44:B2:18:7F)\t0x240404\t-\tHeadset\n"
              "(00:12:EE:9A:40:B5)\t0x5A020C\t15\tEvil\\x1B[2J\\n[X]\n");
    EXPECT_EQ(outcome.Err, "");
}

TEST(InquiryCommand, EachStackListsWhatItsOwnRadioSees) {
    // Four stacks: a shared radio, Toshiba's own radio pulled from the start;
    // one device everywhere and one only on Widcomm.
    // Expected: Microsoft and BlueSoleil list the first device, Widcomm both;
    // Toshiba has no radio; an unknown stack name is a usage error.
    const std::string scenario =
        "stacks microsoft bluesoleil toshiba widcomm\n"
        "radio (00:1A:7D:DA:71:13) \"Shared\"\n"
        "radio (00:1A:7D:DA:71:14) \"Toshiba's\" on toshiba pull 0\n"
        "device (00:17:E5:3A:91:02) \"Anna\" class 0x5A020C\n"
        "  service 9 \"OBEX Object Push\" 0x1105\n"
        "device (00:1E:3A:44:07:B1) \"Zoe\" class 0x5A020C on widcomm\n"
        "  service 4 \"OBEX Object Push\" 0x1105\n";
    const std::string anna = "(00:17:E5:3A:91:02)\t0x5A020C\t9\tAnna\n";
    for (const char* stack : {"microsoft", "BlueSoleil"}) {
        SCOPED_TRACE(stack);
        const Outcome outcome = RunOn(scenario, stack);
        EXPECT_EQ(outcome.Status, 0) << outcome.Err;
        EXPECT_EQ(outcome.Out, anna);
    }
    const Outcome widcomm = RunOn(scenario, "widcomm");
    EXPECT_EQ(widcomm.Status, 0) << widcomm.Err;
    EXPECT_EQ(widcomm.Out, anna + "(00:1E:3A:44:07:B1)\t0x5A020C\t4\tZoe\n");

    const Outcome toshiba = RunOn(scenario, "toshiba");
    EXPECT_EQ(toshiba.Status, 1);
    EXPECT_EQ(toshiba.Err, "kavrictl: the stack toshiba has no radio\n");
    const Outcome unknown = RunOn(scenario, "hci0");
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_EQ(
        unknown.Err,
        "kavrictl: unknown stack hci0; use microsoft, bluesoleil, toshiba, widcomm or bluez\n");
}

TEST(InquiryCommand, TheLinuxStackSaysWhatToDoAboutAMissingAdapter) {
    // BlueZ installed without an adapter; then asked for by name beside a
    // stack that has a radio.
    // Expected: status 1 and, after the usual line, one line of advice.
    const std::string advice =
        "kavrictl: No Bluetooth adapter was found: plug one in, and check that "
        "\"bluetoothctl list\" shows it.\n";
    const Outcome any = RunOn("stacks bluez\n");
    EXPECT_EQ(any.Status, 1);
    EXPECT_EQ(any.Err, "kavrictl: Transport is not available.\n" + advice);
    const Outcome named =
        RunOn("stacks bluez microsoft\nradio (00:1A:7D:DA:71:13) \"R\" on microsoft\n", "bluez");
    EXPECT_EQ(named.Status, 1);
    EXPECT_EQ(named.Err, "kavrictl: the stack bluez has no radio\n" + advice);
}

TEST(InquiryCommand, NoStackAtAllFailsWithTheTransportMessage) {
    // A neighbourhood where no Bluetooth stack is installed.
    // Expected: non-zero status and the library's exact message, nothing on stdout.
    const Outcome outcome = RunOn("radio (00:1A:7D:DA:71:13) \"Radio\"\n");
    EXPECT_NE(outcome.Status, 0);
    EXPECT_EQ(outcome.Out, "");
    EXPECT_EQ(outcome.Err, "kavrictl: Transport is not available.\n");
}

TEST(InquiryCommand, StackWithoutRadioFailsTheSameWay) {
    // The stack is installed but the radio is pulled from the start.
    // Expected: the transport is not available either.
    const Outcome outcome = RunOn("stacks microsoft\n");
    EXPECT_NE(outcome.Status, 0);
    EXPECT_EQ(outcome.Err, "kavrictl: Transport is not available.\n");
}

TEST(InquiryCommand, BadScenarioIsReportedWithItsLine) {
    // A scenario with a misspelt behaviour.
    // Expected: one error line naming the line number; non-zero status.
    const Outcome outcome =
        RunOn("stacks microsoft\ndevice (00:17:E5:3A:91:02) \"A\" behaviour acept\n");
    EXPECT_NE(outcome.Status, 0);
    EXPECT_NE(outcome.Err.find(":2: unknown behaviour"), std::string::npos) << outcome.Err;
}

}  // namespace
}  // namespace kavri::cli
