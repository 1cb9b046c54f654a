#include "app/FileCampaignEditor.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "AppTestFolder.h"
#include "ShippedTexts.h"
#include "app/CampaignStore.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

using test::At;
using test::Slurp;
using test::Spill;
using test::Tree;

// Bytes that a text-mode copy or a short read would damage: NULs, CR LF, high
// bytes, and more than one copy buffer.
std::string BinaryContent(char seed) {
    std::string bytes;
    for (int i = 0; i < 200'000; ++i) {
        bytes.push_back(static_cast<char>((i * 31 + seed) & 0xFF));
    }
    return bytes.append("\r\n\0\xFF", 4);
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class FileCampaignEditorTest : public ::testing::Test {
protected:
    FileCampaignEditorTest() { std::filesystem::create_directory(m_temp.Path() + "src"); }

    // Wednesday, 9 December 2026, 14:15:16.250.
    std::string Source(const std::string& name, const std::string& bytes) {
        const std::string path = m_temp.Path() + "src/" + name;
        Spill(path, bytes);
        return path;
    }
    std::unique_ptr<FileCampaignEditor> Editor() { return Editor(m_texts); }
    std::unique_ptr<FileCampaignEditor> Editor(TextLookup texts) {
        return std::make_unique<FileCampaignEditor>(*m_store, m_clock, std::move(texts));
    }
    // A saved new campaign with the file name chosen from source.
    void Create(const std::string& name, const std::string& sourcePath) {
        auto editor = Editor();
        editor->Values().Name = name;
        editor->ChooseSourceFile(sourcePath);
        const Result result = editor->Save();
        ASSERT_TRUE(result.Ok) << result.Message;
    }
    std::string Folder(const std::string& name) const { return m_store->CampaignFolder(name); }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    std::unique_ptr<CampaignStore> m_store =
        std::make_unique<CampaignStore>(DataFolder::Open(m_data), DateFormat::Iso());
    ManualDateTimeClock m_clock{At(2026, 12, 9, 14, 15, 16, 250)};
    TextLookup m_texts = test::ShippedTexts();
};

TEST_F(FileCampaignEditorTest, NewEditorStartsWithTodayAndNow) {
    // Situation: an editor created on a Wednesday afternoon.
    // Expected: continuous, enabled, only Wednesday ticked, every date-time the
    // current moment and every time the current time of day.
    auto editor = Editor();
    const CampaignRecord& v = editor->Values();
    EXPECT_FALSE(editor->IsEditing());
    EXPECT_EQ(v.Scheduling, kSchedulingContinuous);
    EXPECT_TRUE(v.Enabled);
    EXPECT_EQ(v.Days, (std::array<bool, 7>{false, false, false, true, false, false, false}));
    EXPECT_EQ(v.StartDateTime, m_clock.Now());
    EXPECT_EQ(v.EndDateTime, m_clock.Now());
    EXPECT_EQ(v.StartTime, m_clock.Now().TimePart());
    EXPECT_EQ(v.EndTime, m_clock.Now().TimePart());
    EXPECT_EQ(v.Name, "");
}

TEST_F(FileCampaignEditorTest, NewCampaignCreatesFolderListRecordAndCopy) {
    // Situation: "Summer sale" with promo.mp3 picked and renamed to offer.mp3
    // before OK; the time-based start is a midnight.
    // Expected: folder "SUMMER SALE", the list line written at once, the record
    // with every common key in order (midnight as the date alone, no
    // milliseconds), and a byte-identical copy under the typed name only.
    const std::string content = BinaryContent('a');
    auto editor = Editor();
    editor->Values().Name = "Summer sale";
    editor->ChooseSourceFile(Source("promo.mp3", content));
    EXPECT_EQ(editor->Values().FileName, "promo.mp3");
    editor->Values().FileName = "offer.mp3";
    editor->Values().StartDateTime = At(2026, 12, 24);
    const Result result = editor->Save();
    ASSERT_TRUE(result.Ok) << result.Message;

    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "SUMMER SALE\r\n");
    const std::string folder = m_data + "SUMMER SALE/";
    EXPECT_EQ(Slurp(folder + "offer.mp3"), content);
    EXPECT_FALSE(std::filesystem::exists(folder + "promo.mp3"));
    EXPECT_EQ(Slurp(folder + "settings.dat"),
              "[SETTINGS]\r\nName=Summer sale\r\nType=0\r\nScheduling=0\r\n"
              "StartDateTime=2026-12-24\r\nEndDateTime=2026-12-09 14:15:16\r\n"
              "StartTime=14:15:16\r\nEndTime=14:15:16\r\nMon=0\r\nTue=0\r\nWed=1\r\n"
              "Thu=0\r\nFri=0\r\nSat=0\r\nSun=0\r\nEnabled=1\r\nFileName=offer.mp3\r\n");
}

struct Refusal {
    const char* What;
    std::string Name;
    std::string FileName;
    bool ChooseSource;
    std::string Key;
};

TEST_F(FileCampaignEditorTest, ChecksRunInOrderAndChangeNothing) {
    // Situation: OK pressed with one or more faults; "Summer sale" exists.
    // Expected: the first failing check of the fixed order answers, and the
    // whole folder tree stays as it was.
    Create("Summer sale", Source("a.mp3", "A"));
    const std::string missing = m_temp.Path() + "src/missing.mp3";
    const Refusal cases[] = {
        {"no name, no file", "", "", false, "CampaignNameRequired"},
        {"blanks only", "   ", "x.mp3", true, "CampaignNameInvalid"},
        {"no file name", "New", "", true, "FileNameRequired"},
        {"taken name, no file name", "summer SALE", "", true, "FileNameRequired"},
        {"file name but no file", "New", "x.mp3", false, "SelectFile"},
        {"taken name, no file", "SUMMER sale", "x.mp3", false, "SelectFile"},
        {"taken name", "summer SALE", "x.mp3", true, "CampaignExists"},
    };
    const auto before = Tree(m_temp.Path());
    for (const Refusal& c : cases) {
        auto editor = Editor();
        editor->Values().Name = c.Name;
        if (c.ChooseSource) {
            editor->ChooseSourceFile(m_temp.Path() + "src/a.mp3");
        }
        editor->Values().FileName = c.FileName;
        const Result result = editor->Save();
        EXPECT_FALSE(result.Ok) << c.What;
        EXPECT_EQ(result.MessageKey, c.Key) << c.What;
        const std::string text = m_texts(c.Key);
        EXPECT_NE(text, kUndefinedText) << c.Key;
        EXPECT_EQ(result.Message.substr(0, text.size()), text) << c.What;
    }
    auto editor = Editor();
    editor->Values().Name = "New";
    editor->ChooseSourceFile(missing);
    EXPECT_EQ(editor->Save().MessageKey, "SourceFileUnreadable");
    editor->ChooseSourceFile(m_temp.Path() + "src");
    EXPECT_EQ(editor->Save().MessageKey, "SourceFileUnreadable") << "a folder";
    EXPECT_EQ(Tree(m_temp.Path()), before);
    EXPECT_EQ(m_store->Campaigns().Names(), (std::vector<std::string>{"SUMMER SALE"}));
}

TEST_F(FileCampaignEditorTest, MessagesComeFromTheLookupAlone) {
    // Situation: a language without any of the keys, then no language file
    // at all (an empty lookup).
    // Expected: every refusal shows "UNDEFINED" where its text would be, the
    // ones this program adds included, with the reason after it; nothing
    // falls back to a built-in language.
    for (TextLookup texts :
         {TextLookup([](std::string_view) { return std::string(kUndefinedText); }), TextLookup()}) {
        auto editor = Editor(texts);
        EXPECT_EQ(editor->Save().Message, "UNDEFINED");
        editor->Values().Name = "a/b";
        EXPECT_EQ(editor->Save().Message, "UNDEFINED: the name holds a path separator");
        EXPECT_EQ(Editor(texts)->Load("Nobody").Message, "UNDEFINED: Nobody");
    }
}

TEST_F(FileCampaignEditorTest, HostileNamesAreRefusedAndNothingIsCreated) {
    // Situation: campaign and content file names that would leave their
    // folder, forge list lines, or replace the campaign's own files.
    // Expected: each refused with its key; nothing appears anywhere in the tree
    // around the data folder, and no list file is written.
    const std::string source = Source("ok.mp3", "content");
    const auto before = Tree(m_temp.Path());
    const std::pair<std::string, std::string> campaigns[] = {
        {"../escape", "ok.mp3"}, {"..", "ok.mp3"},         {".", "ok.mp3"},
        {"a/b", "ok.mp3"},       {"a\\b", "ok.mp3"},       {"line\r\nBREAK", "ok.mp3"},
        {"tab\there", "ok.mp3"}, {"c1\xC2\x85", "ok.mp3"}, {"bad\xFF", "ok.mp3"},
        {" lead", "ok.mp3"},     {"trail ", "ok.mp3"},     {std::string(256, 'n'), "ok.mp3"},
    };
    for (const auto& [name, file] : campaigns) {
        auto editor = Editor();
        editor->Values().Name = name;
        editor->ChooseSourceFile(source);
        editor->Values().FileName = file;
        EXPECT_EQ(editor->Save().MessageKey, "CampaignNameInvalid") << name;
    }
    for (const std::string& file : std::vector<std::string>{
             "../../outside.mp3", "sub/x.mp3", "..", "settings.dat", "Accepted.DAT", "rejected.dat",
             "new\nline.mp3", std::string(256, 'f')}) {
        auto editor = Editor();
        editor->Values().Name = "Fine";
        editor->ChooseSourceFile(source);
        editor->Values().FileName = file;
        EXPECT_EQ(editor->Save().MessageKey, "FileNameInvalid") << file;
    }
    EXPECT_EQ(Tree(m_temp.Path()), before);
    EXPECT_FALSE(std::filesystem::exists(m_data + "campaigns.dat"));
}

TEST_F(FileCampaignEditorTest, LongestNamesStillWork) {
    // Situation: a campaign name and a content file name of 255 bytes each.
    // Expected: both are stored (temporary files must not need longer names).
    const std::string name(255, 'c');
    auto editor = Editor();
    editor->Values().Name = name;
    editor->ChooseSourceFile(Source("x", "payload"));
    editor->Values().FileName = std::string(255, 'f');
    const Result result = editor->Save();
    ASSERT_TRUE(result.Ok) << result.Message;
    EXPECT_EQ(Slurp(Folder(name) + std::string(255, 'f')), "payload");
}

TEST_F(FileCampaignEditorTest, ListSurvivesACrashAfterEachChange) {
    // Situation: two campaigns created and one deleted, then the store dropped
    // without any orderly shutdown. Expected: a fresh load lists exactly what
    // the last change left.
    Create("First", Source("1.txt", "1"));
    Create("Second", Source("2.txt", "2"));
    m_store = std::make_unique<CampaignStore>(DataFolder::Open(m_data), DateFormat::Iso());
    EXPECT_EQ(m_store->Campaigns().Names(), (std::vector<std::string>{"FIRST", "SECOND"}));
    std::string error;
    ASSERT_TRUE(test::Done(m_store->DeleteCampaign("first"), error)) << error;
    m_store = std::make_unique<CampaignStore>(DataFolder::Open(m_data), DateFormat::Iso());
    EXPECT_EQ(m_store->Campaigns().Names(), (std::vector<std::string>{"SECOND"}));
}

TEST_F(FileCampaignEditorTest, EditingRewritesTheRecordAndKeepsDeviceFiles) {
    // Situation: an existing campaign with device records and a key no editor
    // writes; it is edited to time-based without picking a file.
    // Expected: the name is fixed, the list unchanged, keys rewritten in place,
    // the foreign key and both device files untouched, no copy made.
    Create("Summer sale", Source("offer.mp3", "old"));
    const std::string folder = Folder("Summer sale");
    Spill(folder + "accepted.dat", "[(00:11:22:33:44:55)]\r\nName=Phone\r\n");
    Spill(folder + "rejected.dat", "[(66:77:88:99:AA:BB)]\r\nName=Other\r\n");
    IniFile record(folder + "settings.dat", DateFormat::Iso());
    ASSERT_TRUE(record.WriteString("SETTINGS", "Custom", "kept"));
    const ino_t inode = Inode(folder + "offer.mp3");

    auto editor = Editor();
    ASSERT_TRUE(editor->Load("Summer sale").Ok);
    EXPECT_TRUE(editor->IsEditing());
    EXPECT_EQ(editor->StoredFileName(), "offer.mp3");
    editor->Values().Name = "Other";  // the field is disabled; a stray change is ignored
    editor->Values().Scheduling = kSchedulingTimeBased;
    editor->Values().Enabled = false;
    const Result result = editor->Save();
    ASSERT_TRUE(result.Ok) << result.Message;

    EXPECT_EQ(Slurp(folder + "accepted.dat"), "[(00:11:22:33:44:55)]\r\nName=Phone\r\n");
    EXPECT_EQ(Slurp(folder + "rejected.dat"), "[(66:77:88:99:AA:BB)]\r\nName=Other\r\n");
    EXPECT_EQ(Inode(folder + "offer.mp3"), inode);
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "SUMMER SALE\r\n");
    const std::string text = Slurp(folder + "settings.dat");
    EXPECT_NE(text.find("Scheduling=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("Enabled=0\r\nFileName=offer.mp3\r\nCustom=kept\r\n"), std::string::npos);
}

TEST_F(FileCampaignEditorTest, EditingRenamesOrReplacesTheContentFile) {
    // Situation: a campaign with offer.mp3 is edited three times: renamed to
    // deal.mp3; given a new file under the same name; given another file under
    // a new name. Expected: a rename keeps the very file; a new file replaces
    // the old one, which goes when its name changes.
    Create("Deal", Source("offer.mp3", "first"));
    const std::string folder = Folder("Deal");
    const ino_t inode = Inode(folder + "offer.mp3");

    auto rename = Editor();
    ASSERT_TRUE(rename->Load("Deal").Ok);
    rename->Values().FileName = "deal.mp3";
    ASSERT_TRUE(rename->Save().Ok);
    EXPECT_FALSE(std::filesystem::exists(folder + "offer.mp3"));
    EXPECT_EQ(Inode(folder + "deal.mp3"), inode);

    auto replace = Editor();
    ASSERT_TRUE(replace->Load("Deal").Ok);
    replace->ChooseSourceFile(Source("deal.mp3", "second"));
    ASSERT_TRUE(replace->Save().Ok);
    EXPECT_EQ(Slurp(folder + "deal.mp3"), "second");

    auto both = Editor();
    ASSERT_TRUE(both->Load("Deal").Ok);
    both->ChooseSourceFile(Source("other.wav", "third"));
    both->Values().FileName = "final.wav";
    ASSERT_TRUE(both->Save().Ok);
    EXPECT_FALSE(std::filesystem::exists(folder + "deal.mp3"));
    EXPECT_EQ(Slurp(folder + "final.wav"), "third");
    EXPECT_EQ(m_store->ReadRecord("Deal").FileName, "final.wav");
}

TEST_F(FileCampaignEditorTest, RenameNeverLandsOnAnotherFileOrAMissingOne) {
    // Situation: renaming offer.mp3 to a name another file has; then, with
    // offer.mp3 gone, renaming it, or keeping its name.
    // Expected: the first two are refused with nothing changed; keeping the
    // name saves (the schedule of a broken campaign can still be changed).
    Create("Deal", Source("offer.mp3", "offer"));
    const std::string folder = Folder("Deal");
    Spill(folder + "other.mp3", "other");
    auto editor = Editor();
    ASSERT_TRUE(editor->Load("Deal").Ok);
    editor->Values().FileName = "other.mp3";
    EXPECT_EQ(editor->Save().MessageKey, "FileNameInvalid");
    EXPECT_EQ(Slurp(folder + "offer.mp3"), "offer");
    EXPECT_EQ(Slurp(folder + "other.mp3"), "other");

    std::filesystem::remove(folder + "offer.mp3");
    editor->Values().FileName = "renamed.mp3";
    EXPECT_EQ(editor->Save().MessageKey, "SelectFile");
    editor->Values().FileName = "offer.mp3";
    EXPECT_TRUE(editor->Save().Ok);
}

TEST_F(FileCampaignEditorTest, LoadShowsStoredValuesAsStored) {
    // Situation: a record without "Scheduling" whose end lies before its start.
    // Expected: loaded as -1 with the dates untouched, and saved back as -1.
    Create("Plain", Source("p.txt", "p"));
    const std::string path = Folder("Plain") + "settings.dat";
    IniFile record(path, DateFormat::Iso());
    ASSERT_TRUE(record.DeleteKey("SETTINGS", "Scheduling"));
    ASSERT_TRUE(record.WriteValues(
        "SETTINGS", {{"StartDateTime", "2026-12-10 08:00:00"}, {"EndDateTime", "2026-12-01"}}));
    auto editor = Editor();
    ASSERT_TRUE(editor->Load("plain").Ok);
    EXPECT_EQ(editor->Values().Scheduling, -1);
    EXPECT_EQ(editor->Values().StartDateTime, At(2026, 12, 10, 8));
    EXPECT_EQ(editor->Values().EndDateTime, At(2026, 12, 1));
    ASSERT_TRUE(editor->Save().Ok);
    EXPECT_NE(Slurp(path).find("Scheduling=-1\r\n"), std::string::npos);

    EXPECT_EQ(Editor()->Load("Nowhere").MessageKey, "CampaignNotFound");
    EXPECT_EQ(Editor()->Load("../data").MessageKey, "CampaignNameInvalid");
}

TEST_F(FileCampaignEditorTest, FailedNewCampaignLeavesNoTraceAndCanBeRetried) {
    // Situation: the list file cannot be replaced (a folder stands in its
    // place), so the last step of a new campaign fails; then the obstacle goes.
    // Expected: an error, no campaign folder left, the list unchanged (only
    // the list's companion lock file is new); the retry succeeds instead of
    // meeting "CampaignExists".
    std::filesystem::create_directory(m_data + "campaigns.dat");
    auto editor = Editor();
    editor->Values().Name = "Retry";
    editor->ChooseSourceFile(Source("x.txt", "x"));
    const auto before = Tree(m_temp.Path());
    const Result failed = editor->Save();
    EXPECT_EQ(failed.MessageKey, "CampaignSaveFailed");
    auto after = Tree(m_temp.Path());
    EXPECT_EQ(after.erase("data/.campaigns.dat.lock"), 1u);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(m_store->Campaigns().Names().empty());

    std::filesystem::remove(m_data + "campaigns.dat");
    EXPECT_TRUE(editor->Save().Ok);
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "RETRY\r\n");
}

TEST_F(FileCampaignEditorTest, EndsFollowTheirStartsButNeverTheOtherWay) {
    // Situation: the operator moves ends before starts and starts past ends.
    // Expected: an end snaps to its start (date, then time on the same day);
    // equal values stay; starts never move.
    auto editor = Editor();
    CampaignRecord& v = editor->Values();
    v.StartTime = test::TimeOfDay(10, 0, 0);
    v.EndTime = test::TimeOfDay(9, 0, 0);
    editor->DailyTimesChanged();
    EXPECT_EQ(v.EndTime, test::TimeOfDay(10, 0, 0));
    editor->DailyTimesChanged();
    EXPECT_EQ(v.StartTime, test::TimeOfDay(10, 0, 0));

    v.StartDateTime = At(2026, 12, 20, 15);
    v.EndDateTime = At(2026, 12, 18, 16);
    editor->WindowDatesChanged();
    EXPECT_EQ(v.EndDateTime, At(2026, 12, 20, 16)) << "the date moves, its time stays";
    v.EndDateTime = At(2026, 12, 18, 9);
    editor->WindowDatesChanged();
    EXPECT_EQ(v.EndDateTime, At(2026, 12, 20, 15)) << "then the time moves too";
    v.EndDateTime = At(2026, 12, 20, 14, 59, 59);
    editor->WindowTimesChanged();
    EXPECT_EQ(v.EndDateTime, At(2026, 12, 20, 15));
    v.EndDateTime = At(2026, 12, 21, 1);
    editor->WindowTimesChanged();
    EXPECT_EQ(v.EndDateTime, At(2026, 12, 21, 1)) << "a later day keeps an earlier time";
    EXPECT_EQ(v.StartDateTime, At(2026, 12, 20, 15));
}

TEST_F(FileCampaignEditorTest, DeviceTypesAreCheckedStoredAndCleared) {
    // Situation: a new campaign with a misspelt device type, then with
    // "phone, computer"; edited later to every type.
    // Expected: the misspelling is refused with "DeviceTypesInvalid" and the
    // valid names and nothing is created; the list is stored in table order
    // after Enabled and loads back; clearing it stores the key empty.
    auto editor = Editor();
    editor->Values().Name = "Phones";
    editor->ChooseSourceFile(Source("a.txt", "a"));
    editor->Values().DeviceTypes = "phone,handy";
    const auto before = Tree(m_temp.Path());
    const Result refused = editor->Save();
    EXPECT_EQ(refused.MessageKey, "DeviceTypesInvalid");
    EXPECT_NE(refused.Message.find("\"handy\""), std::string::npos) << refused.Message;
    EXPECT_NE(refused.Message.find("Computer, Phone"), std::string::npos) << refused.Message;
    EXPECT_EQ(Tree(m_temp.Path()), before);

    editor->Values().DeviceTypes = "phone, computer";
    const Result saved = editor->Save();
    ASSERT_TRUE(saved.Ok) << saved.Message;
    const std::string record = Folder("Phones") + "settings.dat";
    EXPECT_NE(Slurp(record).find("Enabled=1\r\nDeviceTypes=Computer,Phone\r\nFileName=a.txt"),
              std::string::npos)
        << Slurp(record);

    auto edit = Editor();
    ASSERT_TRUE(edit->Load("Phones").Ok);
    EXPECT_EQ(edit->Values().DeviceTypes, "Computer,Phone");
    edit->Values().DeviceTypes.clear();
    ASSERT_TRUE(edit->Save().Ok);
    EXPECT_NE(Slurp(record).find("DeviceTypes=\r\n"), std::string::npos) << Slurp(record);
}

}  // namespace
}  // namespace kavri
