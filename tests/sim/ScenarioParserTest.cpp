#include "sim/ScenarioParser.h"

#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace kavri::sim {
namespace {

using namespace std::string_literals;

const std::filesystem::path kDemoPath =
    std::filesystem::path(KAVRI_SOURCE_DIR) / "sim" / "demo.scenario";

// A device line with an Object Push service, for cases about other lines.
const std::string kPushService = "  service 9 \"OPP\" 0x1105\n";

const DeviceSpec& OnlyDevice(const Scenario& scenario) {
    EXPECT_EQ(scenario.devices.size(), 1u);
    return scenario.devices.at(0);
}

struct KeywordCase {
    std::string text;
    std::function<void(const Scenario&)> check;
};

TEST(ScenarioParser, EveryKeywordAndOptionLandsInTheModel) {
    // One scenario text per keyword or option.
    // Expected: the model field it names holds the written value.
    const KeywordCase cases[] = {
        {"stacks microsoft bluesoleil toshiba widcomm irda rapi bluez",
         [](const Scenario& s) {
             EXPECT_EQ(s.installedStacks,
                       (std::vector{StackKind::Microsoft, StackKind::BlueSoleil, StackKind::Toshiba,
                                    StackKind::Widcomm, StackKind::IrDA, StackKind::RAPI,
                                    StackKind::BlueZ}));
         }},
        {"STACKS IrDA  # keywords in any case, a comment after",
         [](const Scenario& s) {
             EXPECT_EQ(s.installedStacks, std::vector{StackKind::IrDA});
             EXPECT_TRUE(s.IsInstalled(StackKind::IrDA));
             EXPECT_FALSE(s.IsInstalled(StackKind::Microsoft));
         }},
        {"radio (00:1a:7d:da:71:13) \"Kavri Radio\" present 0-30s 1min-",
         [](const Scenario& s) {
             EXPECT_EQ(s.radio.address, "(00:1A:7D:DA:71:13)");
             EXPECT_EQ(s.radio.name, "Kavri Radio");
             EXPECT_EQ(s.radio.present,
                       (std::vector{Interval{0, 30000}, Interval{60000, std::nullopt}}));
         }},
        {"radio (00:00:00:00:00:01) \"\" plug 5s pull 10s",
         [](const Scenario& s) {
             EXPECT_EQ(s.radio.present, (std::vector{Interval{5000, 10000}}));
         }},
        {"irda-device\nrapi-device",
         [](const Scenario& s) {
             EXPECT_TRUE(s.irdaDevicePresent);
             EXPECT_TRUE(s.rapiDeviceConnected);
         }},
        {"device (00:11:22:33:44:55) \"Phone\" class 0x5A020C delay 250 rate 20000 arrive 2s "
         "leave 1min endpoint \"127.0.0.1:6500\"\n" +
             kPushService,
         [](const Scenario& s) {
             const DeviceSpec& d = OnlyDevice(s);
             EXPECT_EQ(d.address, "(00:11:22:33:44:55)");
             EXPECT_EQ(d.name, "Phone");
             EXPECT_EQ(d.classOfDevice, 0x5A020Cu);
             EXPECT_EQ(d.behaviour, PushBehaviour::Accept);
             EXPECT_EQ(d.answerDelayMs, 250);
             EXPECT_EQ(d.linkRateBytesPerSecond, 20000u);
             EXPECT_EQ(d.presence, (std::vector{Interval{2000, 60000}}));
             EXPECT_EQ(d.externalEndpoint, "127.0.0.1:6500");
         }},
        {"device (00:11:22:33:44:55) \"\" present 0-1s 2s-3s 4s- endpoint [::1]:650\n" +
             kPushService,
         [](const Scenario& s) {
             const DeviceSpec& d = OnlyDevice(s);
             EXPECT_EQ(d.presence, (std::vector{Interval{0, 1000}, Interval{2000, 3000},
                                                Interval{4000, std::nullopt}}));
             EXPECT_EQ(d.externalEndpoint, "[::1]:650");
             EXPECT_EQ(d.classOfDevice, 0u);
         }},
        {"device (00:11:22:33:44:55) \"X\" behaviour refuse-object\n" + kPushService,
         [](const Scenario& s) {
             EXPECT_EQ(OnlyDevice(s).behaviour, PushBehaviour::RefuseObject);
             EXPECT_EQ(OnlyDevice(s).refuseCode, 0xC3);
         }},
        {"device (00:11:22:33:44:55) \"X\" behaviour refuse-object 0xCD\n" + kPushService,
         [](const Scenario& s) { EXPECT_EQ(OnlyDevice(s).refuseCode, 0xCD); }},
        {"device (00:11:22:33:44:55) \"X\" behaviour refuse-connection\n" + kPushService,
         [](const Scenario& s) {
             EXPECT_EQ(OnlyDevice(s).behaviour, PushBehaviour::RefuseConnection);
         }},
        {"device (00:11:22:33:44:55) \"X\" behaviour busy\n" + kPushService,
         [](const Scenario& s) { EXPECT_EQ(OnlyDevice(s).behaviour, PushBehaviour::Busy); }},
        {"device (00:11:22:33:44:55) \"X\" behaviour never-answer\n" + kPushService,
         [](const Scenario& s) { EXPECT_EQ(OnlyDevice(s).behaviour, PushBehaviour::NeverAnswer); }},
        {"device (00:11:22:33:44:55) \"X\" behaviour drop-after 0x800\n" + kPushService,
         [](const Scenario& s) {
             EXPECT_EQ(OnlyDevice(s).behaviour, PushBehaviour::DropAfterBytes);
             EXPECT_EQ(OnlyDevice(s).dropAfterBytes, 2048u);
         }},
        {"device (00:11:22:33:44:55) \"Headset\" behaviour no-object-push\n"
         "  service 1 \"Headset\" 0x1108\n",
         [](const Scenario& s) {
             EXPECT_EQ(OnlyDevice(s).behaviour, PushBehaviour::NoObjectPush);
             EXPECT_EQ(OnlyDevice(s).services.size(), 1u);
         }},
        {"device (00:11:22:33:44:55) \"Bare\"",
         [](const Scenario& s) {
             EXPECT_TRUE(OnlyDevice(s).services.empty());
             EXPECT_TRUE(OnlyDevice(s).presence.empty());
             EXPECT_FALSE(OnlyDevice(s).externalEndpoint);
         }},
        {"device (00:11:22:33:44:55) \"X\"\n"
         "\t service 0 \"Zero\" 0x0001abcd comment \"c\" utf16\n"
         "  # a comment between services\n"
         "  service 30 \"Guid\" {00001105-0000-1000-8000-00805f9b34fb}\n",
         [](const Scenario& s) {
             const auto& services = OnlyDevice(s).services;
             ASSERT_EQ(services.size(), 2u);
             EXPECT_EQ(services[0], (ServiceSpec{0, "Zero", "c", "0x0001ABCD", true}));
             EXPECT_EQ(services[1], (ServiceSpec{30, "Guid", "",
                                                 "00001105-0000-1000-8000-00805F9B34FB", false}));
         }},
        {"generate 3 seed 7",
         [](const Scenario& s) { EXPECT_EQ(s.devices, GenerateDevices(3, 7)); }},
        {"\xEF\xBB\xBF# byte-order mark, CR LF line ends\r\nstacks widcomm\r\n\r\n",
         [](const Scenario& s) { EXPECT_EQ(s.installedStacks, std::vector{StackKind::Widcomm}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        c.check(ParseScenario(c.text));
    }
}

TEST(ScenarioParser, EmptyTextDescribesAnEmptyNeighbourhood) {
    // No lines at all.
    // Expected: no stacks, no devices, and a radio that is never plugged in.
    const Scenario s = ParseScenario("");
    EXPECT_TRUE(s.installedStacks.empty());
    EXPECT_TRUE(s.devices.empty());
    EXPECT_FALSE(s.RadioPresentAt(0));
    EXPECT_FALSE(s.RadioPresentAt(1'000'000));
    EXPECT_FALSE(s.irdaDevicePresent);
}

struct TimeCase {
    const char* text;
    std::int64_t ms;  // -1: an error
};

TEST(ScenarioParser, TimesTakeUnitsAndWholeMilliseconds) {
    // Delays written with each unit, fractions, and malformed times.
    // Expected: the value in milliseconds, or an error naming the time.
    const TimeCase cases[] = {
        {"250", 250},
        {"250ms", 250},
        {"2s", 2000},
        {"1.5s", 1500},
        {"0.001s", 1},
        {"2min", 120000},
        {"1.25min", 75000},
        {"1h", 3600000},
        {"0", 0},
        {"2S", 2000},
        {"1000000000000", kMaxScenarioTimeMs},
        {"1.5ms", -1},
        {"0.0001s", -1},
        {"5sec", -1},
        {"s", -1},
        {"1.", -1},
        {".5s", -1},
        {"1e3", -1},
        {"-5", -1},
        {"1.2.3s", -1},
        {"1000000000001", -1},
        {"99999999999999999999h", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string text = "device (00:11:22:33:44:55) \"X\" delay "s + c.text;
        if (c.ms < 0) {
            EXPECT_THROW(ParseScenario(text), ScenarioError);
        } else {
            EXPECT_EQ(OnlyDevice(ParseScenario(text)).answerDelayMs, c.ms);
        }
    }
}

struct EscapeCase {
    const char* quoted;  // the text between the quotes
    std::string name;    // empty with error set: an error
    bool error = false;
};

TEST(ScenarioParser, QuotedStringsCarryAnyBytes) {
    // Escapes for control characters, quotes, raw bytes and code points; bad escapes.
    // Expected: the decoded bytes exactly, or an error.
    const EscapeCase cases[] = {
        {R"(a\nb\tc\rd)", "a\nb\tc\rd"},
        {R"(say \"hi\" \\ back)", "say \"hi\" \\ back"},
        {R"(\x00\x1B[2J\xff)", "\0\x1B[2J\xFF"s},
        {R"(\u{E9}\u{1F4F1})", "\xC3\xA9\xF0\x9F\x93\xB1"},
        {"Zoë's 手机 # not a comment", "Zoë's 手机 # not a comment"},
        {R"(\q)", "", true},
        {R"(\x4)", "", true},
        {R"(\xG0)", "", true},
        {R"(\u{D800})", "", true},
        {R"(\u{110000})", "", true},
        {R"(\u{})", "", true},
        {R"(\uE9)", "", true},
        {"raw\x01control", "", true},
        {"raw\ttab", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quoted);
        const std::string text = "device (00:11:22:33:44:55) \""s + c.quoted + "\"";
        if (c.error) {
            EXPECT_THROW(ParseScenario(text), ScenarioError);
        } else {
            EXPECT_EQ(OnlyDevice(ParseScenario(text)).name, c.name);
        }
    }
}

TEST(ScenarioParser, LongNamesUpToTheLimit) {
    // Names of 300 and 4096 bytes, and one of 4097.
    // Expected: the first two kept whole; the third refused.
    for (const std::size_t length : {std::size_t{300}, kMaxScenarioTextBytes}) {
        const std::string name(length, 'n');
        const Scenario s = ParseScenario("device (00:11:22:33:44:55) \"" + name + "\"");
        EXPECT_EQ(OnlyDevice(s).name, name);
    }
    const std::string tooLong(kMaxScenarioTextBytes + 1, 'n');
    EXPECT_THROW(ParseScenario("device (00:11:22:33:44:55) \"" + tooLong + "\""), ScenarioError);
}

struct ErrorCase {
    std::string text;
    std::size_t line;
    const char* reason;  // a part of the reason
};

TEST(ScenarioParser, FaultsNameTheLineAndTheReason) {
    // One fault per text, most after a first valid line.
    // Expected: ScenarioError with that line and a reason that says what is wrong.
    const std::string dev = "device (00:11:22:33:44:55) \"X\"\n";
    const ErrorCase cases[] = {
        {"stacks microsoft\ndevice (00:11:22:33:44:5G) \"X\"", 2,
         "bad address \"(00:11:22:33:44:5G)\""},
        {"device 00:11:22:33:44:55 \"X\"", 1, "bad address"},
        {dev + "  service 32 \"OPP\" 0x1105", 2, "channel 32 outside 0..30"},
        {dev + "  service 31 \"OPP\" 0x1105", 2, "channel 31 outside 0..30"},
        {dev + "  service 256 \"OPP\" 0x1105", 2, "larger than 255"},
        {dev + "device (00:11:22:33:44:56) \"Y\" behaviour acept", 2,
         "unknown behaviour \"acept\""},
        {"radio (00:11:22:33:44:55) \"Radio", 1, "unterminated string"},
        {"radio (00:11:22:33:44:55) \"Radio\\", 1, "unterminated string"},
        {"device (00:11:22:33:44:55)", 1, "missing device name"},
        {"device", 1, "missing address"},
        {"radio (00:11:22:33:44:55)", 1, "missing radio name"},
        {dev + "  service 9 \"OPP\"", 2, "missing service class UUID"},
        {dev + "  service 9 OPP 0x1105", 2, "service name must be a quoted string"},
        {"generate 10", 1, "missing seed"},
        {"generate 10 seed", 1, "missing seed"},
        {"generate 10 salt 4", 1, "expected seed"},
        {"generate 1000001 seed 1", 1, "would make more than 1000000 devices"},
        {dev + "generate 1000000 seed 1", 2, "would make more than 1000000 devices"},
        {dev + "device (00:11:22:33:44:56) \"Y\" behaviour drop-after", 2, "missing byte count"},
        {"stacks microsoft\nstacks irda", 2, "stacks given twice (first on line 1)"},
        {"stacks hci0", 1, "unknown stack \"hci0\""},
        {"stacks", 1, "missing stack name"},
        {"stacks irda irda", 1, "listed twice"},
        {"sender on", 1, "unknown keyword \"sender\""},
        {"\"device\"", 1, "expected keyword"},
        {dev + "device (00:11:22:33:44:55) \"Y\"", 2, "given twice (first on line 1)"},
        {"  service 9 \"OPP\" 0x1105", 1, "service without a device line"},
        {dev + "generate 1 seed 1\n  service 9 \"OPP\" 0x1105", 3, "service without a device"},
        {dev + "  service 9 \"OPP\" 0x110", 2, "bad UUID \"0x110\""},
        {dev + "  service 9 \"OPP\" 00001105-0000-1000-8000-00805F9B34F", 2, "bad UUID"},
        {dev + "  service 9 \"OPP\" 0x1105 colour \"red\"", 2, "unknown service option"},
        {"device (00:11:22:33:44:55) \"X\" behaviour no-object-push\n" + kPushService, 2,
         "no-object-push"},
        {"# first\ndevice (00:11:22:33:44:55) \"X\" behaviour busy\n  service 1 \"FTP\" 0x1106\n"
         "stacks irda",
         2, "behaviour busy needs an Object Push service"},
        {"device (00:11:22:33:44:55) \"X\" endpoint localhost:650", 1, "endpoint needs"},
        {"device (00:11:22:33:44:55) \"X\" endpoint localhost:0\n" + kPushService, 1,
         "bad endpoint"},
        {"device (00:11:22:33:44:55) \"X\" endpoint \"a b:1\"\n" + kPushService, 1, "bad endpoint"},
        {"device (00:11:22:33:44:55) \"X\" behaviour refuse-object 0xA0\n" + kPushService, 1,
         "0xA0 is not a refusal"},
        {"device (00:11:22:33:44:55) \"X\" class 0x1000000", 1, "larger than 16777215"},
        {"device (00:11:22:33:44:55) \"X\" class blue", 1, "bad class of device \"blue\""},
        {"device (00:11:22:33:44:55) \"X\" arrive 20s leave 10s", 1, "leaves before it arrives"},
        {"device (00:11:22:33:44:55) \"X\" present 10s-5s", 1, "ends before it begins"},
        {"device (00:11:22:33:44:55) \"X\" present 5s", 1, "bad interval"},
        {"device (00:11:22:33:44:55) \"X\" arrive 1s present 2s-", 1, "cannot be combined"},
        {"device (00:11:22:33:44:55) \"X\" rate 1 rate 2", 1, "\"rate\" given twice"},
        {"device (00:11:22:33:44:55) \"X\" colour red", 1, "unknown device option \"colour\""},
        {"radio (00:11:22:33:44:55) \"R\" pull 1s plug 2s", 1, "pulled before it is plugged"},
        {"radio (00:11:22:33:44:55) \"R\" \"extra\"", 1, "expected radio option"},
        {"irda-device now", 1, "unexpected \"now\" after irda-device"},
        {"device (00:11:22:33:44:55) \"X\"\"Y\"", 1, "expected device option"},
        {"device (00:11:22:33:44:55) X\"Y\"", 1, "a quote inside"},
        {"stacks\x01 irda", 1, "control character 0x01"},
        {"stacks irda \xFF", 1, "not UTF-8"},
        {"device (00:11:22:33:44:55) \"" + std::string(kMaxScenarioLineBytes, 'x') + "\"", 1,
         "line longer than"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 200));
        try {
            ParseScenario(c.text, "demo.scenario");
            ADD_FAILURE() << "parsed without error";
        } catch (const ScenarioError& error) {
            EXPECT_EQ(error.Line(), c.line);
            EXPECT_NE(error.Reason().find(c.reason), std::string::npos) << error.Reason();
            EXPECT_EQ(error.Source(), "demo.scenario");
        }
    }
}

TEST(ScenarioParser, ErrorMessageReadsSourceLineReason) {
    // An unknown behaviour on line 2 of a named source.
    // Expected: what() is "source:line: reason"; hostile bytes in it come escaped.
    try {
        ParseScenario("\ndevice (00:11:22:33:44:55) \"X\" behaviour acept", "demo.scenario");
        FAIL() << "parsed without error";
    } catch (const ScenarioError& error) {
        EXPECT_STREQ(error.what(),
                     "demo.scenario:2: unknown behaviour \"acept\"; use accept, refuse-object, "
                     "refuse-connection, busy, no-object-push, never-answer or drop-after");
    }
    try {
        ParseScenario("device (00:11:22:33:44:55) \"X\" \"\\x1B[2J\\n\"", "s");
        FAIL() << "parsed without error";
    } catch (const ScenarioError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "s:1: expected device option, found the quoted text "
                  "\"\\x1B[2J\\n\"");
    }
}

TEST(ScenarioParser, OversizeTextIsRefusedAsAWhole) {
    // Text one byte over the file limit.
    // Expected: an error for the whole text (line 0), before any line is read.
    const std::string text(kMaxScenarioFileBytes + 1, '#');
    try {
        ParseScenario(text, "big");
        FAIL() << "parsed without error";
    } catch (const ScenarioError& error) {
        EXPECT_EQ(error.Line(), 0u);
        EXPECT_STREQ(error.what(), "big: larger than 16 MiB");
    }
}

TEST(ScenarioParser, GeneratorIsDeterministicAndVaried) {
    // Generated neighbourhoods from the same and from different seeds.
    // Expected: same seed, same devices; another seed, others; unique addresses,
    // mostly accepting, Object Push exactly where the behaviour allows it.
    const Scenario a = ParseScenario("generate 2000 seed 42");
    const Scenario b = ParseScenario("generate 2000 seed 42");
    const Scenario c = ParseScenario("generate 2000 seed 43");
    ASSERT_EQ(a.devices.size(), 2000u);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.devices[0], c.devices[0]);

    std::set<std::string> addresses;
    std::set<std::string> names;
    std::set<std::uint32_t> classes;
    std::size_t accepting = 0;
    std::set<PushBehaviour> behaviours;
    for (const DeviceSpec& d : a.devices) {
        SCOPED_TRACE(d.address);
        EXPECT_TRUE(IsValidAddress(d.address));
        addresses.insert(d.address);
        names.insert(d.name);
        classes.insert(d.classOfDevice);
        behaviours.insert(d.behaviour);
        accepting += d.behaviour == PushBehaviour::Accept;
        std::size_t pushServices = 0;
        std::set<std::uint8_t> channels;
        for (const ServiceSpec& service : d.services) {
            EXPECT_GE(service.channel, 1);
            EXPECT_LE(service.channel, 30);
            channels.insert(service.channel);
            pushServices += ParseScenarioUuid(service.classUuid) == OBEXObjectPushServiceClassUUID;
        }
        EXPECT_EQ(channels.size(), d.services.size());
        EXPECT_EQ(pushServices, d.behaviour == PushBehaviour::NoObjectPush ? 0u : 1u);
    }
    EXPECT_EQ(addresses.size(), 2000u);
    EXPECT_GT(names.size(), 500u);
    EXPECT_GT(classes.size(), 5u);
    EXPECT_EQ(behaviours.size(), 7u);
    EXPECT_GT(accepting, 1500u);
    EXPECT_LT(accepting, 1900u);
    // The generated text survives the round trip through the file format too.
    EXPECT_EQ(ParseScenario(FormatScenario(a)), a);
}

TEST(ScenarioParser, GeneratedDevicesKeepClearOfExplicitAddresses) {
    // An explicit device, written after the generator, that has the address the
    // generator would draw first.
    // Expected: the generator draws another one; the explicit device stays; counts add up.
    const std::string first = GenerateDevices(1, 42).at(0).address;
    const Scenario s = ParseScenario("generate 5 seed 42\ndevice " + first + " \"Mine\"");
    ASSERT_EQ(s.devices.size(), 6u);
    EXPECT_EQ(s.devices[5].name, "Mine");
    std::set<std::string> addresses;
    for (const DeviceSpec& d : s.devices)
        addresses.insert(d.address);
    EXPECT_EQ(addresses.size(), 6u);
    EXPECT_EQ(s.FindDevice(first), &s.devices[5]);
    EXPECT_THROW(GenerateDevices(kMaxScenarioDevices + 1, 1), std::length_error);
}

TEST(ScenarioParser, PresenceAtIntervalBoundaries) {
    // Devices that arrive, leave, come and go; a radio pulled and plugged in again.
    // Expected: present from the first millisecond of an interval up to, not
    // including, its end; scenario order kept.
    const Scenario s = ParseScenario(
        "radio (00:1A:7D:DA:71:13) \"R\" present 0-5s 10s-\n"
        "device (00:00:00:00:00:01) \"Always\"\n"
        "device (00:00:00:00:00:02) \"Visit\" arrive 10s leave 20s\n"
        "device (00:00:00:00:00:03) \"Late\" arrive 15s\n"
        "device (00:00:00:00:00:04) \"Early\" leave 10s\n"
        "device (00:00:00:00:00:05) \"Never\" present 3s-3s\n");
    EXPECT_TRUE(s.RadioPresentAt(0));
    EXPECT_TRUE(s.RadioPresentAt(4999));
    EXPECT_FALSE(s.RadioPresentAt(5000));
    EXPECT_FALSE(s.RadioPresentAt(9999));
    EXPECT_TRUE(s.RadioPresentAt(10000));
    EXPECT_TRUE(s.RadioPresentAt(kMaxScenarioTimeMs));

    const auto namesAt = [&](std::int64_t ms) {
        std::vector<std::string> names;
        for (const DeviceSpec* d : s.DevicesPresentAt(ms))
            names.push_back(d->name);
        return names;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(namesAt(0), (Names{"Always", "Early"}));
    EXPECT_EQ(namesAt(3000), (Names{"Always", "Early"}));
    EXPECT_EQ(namesAt(9999), (Names{"Always", "Early"}));
    EXPECT_EQ(namesAt(10000), (Names{"Always", "Visit"}));
    EXPECT_EQ(namesAt(15000), (Names{"Always", "Visit", "Late"}));
    EXPECT_EQ(namesAt(19999), (Names{"Always", "Visit", "Late"}));
    EXPECT_EQ(namesAt(20000), (Names{"Always", "Late"}));

    EXPECT_TRUE(ParseScenario("radio (00:1A:7D:DA:71:13) \"R\"").RadioPresentAt(123456));
    EXPECT_FALSE(ParseScenario("radio (00:1A:7D:DA:71:13) \"R\" plug 1s").RadioPresentAt(999));
}

TEST(ScenarioParser, FindDeviceIgnoresTheCaseOfDigits) {
    // A device written in lower case, looked up in both cases and by an unknown address.
    // Expected: stored in upper case; both look-ups find it; the unknown one finds nothing.
    const Scenario s = ParseScenario("device (0a:0b:0c:0d:0e:0f) \"X\"");
    EXPECT_EQ(s.devices.at(0).address, "(0A:0B:0C:0D:0E:0F)");
    EXPECT_EQ(s.FindDevice("(0a:0b:0c:0d:0e:0f)"), &s.devices[0]);
    EXPECT_EQ(s.FindDevice("(0A:0B:0C:0D:0E:0F)"), &s.devices[0]);
    EXPECT_EQ(s.FindDevice("(0A:0B:0C:0D:0E:00)"), nullptr);
    EXPECT_EQ(s.FindDevice("(0A:0B:0C:0D:0E:0F"), nullptr);
}

TEST(ScenarioParser, FormatRoundTripsEveryByte) {
    // A name with each of the 256 byte values, and escapes that need quoting.
    // Expected: the formatted text is valid UTF-8, parses back to the same bytes,
    // and shows no raw control character.
    std::string name;
    for (int b = 0; b < 256; ++b)
        name += static_cast<char>(b);
    name += "\xC2\x9B\xE2\x80\xAE";  // a C1 control and a bidi override, well-formed
    Scenario s;
    s.radio.present = {Interval{0, 0}};
    DeviceSpec d;
    d.address = "(00:11:22:33:44:55)";
    d.name = name;
    s.devices.push_back(d);
    const std::string text = FormatScenario(s);
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_EQ(text.find('\x1B'), std::string::npos);
    EXPECT_EQ(text.find("\xE2\x80\xAE"), std::string::npos);
    EXPECT_EQ(ParseScenario(text), s);
}

TEST(ScenarioParser, ShippedDemoParsesWithEveryBehaviour) {
    // The demo neighbourhood installed beside the program.
    // Expected: it loads; the Microsoft stack, a radio present, every behaviour,
    // the 300-character and hostile names, UTF-16 texts; it round-trips.
    const Scenario s = LoadScenarioFile(kDemoPath.string());
    EXPECT_EQ(s.installedStacks, std::vector{StackKind::Microsoft});
    EXPECT_TRUE(s.RadioPresentAt(0));
    EXPECT_GE(s.devices.size(), 12u);
    std::set<PushBehaviour> behaviours;
    bool longName = false, controlName = false, utf16 = false, arrives = false, leaves = false,
         slow = false;
    for (const DeviceSpec& d : s.devices) {
        behaviours.insert(d.behaviour);
        longName |= d.name.size() == 300;
        controlName |= std::any_of(d.name.begin(), d.name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x20; });
        for (const ServiceSpec& service : d.services)
            utf16 |= service.utf16Texts;
        arrives |= !d.presence.empty() && d.presence[0].fromMs > 0;
        leaves |= !d.presence.empty() && d.presence[0].untilMs.has_value();
        slow |= d.answerDelayMs > 0 && d.linkRateBytesPerSecond > 0;
    }
    EXPECT_EQ(behaviours.size(), 7u);
    EXPECT_TRUE(longName && controlName && utf16 && arrives && leaves && slow);
    const DeviceSpec* refusing = s.FindDevice("(00:16:B8:29:C4:0A)");
    ASSERT_NE(refusing, nullptr);
    EXPECT_EQ(refusing->behaviour, PushBehaviour::RefuseObject);
    EXPECT_EQ(refusing->refuseCode, 0xC3);
    EXPECT_EQ(ParseScenario(FormatScenario(s)), s);
}

TEST(ScenarioParser, LoadingReportsFileFaults) {
    // A missing file, a folder, a file one byte over the limit, a fault on a line.
    // Expected: errors that name the path; file-wide ones with line 0.
    const auto dir = std::filesystem::temp_directory_path() /
                     ("kavri-scenario-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto expectError = [](const std::string& path, std::size_t line, const char* reason) {
        try {
            LoadScenarioFile(path);
            ADD_FAILURE() << "loaded without error: " << path;
        } catch (const ScenarioError& error) {
            EXPECT_EQ(error.Source(), path);
            EXPECT_EQ(error.Line(), line);
            EXPECT_NE(error.Reason().find(reason), std::string::npos) << error.what();
        }
    };
    expectError((dir / "missing.scenario").string(), 0, "cannot open");
    expectError(dir.string(), 0, "is a folder");
    {
        std::ofstream(dir / "big.scenario") << std::string(kMaxScenarioFileBytes + 1, '#');
        std::ofstream(dir / "bad.scenario") << "stacks microsoft\nradio (1) \"R\"\n";
    }
    expectError((dir / "big.scenario").string(), 0, "larger than");
    expectError((dir / "bad.scenario").string(), 2, "bad address");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kavri::sim
