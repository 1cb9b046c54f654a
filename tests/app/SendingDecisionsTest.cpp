#include "app/SendingDecisions.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestFolder.h"
#include "app/AppSettings.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

using test::At;
using test::Slurp;
using namespace std::chrono_literals;

constexpr std::uint32_t kRefused = 0x8000F01C;
constexpr std::uint32_t kUnableConnect = 0x8000F02B;
constexpr std::uint32_t kTimeout = 0x8000F02F;

const std::string kPhone = "(00:17:E5:3A:91:02)";
const std::string kLaptop = "(00:0D:44:B2:18:7F)";

// ---- Device types -------------------------------------------------------------

TEST(DeviceTypeName, NamesMajorAndMinorClassesAsStored) {
    // Situation: classes of device across every major class, with service bits
    // and the two format bits set where a real device would set them.
    // Expected: the stored texts, spelling included; the family text for a
    // minor without a name; an empty text for majors 9 to 30.
    struct Case {
        std::uint32_t cod;
        const char* text;
    };
    const Case cases[] = {
        {0x000000, "Unknown Device"},
        {0x000104, "Desktop computer"},
        {0x00010C, "Laptop computer"},
        {0x000114, "Palm computer"},
        {0x000118, "Computer"},
        {0x5A020C, "Smartphone"},
        {0x00020F, "Smartphone"},  // the two lowest bits are not the minor
        {0x000204, "Mobile phone"},
        {0x000214, "ISDN Modem"},
        {0x000200, "Phone device"},
        {0x000300, "LAN device"},
        {0x000318, "LAN device"},
        {0x240404, "HeadSet"},
        {0x000424, "Set tob box"},
        {0x000440, "Video Display Conferencing"},
        {0x000444, "Audio device"},  // minor 17 has no name
        {0x000448, "Gaming Toy Audio"},
        {0x00044C, "Audio device"},
        {0x000400, "Audio device"},
        {0x000540, "Keyboard"},
        {0x000544, "Peripheral Device"},  // 17: keyboard and joystick
        {0x0005C0, "Peripheral Device"},  // 48: keyboard and pointer
        {0x000580, "Pointer"},
        {0x000508, "Gemapad"},
        {0x000610, "Video Dispaly"},
        {0x000680, "Printer"},
        {0x000604, "Video device"},
        {0x000700, "Wearable device"},
        {0x000810, "Toy Controller"},
        {0x000814, "Toy device"},
        {0x000900, ""},
        {0x001E00, ""},
        {0x001F00, "Unknown Device"},
        {0xFFFFFFFF, "Unknown Device"},  // bits above 24 do not matter
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeviceTypeName(c.cod), c.text) << std::hex << c.cod;
    }
}

// ---- The decisions ------------------------------------------------------------

// A data folder with campaigns, settings on disk, a clock at a chosen moment
// and devices whose names and classes the test decides.
class SendingDecisionsTest : public ::testing::Test {
protected:
    SendingDecisionsTest()
        : m_store(DataFolder::Open(m_temp.Path() + "data"), DateFormat::Iso()),
          m_clock(At(2026, 12, 9, 10)),
          m_table(m_store, m_clock, [](std::string_view key) { return std::string(key); }),
          m_settings(m_store.Folder().SettingsFile()),
          m_decisions(m_store, m_table, m_settings, m_clock,
                      DeviceQueries{[this](const std::string& address) {
                                        ++m_nameQueries;
                                        const auto it = m_names.find(address);
                                        return it == m_names.end()
                                                   ? std::nullopt
                                                   : std::optional<std::string>(it->second);
                                    },
                                    [this](const std::string& address) {
                                        const auto it = m_classes.find(address);
                                        return it == m_classes.end()
                                                   ? std::nullopt
                                                   : std::optional<std::uint32_t>(it->second);
                                    }}) {
        m_names[kPhone] = "Zoë's Phone";
        m_classes[kPhone] = 0x5A020C;
        m_names[kLaptop] = "Work laptop";
        m_classes[kLaptop] = 0x3E010C;
        m_decisions.OnRecordFailed = [this](const std::string& message) {
            m_failures.push_back(message);
        };
    }

    // A continuous, enabled campaign with its record and its line in the list.
    void AddCampaign(const std::string& name,
                     std::vector<std::pair<std::string_view, std::string_view>> more = {}) {
        const std::string folder = m_store.CampaignFolder(name);
        std::filesystem::create_directory(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(test::Succeeded(record.WriteValues("SETTINGS", {{"Name", name},
                                                                    {"Type", "0"},
                                                                    {"Scheduling", "0"},
                                                                    {"Enabled", "1"},
                                                                    {"FileName", "promo.jpg"}})));
        if (!more.empty()) {
            ASSERT_TRUE(test::Succeeded(record.WriteValues("SETTINGS", more)));
        }
        std::string error;
        ASSERT_TRUE(
            test::Done(m_store.Campaigns().Add(DataFolder::CampaignFolderName(name)), error))
            << error;
        m_table.RefreshCampaigns();
    }

    std::string File(const std::string& campaign, const char* name) {
        return m_store.CampaignFolder(campaign) + name;
    }

    // One discovery cycle that finds the devices; returns each device's answer.
    std::vector<std::pair<bool, AcceptReason>> Cycle(const std::vector<std::string>& devices) {
        m_decisions.wclProximitySenderDiscoveryComplete(devices);
        std::vector<std::pair<bool, AcceptReason>> answers;
        for (const std::string& address : devices) {
            bool accept = false;
            const AcceptReason reason = m_decisions.wclProximitySenderAcceptDevice(address, accept);
            answers.emplace_back(accept, reason);
        }
        return answers;
    }
    std::pair<bool, AcceptReason> Decide(const std::string& address) {
        return Cycle({address}).front();
    }

    std::optional<DeviceStatus> StatusOf(const std::string& address) const {
        const DeviceRow* row = m_decisions.FindRow(address);
        EXPECT_NE(row, nullptr) << address;
        return row != nullptr ? row->Status : std::nullopt;
    }

    void SetRejectedTimeout(std::uint8_t hours) {
        const Result written = m_settings.SetRejectedTimeout(hours);
        ASSERT_TRUE(written) << written.Message;
    }

    test::TempFolder m_temp;
    CampaignStore m_store;
    ManualDateTimeClock m_clock;
    CampaignTable m_table;
    AppSettings m_settings;
    std::map<std::string, std::string> m_names;
    std::map<std::string, std::uint32_t> m_classes;
    int m_nameQueries = 0;
    std::vector<std::string> m_failures;
    SendingDecisions m_decisions;
};

const std::pair<bool, AcceptReason> kAccepted{true, AcceptReason::Accepted};

TEST_F(SendingDecisionsTest, DiscoveryListsEveryDeviceAndChoosesTheCampaign) {
    // Situation: two devices found, the laptop's name and class cannot be read.
    // Expected: rows in discovery order without status, "<unknown>" where a
    // query failed; the only campaign becomes active.
    AddCampaign("Summer");
    m_names.erase(kLaptop);
    m_classes.erase(kLaptop);
    m_decisions.wclProximitySenderDiscoveryComplete({kPhone, kLaptop});
    ASSERT_EQ(m_decisions.Rows().size(), 2u);
    const DeviceRow& phone = m_decisions.Rows()[0];
    EXPECT_EQ(phone.Name, "Zoë's Phone");
    EXPECT_EQ(phone.TypeText, "Smartphone");
    EXPECT_EQ(phone.Address, kPhone);
    EXPECT_FALSE(phone.Status.has_value());
    const DeviceRow& laptop = m_decisions.Rows()[1];
    EXPECT_EQ(laptop.Name, "<unknown>");
    EXPECT_EQ(laptop.TypeText, "<unknown>");
    EXPECT_EQ(m_table.ActiveCampaign(), "Summer");

    // A second cycle replaces the rows.
    m_decisions.wclProximitySenderDiscoveryComplete({kLaptop});
    ASSERT_EQ(m_decisions.Rows().size(), 1u);
    EXPECT_EQ(m_decisions.Rows()[0].Address, kLaptop);
}

TEST_F(SendingDecisionsTest, WithoutActiveCampaignEveryDeviceIsRefusedSilently) {
    // Situation: the only campaign is disabled, and one device is even on the
    // black list. Expected: refused without a status image, nothing named
    // to push, nothing written anywhere.
    AddCampaign("Off", {{"Enabled", "0"}});
    IniFile blackList(m_store.Folder().BlackListFile(), DateFormat::Iso());
    ASSERT_TRUE(blackList.WriteString(kPhone, "Name", "x"));
    const auto before = test::Tree(m_temp.Path());

    EXPECT_EQ(Cycle({kPhone, kLaptop}),
              (std::vector<std::pair<bool, AcceptReason>>{{false, AcceptReason::NoCampaign},
                                                          {false, AcceptReason::NoCampaign}}));
    EXPECT_FALSE(StatusOf(kPhone).has_value());
    EXPECT_FALSE(StatusOf(kLaptop).has_value());
    std::string file = "stale";
    bool more = true;
    m_decisions.wclProximitySenderGetFile(file, more);
    EXPECT_EQ(file, "");
    EXPECT_FALSE(more);

    // A refusal arriving without a campaign has no folder to go to.
    m_decisions.wclProximitySenderConnected(kPhone, kRefused);
    EXPECT_EQ(test::Tree(m_temp.Path()), before);
    ASSERT_EQ(m_failures.size(), 1u);
    EXPECT_NE(m_failures[0].find("no campaign is active"), std::string::npos) << m_failures[0];
}

TEST_F(SendingDecisionsTest, BlackListIsTestedBeforeEverythingElse) {
    // Situation: the phone is black-listed and also accepted the campaign; the
    // laptop only accepted it earlier.
    // Expected: the phone shows black-listed, the laptop already-accepted.
    AddCampaign("Summer");
    IniFile blackList(m_store.Folder().BlackListFile(), DateFormat::Iso());
    ASSERT_TRUE(blackList.WriteValues(kPhone, {{"Name", "Zoë's Phone"}, {"COD", "Smartphone"}}));
    IniFile accepted(File("Summer", "accepted.dat"), DateFormat::Iso());
    ASSERT_TRUE(accepted.WriteString(kPhone, "Coupon", ""));
    ASSERT_TRUE(accepted.WriteString(kLaptop, "Coupon", ""));

    EXPECT_EQ(Cycle({kPhone, kLaptop}),
              (std::vector<std::pair<bool, AcceptReason>>{{false, AcceptReason::BlackListed},
                                                          {false, AcceptReason::AlreadyAccepted}}));
    EXPECT_EQ(StatusOf(kPhone), dsBlackListed);
    EXPECT_EQ(StatusOf(kLaptop), dsAlreadyAccepted);
}

TEST_F(SendingDecisionsTest, RefusalExpiresExactlyRejectedTimeoutHoursLater) {
    // Situation: RejectedTimeout 24; the phone refuses the push at 10:00 on
    // 9 December.
    // Expected: refused up to 09:59:59.999 on the 10th, accepted from 10:00:00
    // exactly with status accepted, and its rejected record is then gone.
    AddCampaign("Summer");
    SetRejectedTimeout(24);
    ASSERT_EQ(Decide(kPhone), kAccepted);
    m_decisions.wclProximitySenderFileSendComplete(kPhone, kRefused);
    EXPECT_EQ(StatusOf(kPhone), dsRejected);
    const std::string rejectedPath = File("Summer", "rejected.dat");
    EXPECT_EQ(Slurp(rejectedPath), "[" + kPhone +
                                       "]\r\nName=Zoë's Phone\r\nCOD=Smartphone\r\n"
                                       "DateTime=2026-12-09 10:00:00\r\n");

    m_clock.Set(At(2026, 12, 10, 9, 59, 59, 999));
    EXPECT_EQ(Decide(kPhone), std::make_pair(false, AcceptReason::RecentlyRefused));
    EXPECT_EQ(StatusOf(kPhone), dsRejected);
    EXPECT_TRUE(IniFile(rejectedPath, DateFormat::Iso()).SectionExists(kPhone));

    m_clock.Set(At(2026, 12, 10, 10));
    EXPECT_EQ(Decide(kPhone), std::make_pair(true, AcceptReason::RefusalExpired));
    EXPECT_EQ(StatusOf(kPhone), dsAccepted);
    EXPECT_FALSE(IniFile(rejectedPath, DateFormat::Iso()).SectionExists(kPhone));
    EXPECT_TRUE(m_failures.empty());
}

TEST_F(SendingDecisionsTest, ExpiryBoundaryHoldsForEveryTimeoutAndTimeOfDay) {
    // Situation: refusals stored at awkward times of day (whose day fractions
    // do not add up exactly) with timeouts from 1 to 255 hours.
    // Expected: refused one millisecond before T + H hours, accepted at it.
    AddCampaign("Summer");
    const std::string rejectedPath = File("Summer", "rejected.dat");
    struct Case {
        int hour, minute, second;
        std::uint8_t hours;
    };
    const Case cases[] = {{10, 0, 0, 1},    {23, 59, 59, 1}, {0, 0, 1, 7},
                          {13, 37, 11, 24}, {18, 0, 0, 168}, {6, 6, 6, 255}};
    for (const Case& c : cases) {
        SetRejectedTimeout(c.hours);
        const TDateTime refusedAt = At(2026, 3, 29, c.hour, c.minute, c.second);
        IniFile rejected(rejectedPath, DateFormat::Iso());
        ASSERT_TRUE(rejected.WriteDateTime(kPhone, "DateTime", refusedAt));
        const auto expiry = std::chrono::milliseconds(std::int64_t{c.hours} * 3600000);

        m_clock.Set(refusedAt);
        m_clock.Advance(expiry - 1ms);
        EXPECT_FALSE(Decide(kPhone).first) << c.hour << ":" << c.minute << " +" << int{c.hours};
        m_clock.Advance(1ms);
        EXPECT_EQ(Decide(kPhone), std::make_pair(true, AcceptReason::RefusalExpired))
            << c.hour << ":" << c.minute << " +" << int{c.hours};
    }
}

TEST_F(SendingDecisionsTest, TimeoutZeroKeepsARefusalForGood) {
    // Situation: RejectedTimeout 0; the phone refused (connection failed).
    // Expected: refused with status rejected years later, until its record
    // is removed; then accepted again.
    AddCampaign("Summer");
    SetRejectedTimeout(0);
    ASSERT_EQ(Decide(kPhone), kAccepted);
    m_decisions.wclProximitySenderConnected(kPhone, kUnableConnect);
    m_clock.Set(At(2031, 1, 1));
    EXPECT_EQ(Decide(kPhone), std::make_pair(false, AcceptReason::RecentlyRefused));
    EXPECT_EQ(StatusOf(kPhone), dsRejected);

    IniFile rejected(File("Summer", "rejected.dat"), DateFormat::Iso());
    ASSERT_TRUE(rejected.EraseSection(kPhone));
    EXPECT_EQ(Decide(kPhone), kAccepted);
}

TEST_F(SendingDecisionsTest, RefusalWithoutDateTimeHasExpired) {
    // Situation: a hand-made rejected record without "DateTime", and one whose
    // date does not convert; RejectedTimeout 1.
    // Expected: both read as 30 December 1899 and are long expired.
    AddCampaign("Summer");
    SetRejectedTimeout(1);
    IniFile rejected(File("Summer", "rejected.dat"), DateFormat::Iso());
    ASSERT_TRUE(rejected.WriteString(kPhone, "Name", "Zoë's Phone"));
    ASSERT_TRUE(rejected.WriteString(kLaptop, "DateTime", "yesterday"));
    EXPECT_EQ(Cycle({kPhone, kLaptop}),
              (std::vector<std::pair<bool, AcceptReason>>{{true, AcceptReason::RefusalExpired},
                                                          {true, AcceptReason::RefusalExpired}}));
}

TEST_F(SendingDecisionsTest, ConnectResultsDecideWhatIsRecorded) {
    // Situation: one device per connect result: success, the two refusal
    // codes, a time-out.
    // Expected: statuses connected, rejected, rejected, failed; only the two
    // refusals are recorded, without a "Coupon" key.
    AddCampaign("Summer");
    const std::string a = "(00:00:00:00:00:0A)";
    const std::string b = "(00:00:00:00:00:0B)";
    const std::string c = "(00:00:00:00:00:0C)";
    const std::string d = "(00:00:00:00:00:0D)";
    Cycle({a, b, c, d});
    m_decisions.wclProximitySenderDevicesAccepted({a, b, c, d});
    EXPECT_EQ(StatusOf(a), dsAccepted);
    m_decisions.wclProximitySenderConnecting(a);
    EXPECT_EQ(StatusOf(a), dsConnecting);
    m_decisions.wclProximitySenderConnected(a, 0);
    m_decisions.wclProximitySenderConnected(b, kRefused);
    m_decisions.wclProximitySenderConnected(c, kUnableConnect);
    m_decisions.wclProximitySenderConnected(d, kTimeout);
    EXPECT_EQ(StatusOf(a), dsConnected);
    EXPECT_EQ(StatusOf(b), dsRejected);
    EXPECT_EQ(StatusOf(c), dsRejected);
    EXPECT_EQ(StatusOf(d), dsFailed);

    const IniFile rejected(File("Summer", "rejected.dat"), DateFormat::Iso());
    EXPECT_EQ(rejected.ReadSections(), (std::vector<std::string>{b, c}));
    EXPECT_EQ(rejected.ReadSection(b), (std::vector<std::string>{"Name", "COD", "DateTime"}));
    EXPECT_EQ(rejected.ReadString(c, "Name", "?"), "<unknown>");
    EXPECT_EQ(rejected.ReadString(c, "COD", "?"), "<unknown>");
    EXPECT_FALSE(std::filesystem::exists(File("Summer", "accepted.dat")));
}

TEST_F(SendingDecisionsTest, PushResultsDecideWhatIsRecorded) {
    // Situation: pushes that succeed, are refused, and fail otherwise.
    // Expected: sent with an accepted record (empty "Coupon" for a file
    // campaign); rejected with a rejected record; failed with nothing.
    AddCampaign("Summer");
    m_clock.Set(At(2026, 12, 9, 0, 0, 0));
    Cycle({kPhone, kLaptop});
    m_decisions.wclProximitySenderFileSendStart(kPhone);
    EXPECT_EQ(StatusOf(kPhone), dsSending);
    m_decisions.wclProximitySenderFileSendComplete(kPhone, 0);
    EXPECT_EQ(StatusOf(kPhone), dsSent);
    EXPECT_EQ(Slurp(File("Summer", "accepted.dat")),
              "[" + kPhone +
                  "]\r\nName=Zoë's Phone\r\nCOD=Smartphone\r\nDateTime=2026-12-09\r\n"
                  "Coupon=\r\n");

    m_decisions.wclProximitySenderFileSendComplete(kLaptop, 0x8000F034);
    EXPECT_EQ(StatusOf(kLaptop), dsFailed);
    m_decisions.wclProximitySenderFileSendComplete(kLaptop, kUnableConnect);
    EXPECT_EQ(StatusOf(kLaptop), dsRejected);
    const IniFile rejected(File("Summer", "rejected.dat"), DateFormat::Iso());
    EXPECT_EQ(rejected.ReadSections(), (std::vector<std::string>{kLaptop}));
    EXPECT_EQ(rejected.ReadString(kLaptop, "COD", ""), "Laptop computer");

    // The phone now holds an accepted record: not served again.
    EXPECT_EQ(Decide(kPhone), std::make_pair(false, AcceptReason::AlreadyAccepted));
}

TEST_F(SendingDecisionsTest, CouponCampaignsHandOutTheirCodeOnlyWhenEnabled) {
    // Situation: a coupon campaign with its coupon on, then switched off, and a
    // file campaign that carries a stray coupon code.
    // Expected: "Coupon" = the code only for the enabled coupon campaign;
    // empty but present otherwise.
    AddCampaign("Coupons", {{"Type", "2"}, {"Coupon", "KV-7731"}, {"CouponEnabled", "1"}});
    Cycle({kPhone});
    m_decisions.wclProximitySenderFileSendComplete(kPhone, 0);
    const std::string acceptedPath = File("Coupons", "accepted.dat");
    EXPECT_EQ(IniFile(acceptedPath, DateFormat::Iso()).ReadString(kPhone, "Coupon", "?"),
              "KV-7731");

    IniFile record(m_store.CampaignFolder("Coupons") + "settings.dat", DateFormat::Iso());
    ASSERT_TRUE(record.WriteString("SETTINGS", "CouponEnabled", "0"));
    Cycle({kLaptop});
    m_decisions.wclProximitySenderFileSendComplete(kLaptop, 0);
    const IniFile accepted(acceptedPath, DateFormat::Iso());
    EXPECT_TRUE(accepted.ValueExists(kLaptop, "Coupon"));
    EXPECT_EQ(accepted.ReadString(kLaptop, "Coupon", "?"), "");

    ASSERT_TRUE(record.WriteValues("SETTINGS", {{"Type", "0"}, {"CouponEnabled", "1"}}));
    const std::string third = "(00:00:00:00:00:03)";
    Cycle({third});
    m_decisions.wclProximitySenderFileSendComplete(third, 0);
    EXPECT_EQ(IniFile(acceptedPath, DateFormat::Iso()).ReadString(third, "Coupon", "?"), "");
}

TEST_F(SendingDecisionsTest, GetFileNamesTheActiveCampaignsPayload) {
    // Situation: a campaign whose record names its file, and one without
    // "FileName". Expected: folder + file name; the folder itself (ending in
    // a separator) for the second; More always false.
    AddCampaign("Summer");
    AddCampaign("Bare");
    IniFile record(m_store.CampaignFolder("Bare") + "settings.dat", DateFormat::Iso());
    ASSERT_TRUE(record.DeleteKey("SETTINGS", "FileName"));

    Cycle({});
    std::string file;
    bool more = true;
    m_decisions.wclProximitySenderGetFile(file, more);
    EXPECT_EQ(file, m_store.Folder().Path() + "SUMMER/promo.jpg");
    EXPECT_FALSE(more);

    Cycle({});
    more = true;
    m_decisions.wclProximitySenderGetFile(file, more);
    EXPECT_EQ(file, m_store.Folder().Path() + "BARE/");
    EXPECT_FALSE(more);
}

TEST_F(SendingDecisionsTest, CampaignsTakeTurnsAndKeepTheirOwnRecords) {
    // Situation: two active campaigns take turns; RejectedTimeout 0; the phone
    // refuses A in the first cycle and B in the second; the laptop accepts A.
    // Expected: one refusal in each campaign's file; from then on the phone is
    // refused in both, while the laptop, accepted by A, is still eligible for B.
    AddCampaign("A");
    AddCampaign("B");
    SetRejectedTimeout(0);

    ASSERT_EQ(Decide(kPhone), kAccepted);
    EXPECT_EQ(m_table.ActiveCampaign(), "A");
    m_decisions.wclProximitySenderFileSendComplete(kPhone, kRefused);
    m_decisions.wclProximitySenderFileSendComplete(kLaptop, 0);

    ASSERT_EQ(Decide(kPhone), kAccepted);
    EXPECT_EQ(m_table.ActiveCampaign(), "B");
    m_decisions.wclProximitySenderConnected(kPhone, kUnableConnect);

    EXPECT_TRUE(IniFile(File("A", "rejected.dat"), DateFormat::Iso()).SectionExists(kPhone));
    EXPECT_TRUE(IniFile(File("B", "rejected.dat"), DateFormat::Iso()).SectionExists(kPhone));

    // Cycle 3 is A again, cycle 4 B: the phone is refused in both, the
    // laptop (accepted by A) only in A.
    EXPECT_EQ(Cycle({kPhone, kLaptop}),
              (std::vector<std::pair<bool, AcceptReason>>{{false, AcceptReason::RecentlyRefused},
                                                          {false, AcceptReason::AlreadyAccepted}}));
    EXPECT_EQ(Cycle({kPhone, kLaptop}), (std::vector<std::pair<bool, AcceptReason>>{
                                            {false, AcceptReason::RecentlyRefused}, kAccepted}));
    EXPECT_EQ(m_table.ActiveCampaign(), "B");
}

TEST_F(SendingDecisionsTest, ANewRefusalRestartsTheExpiry) {
    // Situation: RejectedTimeout 2; refused at 10:00, accepted again at 12:00,
    // refused again at 12:30. Expected: refused until 14:30 and accepted then.
    AddCampaign("Summer");
    SetRejectedTimeout(2);
    Decide(kPhone);
    m_decisions.wclProximitySenderFileSendComplete(kPhone, kRefused);
    m_clock.Set(At(2026, 12, 9, 12));
    ASSERT_EQ(Decide(kPhone).second, AcceptReason::RefusalExpired);
    m_clock.Set(At(2026, 12, 9, 12, 30));
    m_names[kPhone] = "Renamed";
    m_decisions.wclProximitySenderFileSendComplete(kPhone, kRefused);
    const IniFile rejected(File("Summer", "rejected.dat"), DateFormat::Iso());
    EXPECT_EQ(rejected.ReadString(kPhone, "Name", ""), "Renamed") << "queried afresh";
    m_clock.Set(At(2026, 12, 9, 14, 29, 59));
    EXPECT_FALSE(Decide(kPhone).first);
    m_clock.Set(At(2026, 12, 9, 14, 30));
    EXPECT_TRUE(Decide(kPhone).first);
}

TEST_F(SendingDecisionsTest, HostileNamesCannotForgeRecords) {
    // Situation: a device whose name carries line breaks and a section header.
    // Expected: the record stays one section with its four keys; the name's
    // control characters become blanks.
    AddCampaign("Summer");
    m_names[kPhone] = "Evil\r\n[(00:00:00:00:00:01)]\r\nCoupon=FREE";
    Cycle({kPhone});
    EXPECT_EQ(m_decisions.Rows()[0].Name, m_names[kPhone]) << "the list keeps what was read";
    m_decisions.wclProximitySenderFileSendComplete(kPhone, 0);
    const IniFile accepted(File("Summer", "accepted.dat"), DateFormat::Iso());
    EXPECT_EQ(accepted.ReadSections(), (std::vector<std::string>{kPhone}));
    EXPECT_EQ(accepted.ReadSection(kPhone),
              (std::vector<std::string>{"Name", "COD", "DateTime", "Coupon"}));
    EXPECT_EQ(accepted.ReadString(kPhone, "Coupon", "?"), "");
}

TEST_F(SendingDecisionsTest, ARecordThatCannotBeWrittenIsReportedAndNothingStops) {
    // Situation: the active campaign's folder disappears during the cycle.
    // Expected: the push result is reported as a failure to record; the status
    // still follows the result.
    AddCampaign("Summer");
    Cycle({kPhone});
    std::filesystem::remove_all(m_store.CampaignFolder("Summer"));
    m_decisions.wclProximitySenderFileSendComplete(kPhone, 0);
    EXPECT_EQ(StatusOf(kPhone), dsSent);
    ASSERT_EQ(m_failures.size(), 1u);
    EXPECT_NE(m_failures[0].find(kPhone), std::string::npos) << m_failures[0];
    EXPECT_NE(m_failures[0].find("accepted.dat"), std::string::npos) << m_failures[0];
}

TEST_F(SendingDecisionsTest, StatusGoesToTheFirstRowOfTheAddressOnly) {
    // Situation: the same address twice in one discovery (a stack repeating
    // itself), and a status for an address not in the list.
    // Expected: only the first row changes; the unknown address changes nothing.
    AddCampaign("Summer");
    m_decisions.wclProximitySenderDiscoveryComplete({kPhone, kLaptop, kPhone});
    m_decisions.SetDeviceStatus(dsConnecting, kPhone);
    m_decisions.SetDeviceStatus(dsSent, "(00:00:00:00:00:00)");
    const auto& rows = m_decisions.Rows();
    EXPECT_EQ(rows[0].Status, dsConnecting);
    EXPECT_FALSE(rows[1].Status.has_value());
    EXPECT_FALSE(rows[2].Status.has_value());
    m_decisions.ClearRows();
    EXPECT_TRUE(m_decisions.Rows().empty());
}

TEST_F(SendingDecisionsTest, AnUnreadableDeviceFileRefusesEveryDeviceItDecidesFor) {
    // Situation: each of the three device files in turn exists but cannot be
    // read (a folder in its place), with the phone black-listed or recorded in
    // none of them; two cycles with the black list unreadable.
    // Expected: every device refused with UnreadableRecords and shown failed,
    // never served; one report per cycle naming the file; served again once
    // the file reads.
    AddCampaign("Summer");
    const std::string files[] = {m_store.Folder().BlackListFile(), File("Summer", "accepted.dat"),
                                 File("Summer", "rejected.dat")};
    for (const std::string& path : files) {
        std::filesystem::create_directory(path);
        m_failures.clear();
        EXPECT_EQ(Cycle({kPhone, kLaptop}), (std::vector<std::pair<bool, AcceptReason>>{
                                                {false, AcceptReason::UnreadableRecords},
                                                {false, AcceptReason::UnreadableRecords}}))
            << path;
        EXPECT_EQ(StatusOf(kPhone), dsFailed);
        ASSERT_EQ(m_failures.size(), 1u) << path;
        EXPECT_NE(m_failures[0].find("cannot read " + path), std::string::npos) << m_failures[0];
        Cycle({kPhone});
        EXPECT_EQ(m_failures.size(), 2u) << "one report in each cycle";
        std::filesystem::remove(path);
    }
    EXPECT_EQ(Decide(kPhone), std::make_pair(true, AcceptReason::Accepted));
}

TEST_F(SendingDecisionsTest, ACampaignForOtherDeviceTypesSkipsTheDevice) {
    // Situation: campaign A is for phones, B for every type, taking turns; a
    // headset, a phone and a device whose class cannot be read are in range.
    // Expected: in A the headset and the unreadable device are skipped without
    // a refusal status or a record, the phone is served; in B all three are.
    const std::string headset = "(00:1A:7D:00:00:01)";
    const std::string mystery = "(00:1A:7D:00:00:02)";
    m_classes[headset] = 0x240404;
    AddCampaign("A", {{"DeviceTypes", "Phone"}});
    AddCampaign("B");
    const auto skipped = std::make_pair(false, AcceptReason::OtherDeviceType);

    EXPECT_EQ(Cycle({headset, kPhone, mystery}),
              (std::vector<std::pair<bool, AcceptReason>>{skipped, kAccepted, skipped}));
    EXPECT_EQ(m_table.ActiveCampaign(), "A");
    EXPECT_EQ(StatusOf(headset), dsSkipped);
    EXPECT_EQ(StatusOf(mystery), dsSkipped);
    EXPECT_FALSE(std::filesystem::exists(File("A", "rejected.dat")));
    EXPECT_FALSE(std::filesystem::exists(File("A", "accepted.dat")));

    EXPECT_EQ(Cycle({headset, kPhone, mystery}),
              (std::vector<std::pair<bool, AcceptReason>>{kAccepted, kAccepted, kAccepted}));
    EXPECT_EQ(m_table.ActiveCampaign(), "B");

    // The black list still comes first.
    IniFile blackList(m_store.Folder().BlackListFile(), DateFormat::Iso());
    ASSERT_TRUE(blackList.WriteString(headset, "Name", "x"));
    EXPECT_EQ(Cycle({headset}).front(), std::make_pair(false, AcceptReason::BlackListed));
    EXPECT_EQ(m_table.ActiveCampaign(), "A");
}

TEST_F(SendingDecisionsTest, DeviceTypesAreReadAgainEachCycle) {
    // Situation: a campaign for computers; between two cycles its record is
    // changed to phones, then the key is emptied.
    // Expected: the phone is skipped, then served, then served by every type.
    AddCampaign("A", {{"DeviceTypes", "computer"}});
    EXPECT_EQ(Decide(kPhone), std::make_pair(false, AcceptReason::OtherDeviceType));
    EXPECT_EQ(Decide(kLaptop), kAccepted);
    IniFile record(File("A", "settings.dat"), DateFormat::Iso());
    ASSERT_TRUE(record.WriteString("SETTINGS", "DeviceTypes", "Phone"));
    EXPECT_EQ(Decide(kPhone), kAccepted);
    EXPECT_EQ(Decide(kLaptop), std::make_pair(false, AcceptReason::OtherDeviceType));
    ASSERT_TRUE(record.WriteString("SETTINGS", "DeviceTypes", ""));
    EXPECT_EQ(Decide(kLaptop), kAccepted);
}

}  // namespace
}  // namespace kavri
