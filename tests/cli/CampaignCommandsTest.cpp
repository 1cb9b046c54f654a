#include "cli/CampaignCommands.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "cli/OperatorTexts.h"

#include "app/AppSettings.h"
#include "app/AppTestFolder.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/ShippedTexts.h"

namespace kavri::cli {
namespace {

using test::At;
using test::Slurp;
using test::Spill;
using test::Tree;

using test::Outcome;

class CampaignCommandsTest : public ::testing::Test {
protected:
    CampaignCommandsTest() {
        std::filesystem::create_directory(m_temp.Path() + "src");
        m_source = m_temp.Path() + "src/promo.mp3";
        Spill(m_source, "ID3 promo bytes\r\n\x01\xFF");
    }

    // Runs one command against the data folder with a day-first regional
    // form, so both accepted forms of date input are exercised.
    Outcome Run(const std::function<int(CampaignCommands&)>& command) {
        return test::Capture([&](std::FILE* out, std::FILE* err) {
            CampaignCommands commands(m_data, m_clock, DateFormat("%d.%m.%Y", "%H:%M:%S"), m_texts,
                                      out, err);
            return command(commands);
        });
    }
    Outcome Add(const std::string& name, CampaignOptions options) {
        return Run([&](CampaignCommands& c) { return c.Add(name, options); });
    }
    Outcome Edit(const std::string& name, CampaignOptions options) {
        return Run([&](CampaignCommands& c) { return c.Edit(name, options); });
    }
    Outcome List() {
        return Run([](CampaignCommands& c) { return c.List(); });
    }
    Outcome Show(const std::string& name) {
        return Run([&](CampaignCommands& c) { return c.Show(name); });
    }
    CampaignOptions WithFile() const {
        CampaignOptions options;
        options.SourceFile = m_source;
        return options;
    }
    void AddOk(const std::string& name, CampaignOptions options) {
        const Outcome outcome = Add(name, std::move(options));
        ASSERT_EQ(outcome.Status, 0) << outcome.Err;
        ASSERT_EQ(outcome.Out, "");
        ASSERT_EQ(outcome.Err, "");
    }
    // A refusal: status 1, nothing on stdout, exactly the one line on stderr.
    static void ExpectRefused(const Outcome& outcome, const std::string& line) {
        EXPECT_EQ(outcome.Status, 1);
        EXPECT_EQ(outcome.Out, "");
        EXPECT_EQ(outcome.Err, line);
    }

    test::TempFolder m_temp;
    // The shipped language file in English, as kavrictl reads it by default.
    TextLookup m_texts = test::ShippedTexts();
    std::string m_data = m_temp.Path() + "data/";
    std::string m_source;
    // Wednesday, 9 December 2026, 14:15:16.
    ManualDateTimeClock m_clock{At(2026, 12, 9, 14, 15, 16)};
};

TEST_F(CampaignCommandsTest, EveryScheduleModeRoundTripsThroughAddListAndShow) {
    // Situation: one campaign per mode, the time window once in ISO and once
    // in the regional day-first form, times with and without seconds.
    // Expected: list shows them in creation order with the main window's
    // texts; show gives back every value typed; the record stores ISO 8601
    // whatever form was typed.
    CampaignOptions continuous = WithFile();
    AddOk("Summer sale", continuous);

    CampaignOptions iso = WithFile();
    iso.From = "2026-06-01 09:00:00";
    iso.Until = "2026-06-30 18:30";
    AddOk("Iso window", iso);

    CampaignOptions regional = WithFile();
    regional.Scheduling = "time-based";
    regional.From = "01.07.2026";
    regional.Until = "31.07.2026 23:59:59";
    AddOk("Regional window", regional);

    CampaignOptions weekly = WithFile();
    weekly.Days = "mon, FRI,sun";
    weekly.DailyFrom = "09:00";
    weekly.DailyUntil = "17:30:15";
    weekly.Enabled = false;
    AddOk("Weekly", weekly);

    const Outcome list = List();
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Err, "");
    EXPECT_EQ(list.Out,
              "Summer sale\tFile based\tenabled\tContinuous\n"
              "Iso window\tFile based\tenabled\tTime based\n"
              "Regional window\tFile based\tenabled\tTime based\n"
              "Weekly\tFile based\tdisabled\tDay of week based\n");

    auto shown = test::KeyValueLines(Show("Iso window").Out);
    EXPECT_EQ(shown["Scheduling"], "1");
    EXPECT_EQ(shown["StartDateTime"], "2026-06-01 09:00:00");
    EXPECT_EQ(shown["EndDateTime"], "2026-06-30 18:30:00");
    EXPECT_EQ(shown["Enabled"], "1");
    EXPECT_EQ(shown["FileName"], "promo.mp3");

    shown = test::KeyValueLines(Show("Regional window").Out);
    EXPECT_EQ(shown["StartDateTime"], "2026-07-01 00:00:00");
    EXPECT_EQ(shown["EndDateTime"], "2026-07-31 23:59:59");

    shown = test::KeyValueLines(Show("weekly").Out);
    EXPECT_EQ(shown["Scheduling"], "2");
    EXPECT_EQ(shown["StartTime"], "09:00:00");
    EXPECT_EQ(shown["EndTime"], "17:30:15");
    EXPECT_EQ(shown["Enabled"], "0");
    const std::map<std::string, std::string> days{{"Mon", "1"}, {"Tue", "0"}, {"Wed", "0"},
                                                  {"Thu", "0"}, {"Fri", "1"}, {"Sat", "0"},
                                                  {"Sun", "1"}};
    for (const auto& [day, flag] : days) {
        EXPECT_EQ(shown[day], flag) << day;
    }

    // A continuous campaign keeps the new editor's defaults on the other pages:
    // now, and only today's day (a Wednesday).
    shown = test::KeyValueLines(Show("SUMMER SALE").Out);
    EXPECT_EQ(shown["Scheduling"], "0");
    EXPECT_EQ(shown["StartDateTime"], "2026-12-09 14:15:16");
    EXPECT_EQ(shown["Wed"], "1");
    EXPECT_EQ(shown["Mon"], "0");

    const std::string record = Slurp(m_data + "REGIONAL WINDOW/settings.dat");
    // Typed in the regional form, stored in ISO 8601 for every locale.
    EXPECT_NE(record.find("StartDateTime=2026-07-01\r\n"), std::string::npos) << record;
    EXPECT_NE(record.find("EndDateTime=2026-07-31 23:59:59\r\n"), std::string::npos) << record;
    EXPECT_EQ(Slurp(m_data + "SUMMER SALE/promo.mp3"), Slurp(m_source));
}

TEST_F(CampaignCommandsTest, ShowPrintsEveryKeyInRecordOrder) {
    // Situation: a day-of-week campaign stored under another file name.
    // Expected: the exact lines of show, Monday first.
    CampaignOptions options = WithFile();
    options.FileName = "offer.mp3";
    options.Scheduling = "day-of-week";
    options.Days = "tue,sat";
    options.DailyFrom = "08:00:00";
    options.DailyUntil = "08:00:00";
    AddOk("Deal", options);
    const Outcome shown = Show("Deal");
    EXPECT_EQ(shown.Status, 0);
    EXPECT_EQ(shown.Out,
              "Name\tDeal\nType\t0\nScheduling\t2\n"
              "StartDateTime\t2026-12-09 14:15:16\nEndDateTime\t2026-12-09 14:15:16\n"
              "StartTime\t08:00:00\nEndTime\t08:00:00\n"
              "Mon\t0\nTue\t1\nWed\t0\nThu\t0\nFri\t0\nSat\t1\nSun\t0\n"
              "Enabled\t1\nDeviceTypes\t\nFileName\toffer.mp3\n");
    EXPECT_EQ(Slurp(m_data + "DEAL/offer.mp3"), Slurp(m_source));
}

TEST_F(CampaignCommandsTest, DeviceTypesAreCheckedStoredAndCleared) {
    // Situation: --device-types with a wrong name, then "phone,computer";
    // edited to "" later.
    // Expected: the wrong name is refused with the valid ones and nothing is
    // written; show prints the stored list, and after the edit an empty one.
    CampaignOptions options = WithFile();
    options.DeviceTypes = "phone,headset";
    ExpectRefused(Add("Phones", options),
                  "kavrictl: These device types cannot be used: \"headset\" is not a device "
                  "type (valid: Unknown, Computer, Phone, LAN, Audio, Peripheral, Video, "
                  "Wearable, Toy)\n");
    EXPECT_FALSE(std::filesystem::exists(m_data + "PHONES"));

    options.DeviceTypes = "phone,computer";
    AddOk("Phones", options);
    EXPECT_NE(Show("Phones").Out.find("\nDeviceTypes\tComputer,Phone\n"), std::string::npos);

    CampaignOptions cleared;
    cleared.DeviceTypes = "";
    const Outcome edited = Edit("Phones", cleared);
    ASSERT_EQ(edited.Status, 0) << edited.Err;
    EXPECT_NE(Show("Phones").Out.find("\nDeviceTypes\t\n"), std::string::npos);
}

TEST_F(CampaignCommandsTest, ScheduleMistakesAreRefusedBeforeAnythingIsWritten) {
    // Situation: options that cannot make a campaign that could ever be sent,
    // or that do not parse.
    // Expected: status 1, the one line below, no data folder content at all.
    struct Case {
        std::function<void(CampaignOptions&)> Set;
        std::string Err;
    };
    const std::vector<Case> cases{
        {[](CampaignOptions& o) {
             o.From = "2026-06-01";
             o.Days = "mon";
         },
         "kavrictl: both time-window (--from, --until) and day-of-week (--days, --daily-from, "
         "--daily-until) options are given; choose the mode with --scheduling\n"},
        {[](CampaignOptions& o) { o.From = "2026-06-01"; },
         "kavrictl: a time-based campaign needs --from and --until\n"},
        {[](CampaignOptions& o) { o.Scheduling = "time-based"; },
         "kavrictl: a time-based campaign needs --from and --until\n"},
        {[](CampaignOptions& o) {
             o.Days = "mon";
             o.DailyFrom = "09:00:00";
         },
         "kavrictl: a day-of-week campaign needs --days, --daily-from and --daily-until\n"},
        {[](CampaignOptions& o) {
             o.From = "2026-06-02 10:00:00";
             o.Until = "2026-06-02 09:59:59";
         },
         "kavrictl: the time window would end before it starts: from 2026-06-02 10:00:00 until "
         "2026-06-02 09:59:59\n"},
        {[](CampaignOptions& o) {
             o.Days = "mon";
             o.DailyFrom = "22:00:00";
             o.DailyUntil = "02:00:00";
         },
         "kavrictl: the daily window would end before it starts: from 22:00:00 until 02:00:00 "
         "(a daily window does not run over midnight)\n"},
        {[](CampaignOptions& o) {
             o.Days = "";
             o.DailyFrom = "09:00:00";
             o.DailyUntil = "10:00:00";
         },
         "kavrictl: a day-of-week campaign needs at least one day (--days)\n"},
        {[](CampaignOptions& o) {
             o.Days = "mon,,tue";
             o.DailyFrom = "09:00:00";
             o.DailyUntil = "10:00:00";
         },
         "kavrictl: --days: \"\" is not a day (mon, tue, wed, thu, fri, sat, sun)\n"},
        {[](CampaignOptions& o) {
             o.Days = "monday";
             o.DailyFrom = "09:00:00";
             o.DailyUntil = "10:00:00";
         },
         "kavrictl: --days: \"monday\" is not a day (mon, tue, wed, thu, fri, sat, sun)\n"},
        {[](CampaignOptions& o) {
             o.From = "2026-02-30";
             o.Until = "2026-03-01";
         },
         "kavrictl: --from: \"2026-02-30\" is not a date and time (like 2026-12-09 14:15:16 or "
         "09.12.2026 14:15:16)\n"},
        {[](CampaignOptions& o) {
             o.From = "2026-03-01";
             o.Until = "tomorrow";
         },
         "kavrictl: --until: \"tomorrow\" is not a date and time (like 2026-12-09 14:15:16 or "
         "09.12.2026 14:15:16)\n"},
        {[](CampaignOptions& o) {
             o.Days = "mon";
             o.DailyFrom = "24:00";
             o.DailyUntil = "10:00:00";
         },
         "kavrictl: --daily-from: \"24:00\" is not a time of day (like 14:15:16)\n"},
        {[](CampaignOptions& o) { o.Scheduling = "weekly"; },
         "kavrictl: --scheduling: \"weekly\" is not a mode (continuous, time-based, "
         "day-of-week)\n"},
        // A wrong value given alone is named before the values left out.
        {[](CampaignOptions& o) { o.Days = "monday"; },
         "kavrictl: --days: \"monday\" is not a day (mon, tue, wed, thu, fri, sat, sun)\n"},
        {[](CampaignOptions& o) { o.Until = "tomorrow"; },
         "kavrictl: --until: \"tomorrow\" is not a date and time (like 2026-12-09 14:15:16 or "
         "09.12.2026 14:15:16)\n"},
    };
    for (const Case& c : cases) {
        CampaignOptions options = WithFile();
        c.Set(options);
        const Outcome outcome = Add("Refused", options);
        ExpectRefused(outcome, c.Err);
        EXPECT_TRUE(Tree(m_data).empty());
    }
}

TEST_F(CampaignCommandsTest, HostileNamesAreRefusedAndNothingIsCreatedAnywhere) {
    // Situation: names that would leave the data folder, name the folder
    // itself, or carry terminal controls.
    // Expected: the editor's "cannot be used" message on one escaped line;
    // nothing inside or beside the data folder.
    const std::vector<std::pair<std::string, std::string>> cases{
        {"../x", "the name holds a path separator"},
        {"a/b", "the name holds a path separator"},
        {".", "\".\" names a folder itself"},
        {"..", "\"..\" names a folder itself"},
        {"Evil\x1B[2J\nname", "the name holds a control character"},
        {" padded", "the name begins or ends with a blank"},
    };
    const auto before = Tree(m_temp.Path());
    for (const auto& [name, why] : cases) {
        const Outcome outcome = Add(name, WithFile());
        EXPECT_EQ(outcome.Status, 1) << name;
        EXPECT_EQ(outcome.Out, "");
        // The folder itself is created on open; nothing goes into it.
        EXPECT_TRUE(Tree(m_data).empty()) << name;
        auto after = Tree(m_temp.Path());
        after.erase("data");
        EXPECT_EQ(after, before) << name;
        EXPECT_EQ(outcome.Err, "kavrictl: This campaign name cannot be used: " + why + "\n");
    }
    ExpectRefused(Add("", WithFile()), "kavrictl: Campaign name is required.\n");
}

TEST_F(CampaignCommandsTest, SourceAndFileNameProblemsAreRefused) {
    // Situation: a source that is missing or a folder, a stored name that
    // would overwrite the record, and a name taken in another letter case.
    // Expected: the file-based editor's messages; nothing created.
    CampaignOptions missing;
    missing.SourceFile = m_temp.Path() + "src/gone.mp3";
    ExpectRefused(Add("Promo", missing),
                  "kavrictl: The selected file cannot be read: " + m_temp.Path() +
                      "src/gone.mp3: No such file or directory\n");
    CampaignOptions folder;
    folder.SourceFile = m_temp.Path() + "src";
    ExpectRefused(Add("Promo", folder), "kavrictl: The selected file cannot be read: " +
                                            m_temp.Path() + "src is not a regular file\n");
    CampaignOptions record = WithFile();
    record.FileName = "Settings.dat";
    ExpectRefused(Add("Promo", record),
                  "kavrictl: This file name cannot be used: \"Settings.dat\" is one of the "
                  "campaign's own files\n");
    EXPECT_TRUE(Tree(m_data).empty());

    AddOk("Summer sale", WithFile());
    const auto before = Tree(m_data);
    ExpectRefused(Add("summer SALE", WithFile()),
                  "kavrictl: A campaign with this name already exists.\n");
    EXPECT_EQ(Tree(m_data), before);
}

TEST_F(CampaignCommandsTest, EnableAndDisableWriteOnlyEnabled) {
    // Situation: a campaign of another type (written by hand, as the coupon
    // editor would) and a file-based one.
    // Expected: the state flips in the list; every other line of the record
    // stays byte for byte.
    AddOk("Summer sale", WithFile());
    std::filesystem::create_directory(m_data + "COUPON");
    const std::string coupon =
        "[SETTINGS]\r\nName=Coupon\r\nType=2\r\nScheduling=0\r\nEnabled=0\r\nCoupon=X1\r\n";
    Spill(m_data + "COUPON/settings.dat", coupon);
    Spill(m_data + "campaigns.dat", "SUMMER SALE\r\nCOUPON\r\n");

    Outcome outcome = Run([](CampaignCommands& c) { return c.SetEnabled("coupon", true); });
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(Slurp(m_data + "COUPON/settings.dat"),
              "[SETTINGS]\r\nName=Coupon\r\nType=2\r\nScheduling=0\r\nEnabled=1\r\nCoupon=X1\r\n");
    outcome = Run([](CampaignCommands& c) { return c.SetEnabled("Summer sale", false); });
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(List().Out,
              "Summer sale\tFile based\tdisabled\tContinuous\n"
              "Coupon\tCoupon based\tenabled\tContinuous\n");
    outcome = Run([](CampaignCommands& c) { return c.SetEnabled("Summer sale", true); });
    EXPECT_EQ(outcome.Status, 0);
    EXPECT_EQ(List().Out,
              "Summer sale\tFile based\tenabled\tContinuous\n"
              "Coupon\tCoupon based\tenabled\tContinuous\n");
}

TEST_F(CampaignCommandsTest, EnableRefusesUnknownUnsafeAndRecordlessCampaigns) {
    // Situation: a name not in the list, a path, and a listed name whose
    // folder holds no record.
    // Expected: one line each; no record is created.
    std::filesystem::create_directories(m_data + "GHOST");
    Spill(m_data + "campaigns.dat", "GHOST\r\n");
    const auto before = Tree(m_temp.Path());
    ExpectRefused(Run([](CampaignCommands& c) { return c.SetEnabled("Nobody", true); }),
                  "kavrictl: There is no such campaign: Nobody\n");
    ExpectRefused(Run([](CampaignCommands& c) { return c.SetEnabled("../data", false); }),
                  "kavrictl: This campaign name cannot be used: the name holds a path separator\n");
    ExpectRefused(Run([](CampaignCommands& c) { return c.SetEnabled("ghost", true); }),
                  "kavrictl: campaign ghost has no record (" + m_data + "GHOST/settings.dat)\n");
    EXPECT_EQ(Tree(m_temp.Path()), before);
}

TEST_F(CampaignCommandsTest, RemoveDeletesFolderAndListEntryOnly) {
    // Situation: three campaigns, the middle one removed by another letter
    // case; a folder beside the data folder that "../" would reach.
    // Expected: its folder and line go, the others stay in order; unsafe and
    // unknown names are refused with nothing touched.
    AddOk("First", WithFile());
    AddOk("Middle", WithFile());
    AddOk("Last", WithFile());
    std::filesystem::create_directory(m_temp.Path() + "outside");
    Spill(m_temp.Path() + "outside/keep.txt", "keep");
    Spill(m_data + "MIDDLE/accepted.dat", "[devices]\r\n");

    Outcome outcome = Run([](CampaignCommands& c) { return c.Remove("middle"); });
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, "");
    EXPECT_FALSE(std::filesystem::exists(m_data + "MIDDLE"));
    EXPECT_EQ(List().Out,
              "First\tFile based\tenabled\tContinuous\n"
              "Last\tFile based\tenabled\tContinuous\n");

    const auto before = Tree(m_temp.Path());
    ExpectRefused(Run([](CampaignCommands& c) { return c.Remove("../outside"); }),
                  "kavrictl: This campaign name cannot be used: the name holds a path separator\n");
    ExpectRefused(Run([](CampaignCommands& c) { return c.Remove(".."); }),
                  "kavrictl: This campaign name cannot be used: \"..\" names a folder itself\n");
    ExpectRefused(Run([](CampaignCommands& c) { return c.Remove("Middle"); }),
                  "kavrictl: There is no such campaign: Middle\n");
    EXPECT_EQ(Tree(m_temp.Path()), before);
}

TEST_F(CampaignCommandsTest, EditChangesScheduleAndFileButNeverTheName) {
    // Situation: a continuous campaign edited under another letter case into
    // a time-based one, its file renamed, then replaced.
    // Expected: Name stays as first typed; the stored file follows.
    AddOk("Summer sale", WithFile());
    CampaignOptions window;
    window.From = "2026-06-01";
    window.Until = "2026-06-30";
    window.FileName = "offer.mp3";
    window.Enabled = false;
    Outcome outcome = Edit("SUMMER SALE", window);
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    auto shown = test::KeyValueLines(Show("Summer sale").Out);
    EXPECT_EQ(shown["Name"], "Summer sale");
    EXPECT_EQ(shown["Scheduling"], "1");
    EXPECT_EQ(shown["StartDateTime"], "2026-06-01 00:00:00");
    EXPECT_EQ(shown["Enabled"], "0");
    EXPECT_EQ(shown["FileName"], "offer.mp3");
    EXPECT_FALSE(std::filesystem::exists(m_data + "SUMMER SALE/promo.mp3"));
    EXPECT_EQ(Slurp(m_data + "SUMMER SALE/offer.mp3"), Slurp(m_source));

    // Only the end given: the stored start is checked against it.
    CampaignOptions backwards;
    backwards.Until = "2026-05-31 23:59:59";
    ExpectRefused(Edit("Summer sale", backwards),
                  "kavrictl: the time window would end before it starts: from 2026-06-01 "
                  "00:00:00 until 2026-05-31 23:59:59\n");

    const std::string other = m_temp.Path() + "src/other.wav";
    Spill(other, "RIFF");
    CampaignOptions replace;
    replace.SourceFile = other;
    outcome = Edit("Summer sale", replace);
    ASSERT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_FALSE(std::filesystem::exists(m_data + "SUMMER SALE/offer.mp3"));
    EXPECT_EQ(Slurp(m_data + "SUMMER SALE/other.wav"), "RIFF");
    shown = test::KeyValueLines(Show("Summer sale").Out);
    EXPECT_EQ(shown["FileName"], "other.wav");
    EXPECT_EQ(shown["Scheduling"], "1");
}

TEST_F(CampaignCommandsTest, EditRefusesUnknownTypesForeignOptionsAndUnknownNames) {
    // Situation: a campaign of a type this program lacks, a coupon campaign
    // given a file, and a name that is not listed.
    // Expected: each refused, records untouched.
    std::filesystem::create_directories(m_data + "POSTER");
    std::filesystem::create_directories(m_data + "COUPON");
    const std::string poster = "[SETTINGS]\r\nName=Poster\r\nType=7\r\nScheduling=0\r\n";
    const std::string coupon = "[SETTINGS]\r\nName=Coupon\r\nType=2\r\nScheduling=0\r\n";
    Spill(m_data + "POSTER/settings.dat", poster);
    Spill(m_data + "COUPON/settings.dat", coupon);
    Spill(m_data + "campaigns.dat", "POSTER\r\nCOUPON\r\n");
    CampaignOptions options;
    options.Enabled = false;
    ExpectRefused(Edit("Poster", options),
                  "kavrictl: campaign Poster has the type 7, which this program cannot edit\n");
    ExpectRefused(Edit("Poster", WithFile()),
                  "kavrictl: campaign Poster has the type 7, which this program cannot edit\n");
    EXPECT_EQ(Slurp(m_data + "POSTER/settings.dat"), poster);
    CampaignOptions withFile = WithFile();
    ExpectRefused(Edit("Coupon", withFile),
                  "kavrictl: --file does not apply to a coupon campaign\n");
    EXPECT_EQ(Slurp(m_data + "COUPON/settings.dat"), coupon);
    ExpectRefused(Edit("Nobody", options), "kavrictl: There is no such campaign: Nobody\n");
}

TEST_F(CampaignCommandsTest, ListEscapesHandEditedTextsAndShowsUndefined) {
    // Situation: a record whose name carries a tab and an escape sequence, a
    // listed campaign without a record, and a list line that is a path.
    // Expected: one line per campaign with the fields escaped, "UNDEFINED"
    // texts, and a warning for the skipped line.
    std::filesystem::create_directories(m_data + "EVIL");
    Spill(m_data + "EVIL/settings.dat",
          "[SETTINGS]\r\nName=Ev\til\x1B[2J\\\r\nType=0\r\nScheduling=7\r\nEnabled=1\r\n");
    Spill(m_data + "campaigns.dat", "EVIL\r\nMISSING\r\n../x\r\n");
    const Outcome outcome = List();
    EXPECT_EQ(outcome.Status, 0);
    EXPECT_EQ(outcome.Out,
              "Ev\\til\\x1B[2J\\\\\tFile based\tenabled\tUNDEFINED\n"
              "UNDEFINED\tUNDEFINED\tdisabled\tUNDEFINED\n");
    EXPECT_EQ(outcome.Err, "kavrictl: warning: the campaign list line \"../x\" is skipped\n");
}

TEST_F(CampaignCommandsTest, ListAndRefusalsSpeakTheDataFoldersLanguage) {
    // Situation: the data folder's language is German and the texts come from
    // the language file; a campaign is listed with titles, then added twice.
    // Expected: titles, type and scheduling texts and the refusal are German.
    AppSettings settings(DataFolder::Open(m_data).SettingsFile());
    ASSERT_TRUE(settings.SetLanguage("German"));
    const OperatorTexts texts = CommandTexts(m_data, "");
    m_texts = texts.Lookup();
    CampaignOptions options;
    options.SourceFile = m_source;
    ASSERT_EQ(Add("Shop", options).Status, 0);
    const Outcome listed =
        Run([&](CampaignCommands& c) { return c.List(texts.Titles(kCampaignListTitles)); });
    EXPECT_EQ(listed.Out,
              "Kampagnenname\tTyp\tAktiviert\tZeitplanung\n"
              "Shop\tDateibasiert\tenabled\tDurchgehend\n");
    const Outcome again = Add("shop", options);
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err, "kavrictl: Eine Kampagne mit diesem Namen existiert bereits.\n");
}

TEST_F(CampaignCommandsTest, NamesOutsideAsciiAreUpperCasedAndClashInAnyCase) {
    // Situation: a campaign "café", then "CAFÉ" and "Café" added, and the
    // first shown, edited and removed under other letter cases.
    // Expected: one folder "CAFÉ"; both others refused as existing; every
    // command finds it; removal takes its folder and line.
    AddOk("café", WithFile());
    EXPECT_TRUE(std::filesystem::is_directory(m_data + "CAFÉ"));
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "CAFÉ\r\n");
    ExpectRefused(Add("CAFÉ", WithFile()), "kavrictl: A campaign with this name already exists.\n");
    ExpectRefused(Add("Café", WithFile()), "kavrictl: A campaign with this name already exists.\n");
    EXPECT_EQ(test::KeyValueLines(Show("CAFÉ").Out)["Name"], "café");
    CampaignOptions off;
    off.Enabled = false;
    ASSERT_EQ(Edit("Café", off).Status, 0);
    EXPECT_EQ(List().Out, "café\tFile based\tdisabled\tContinuous\n");
    ASSERT_EQ(Run([](CampaignCommands& c) { return c.Remove("CAFÉ"); }).Status, 0);
    EXPECT_FALSE(std::filesystem::exists(m_data + "CAFÉ"));
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "");
}

TEST_F(CampaignCommandsTest, AnEarlierVersionsAsciiOnlyFolderIsStillUsed) {
    // Situation: a data folder of an earlier version, which upper-cased ASCII
    // letters only: the line "CAFé" and the folder "CAFé".
    // Expected: the campaign lists, shows and edits in its old folder; a new
    // "CAFÉ" is refused as existing; removal deletes the old folder.
    std::filesystem::create_directories(m_data + "CAFé");
    Spill(m_data + "campaigns.dat", "CAFé\r\n");
    Spill(m_data + "CAFé/settings.dat",
          "[SETTINGS]\r\nName=café\r\nType=0\r\nScheduling=0\r\nEnabled=1\r\n"
          "FileName=promo.mp3\r\n");
    Spill(m_data + "CAFé/promo.mp3", "old");
    EXPECT_EQ(List().Out, "café\tFile based\tenabled\tContinuous\n");
    EXPECT_EQ(test::KeyValueLines(Show("Café").Out)["FileName"], "promo.mp3");
    ExpectRefused(Add("CAFÉ", WithFile()), "kavrictl: A campaign with this name already exists.\n");
    CampaignOptions off;
    off.Enabled = false;
    const Outcome edited = Edit("CAFÉ", off);
    ASSERT_EQ(edited.Status, 0) << edited.Err;
    EXPECT_NE(Slurp(m_data + "CAFé/settings.dat").find("Enabled=0"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_data + "CAFÉ"));
    ASSERT_EQ(Run([](CampaignCommands& c) { return c.Remove("café"); }).Status, 0);
    EXPECT_FALSE(std::filesystem::exists(m_data + "CAFé"));
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "");
}

TEST_F(CampaignCommandsTest, CampaignListLinesSurviveAByteOrderMarkAndAnotherCodePage) {
    // Situation: campaigns.dat starts with a byte-order mark and holds a line
    // in an 8-bit code page; a campaign is then added and another removed.
    // Expected: the first campaign lists by its name (not UNDEFINED); the
    // 8-bit line is reported escaped on standard error and stays in the file
    // byte for byte.
    AddOk("Summer", WithFile());
    AddOk("Winter", WithFile());
    Spill(m_data + "campaigns.dat", "\xEF\xBB\xBFSUMMER\r\nCAF\xC9\r\nWINTER\r\n");
    const Outcome list = List();
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out,
              "Summer\tFile based\tenabled\tContinuous\n"
              "Winter\tFile based\tenabled\tContinuous\n");
    EXPECT_EQ(list.Err, "kavrictl: warning: the campaign list line \"CAF\\xC9\" is skipped\n");
    AddOk("Spring", WithFile());
    ASSERT_EQ(Run([](CampaignCommands& c) { return c.Remove("Summer"); }).Status, 0);
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "CAF\xC9\r\nWINTER\r\nSPRING\r\n");
}

TEST_F(CampaignCommandsTest, UnreadableCampaignListFailsInsteadOfListingNothing) {
    // Situation: campaigns.dat is a folder.
    // Expected: status 1 with the reason; add refuses too and leaves no folder.
    std::filesystem::create_directories(m_data + "campaigns.dat");
    const Outcome list = List();
    EXPECT_EQ(list.Status, 1);
    EXPECT_EQ(list.Out, "");
    EXPECT_EQ(list.Err.rfind("kavrictl: cannot read " + m_data + "campaigns.dat", 0), 0u)
        << list.Err;
    const Outcome add = Add("Promo", WithFile());
    EXPECT_EQ(add.Status, 1);
    EXPECT_FALSE(std::filesystem::exists(m_data + "PROMO"));
}

}  // namespace
}  // namespace kavri::cli
