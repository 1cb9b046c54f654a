#include "app/IniFile.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/FileLock.h"

namespace kavri {
namespace {

namespace fs = std::filesystem;

DateFormat German() {
    return DateFormat("%d.%m.%Y", "%H:%M:%S");
}

std::string Slurp(const std::string& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error) {
        return "<missing>";
    }
    std::string bytes(size, '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void Spill(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Gives a file another modification time, so that an edit within the same
// timestamp tick still differs from what a cache saw.
void Touch(const std::string& path, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kavri-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_path = m_folder + "/test.dat";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    // The folder's entries but the lock companion of the file under test,
    // which writes leave in place for good.
    std::vector<std::string> FolderEntries() const {
        const std::string lock = fs::path(FileLock::LockPathOf(m_path)).filename().string();
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            if (entry.path().filename().string() != lock) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    std::string m_folder;
    std::string m_path;
};

TEST_F(IniFileTest, MatchesSectionsAndKeysWithoutRegardToCase) {
    // Situation: a file written with mixed-case names, read with other cases.
    // Expected: every spelling finds the same entry.
    Spill(m_path, "[Settings]\r\nConnectTimeout=10\r\n[(0a:0B:0c:0D:0e:0F)]\r\nName=Phone\r\n");
    const IniFile ini(m_path, German());
    EXPECT_EQ(ini.ReadInteger("SETTINGS", "connecttimeout", -1), 10);
    EXPECT_EQ(ini.ReadInteger("settings", "CONNECTTIMEOUT", -1), 10);
    EXPECT_EQ(ini.ReadString("(0A:0B:0C:0D:0E:0F)", "NAME", "?"), "Phone");
    EXPECT_TRUE(ini.SectionExists("(0a:0b:0c:0d:0e:0f)"));
    EXPECT_TRUE(ini.ValueExists(" settings ", " ConnectTimeout "));
    EXPECT_FALSE(ini.SectionExists("Setting"));
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyOfANameWin) {
    // Situation: a section and a key that occur twice.
    // Expected: reads see the first of each; the later section is never listed.
    Spill(m_path, "[A]\r\nk=1\r\nK=2\r\n[B]\r\nx=0\r\n[a]\r\nk=3\r\nonly=later\r\n");
    const IniFile ini(m_path, German());
    EXPECT_EQ(ini.ReadInteger("A", "k", -1), 1);
    EXPECT_EQ(ini.ReadString("A", "only", "none"), "none");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ini.ReadSection("a"), (std::vector<std::string>{"k"}));
    EXPECT_EQ(ini.ReadSectionValues("A"),
              (std::vector<std::pair<std::string, std::string>>{{"k", "1"}}));
}

TEST_F(IniFileTest, SnapshotWalksTheSectionsReadSectionsListsAndIgnoresLaterWrites) {
    // Situation: a file with a duplicate section, a section without entries and
    // mixed-case keys, walked section by section; then the file is rewritten.
    // Expected: the walk visits exactly the listed sections with the first
    // section's values; the snapshot still reads the old state after the write.
    Spill(m_path,
          "[A]\r\nName=first\r\nDateTime=07.12.2026 10:11:12\r\n[Empty]\r\n; no entry\r\n"
          "[B]\r\nname=second\r\n[a]\r\nName=shadowed\r\n");
    IniFile ini(m_path, German());
    const IniFile::Snapshot snapshot = ini.ReadSnapshot();
    std::vector<std::string> names;
    std::vector<std::string> values;
    std::vector<TDateTime> stamps;
    snapshot.ForEachSection([&](const IniFile::SectionView& section) {
        names.emplace_back(section.Name());
        values.push_back(section.ReadString("NAME", "?"));
        stamps.push_back(section.ReadDateTime("DateTime", TDateTime(0.0)));
    });
    EXPECT_EQ(names, ini.ReadSections());
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(values, (std::vector<std::string>{"first", "second"}));
    ASSERT_EQ(stamps.size(), 2u);
    EXPECT_EQ(stamps[0], TDateTime::FromParts({2026, 12, 7, 10, 11, 12, 0}).value_or(TDateTime()));
    EXPECT_EQ(stamps[1], TDateTime(0.0));

    ASSERT_TRUE(ini.WriteString("A", "Name", "rewritten"));
    EXPECT_EQ(snapshot.ReadString("A", "Name", "?"), "first");
    EXPECT_EQ(ini.ReadString("A", "Name", "?"), "rewritten");
}

TEST_F(IniFileTest, WritesCrLfLinesByteExact) {
    // Situation: a new file receives two sections, then a value changes and a
    // key is added to the first section.
    // Expected: exactly these bytes on disk, values trimmed, CR LF everywhere.
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.WriteString("(00:11:22:33:44:55)", "Name", "  My Phone "));
    ASSERT_TRUE(ini.WriteInteger("(00:11:22:33:44:55)", "COD", 5898764));
    ASSERT_TRUE(ini.WriteBool("SETTINGS", "Enabled", true));
    EXPECT_EQ(Slurp(m_path),
              "[(00:11:22:33:44:55)]\r\nName=My Phone\r\nCOD=5898764\r\n"
              "[SETTINGS]\r\nEnabled=1\r\n");
    ASSERT_TRUE(ini.WriteString("(00:11:22:33:44:55)", "name", "Other"));
    ASSERT_TRUE(ini.WriteDateTime("(00:11:22:33:44:55)", "DateTime",
                                  *TDateTime::FromParts({2026, 12, 7, 10, 11, 12, 0})));
    ASSERT_TRUE(ini.WriteBool("SETTINGS", "Enabled", false));
    EXPECT_EQ(Slurp(m_path),
              "[(00:11:22:33:44:55)]\r\nname=Other\r\nCOD=5898764\r\n"
              "DateTime=2026-12-07 10:11:12\r\n[SETTINGS]\r\nEnabled=0\r\n");
}

TEST_F(IniFileTest, KeepsLinesItDoesNotUnderstandVerbatim) {
    // Situation: a file with a preamble, comments, blank lines, a line without
    // "=" and LF-only endings gets a value changed and a key added.
    // Expected: every other byte stays where it was; new lines end in CR LF and
    // the new key follows the last entry, before the trailing comment.
    Spill(m_path, "; preamble\n[S]\n  ; note\nA = 1\n\njunk line\nB=2\n; belongs below\n[T]\nC=3");
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.WriteString("S", "a", "9"));
    ASSERT_TRUE(ini.WriteString("S", "New", "x"));
    EXPECT_EQ(Slurp(m_path),
              "; preamble\n[S]\n  ; note\na=9\n\njunk line\nB=2\nNew=x\r\n; belongs below\n"
              "[T]\nC=3");
    ASSERT_TRUE(ini.WriteString("U", "D", "4"));
    EXPECT_EQ(Slurp(m_path),
              "; preamble\n[S]\n  ; note\na=9\n\njunk line\nB=2\nNew=x\r\n; belongs below\n"
              "[T]\nC=3\r\n[U]\r\nD=4\r\n");
    ASSERT_TRUE(ini.WriteString("T", "E", "5"));
    EXPECT_EQ(ini.ReadString("T", "C", ""), "3");
    EXPECT_EQ(ini.ReadString("T", "E", ""), "5");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"S", "T", "U"}));
}

TEST_F(IniFileTest, ReadsLfOnlyFilesAndALastLineWithoutEnd) {
    // Situation: LF line ends, blanks around names and values, a byte-order
    // mark, and a last line without a line end.
    // Expected: all entries read, trimmed.
    Spill(m_path, "\xEF\xBB\xBF[ First ]\n  Key1 =  one two  \n\tKey2=\t2\n[Second]\nLast=end");
    const IniFile ini(m_path, German());
    EXPECT_EQ(ini.ReadString("First", "Key1", ""), "one two");
    EXPECT_EQ(ini.ReadInteger("First", "Key2", 0), 2);
    EXPECT_EQ(ini.ReadString("Second", "Last", ""), "end");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"First", "Second"}));
}

TEST_F(IniFileTest, MissingFileGivesDefaultsAndStaysMissing) {
    // Situation: reads, a key deletion and a section erasure on a file that
    // does not exist.
    // Expected: every default; nothing listed; no file created.
    IniFile ini(m_path, German());
    EXPECT_EQ(ini.ReadString("S", "K", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("S", "K", 42), 42);
    EXPECT_TRUE(ini.ReadBool("S", "K", true));
    EXPECT_EQ(ini.ReadDateTime("S", "K", TDateTime(3.5)), TDateTime(3.5));
    EXPECT_EQ(ini.ReadTime("S", "K", TDateTime(0.25)), TDateTime(0.25));
    EXPECT_FALSE(ini.SectionExists("S"));
    EXPECT_TRUE(ini.ReadSections().empty());
    EXPECT_TRUE(ini.ReadSection("S").empty());
    EXPECT_TRUE(ini.DeleteKey("S", "K"));
    EXPECT_TRUE(ini.EraseSection("S"));
    EXPECT_FALSE(fs::exists(m_path));
}

struct IntegerCase {
    const char* Text;
    std::int32_t Expected;
};

TEST_F(IniFileTest, ReadsDecimalAndHexIntegers) {
    // Situation: stored integer texts, valid and not (default -77).
    // Expected: decimal in 32-bit range, "0x" hex as a 32-bit pattern, else -77.
    const IntegerCase cases[] = {
        {"0", 0},
        {"42", 42},
        {"+7", 7},
        {"-12", -12},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0x1F", 31},
        {"0XFF", 255},
        {"0xff", 255},
        {"0x7FFFFFFF", 2147483647},
        {"0xFFFFFFFF", -1},
        {"0x80000000", -2147483647 - 1},
        {"2147483648", -77},
        {"-2147483649", -77},
        {"99999999999999999999", -77},
        {"0x100000000", -77},
        {"0x", -77},
        {"0xG1", -77},
        {"-0x1", -77},
        {"12abc", -77},
        {"1 2", -77},
        {"abc", -77},
        {"-", -77},
        {"", -77},
        {"1.5", -77},
    };
    std::string text = "[S]\r\n";
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        text += "k" + std::to_string(i) + "=" + cases[i].Text + "\r\n";
    }
    Spill(m_path, text);
    const IniFile ini(m_path, German());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(ini.ReadInteger("S", "k" + std::to_string(i), -77), cases[i].Expected)
            << '"' << cases[i].Text << '"';
    }
}

TEST_F(IniFileTest, ReadsBooleansAsIntegers) {
    // Situation: "1", "0", "5", "-1", "0x10" and texts that are no integer.
    // Expected: non-zero is true, zero false, the rest the default.
    Spill(m_path, "[S]\r\na=1\r\nb=0\r\nc=5\r\nd=-1\r\ne=0x10\r\nf=true\r\ng=\r\n");
    const IniFile ini(m_path, German());
    EXPECT_TRUE(ini.ReadBool("S", "a", false));
    EXPECT_FALSE(ini.ReadBool("S", "b", true));
    EXPECT_TRUE(ini.ReadBool("S", "c", false));
    EXPECT_TRUE(ini.ReadBool("S", "d", false));
    EXPECT_TRUE(ini.ReadBool("S", "e", false));
    EXPECT_FALSE(ini.ReadBool("S", "f", false));
    EXPECT_TRUE(ini.ReadBool("S", "f", true));
    EXPECT_TRUE(ini.ReadBool("S", "g", true));
    EXPECT_EQ(ini.ReadString("S", "g", "default"), "");
}

TEST_F(IniFileTest, ReadsDateTimesInRegionalAndIsoFormAndGarbageAsDefault) {
    // Situation: date-times and times stored by this region (as earlier
    // versions did), by ISO 8601 and broken; then values written.
    // Expected: the values for both forms, the default otherwise; written in
    // ISO 8601 whatever the region, a date-time at midnight as the date alone.
    Spill(m_path,
          "[R]\r\nRegional=07.12.2026 10:11:12\r\nIso=2026-12-07T10:11:12\r\n"
          "DateOnly=29.02.2024\r\nBad=31.02.2026\r\nWords=yesterday\r\n"
          "Time=23:59:59\r\nBadTime=25:00:00\r\n");
    IniFile ini(m_path, German());
    const TDateTime expected = *TDateTime::FromParts({2026, 12, 7, 10, 11, 12, 0});
    const TDateTime fallback(-1.0);
    EXPECT_EQ(ini.ReadDateTime("R", "Regional", fallback), expected);
    EXPECT_EQ(ini.ReadDateTime("R", "Iso", fallback), expected);
    EXPECT_EQ(ini.ReadDateTime("R", "DateOnly", fallback), *TDateTime::FromDate(2024, 2, 29));
    EXPECT_EQ(ini.ReadDateTime("R", "Bad", fallback), fallback);
    EXPECT_EQ(ini.ReadDateTime("R", "Words", fallback), fallback);
    EXPECT_EQ(ini.ReadDateTime("R", "Missing", fallback), fallback);
    EXPECT_EQ(ini.ReadTime("R", "Time", fallback), *TDateTime::FromTime(23, 59, 59));
    EXPECT_EQ(ini.ReadTime("R", "BadTime", fallback), fallback);

    ASSERT_TRUE(ini.WriteDateTime("W", "Midnight", *TDateTime::FromDate(1900, 3, 1)));
    ASSERT_TRUE(
        ini.WriteDateTime("W", "Last", *TDateTime::FromParts({2024, 2, 29, 23, 59, 59, 0})));
    ASSERT_TRUE(ini.WriteTime("W", "Noon", TDateTime(0.5)));
    EXPECT_EQ(ini.ReadString("W", "Midnight", ""), "1900-03-01");
    EXPECT_EQ(ini.ReadString("W", "Last", ""), "2024-02-29 23:59:59");
    EXPECT_EQ(ini.ReadString("W", "Noon", ""), "12:00:00");
    EXPECT_EQ(ini.ReadDateTime("W", "Last", fallback),
              *TDateTime::FromParts({2024, 2, 29, 23, 59, 59, 0}));
    EXPECT_FALSE(ini.WriteDateTime("W", "Nan", TDateTime(1e12)));
    EXPECT_FALSE(ini.ValueExists("W", "Nan"));
}

TEST_F(IniFileTest, DatesWrittenInOneRegionReadTheSameInAnother) {
    // Situation: a window and a refusal time written by processes in the US
    // (12-hour), British and C regions, through the write functions and
    // through Format() as the record writers use it; each read in the others.
    // Expected: ISO 8601 on disk every time; each reader the same moments.
    const DateFormat regions[] = {DateFormat("%m/%d/%Y", "%I:%M:%S %p"),
                                  DateFormat("%d/%m/%Y", "%H:%M:%S"),
                                  DateFormat("%m/%d/%Y", "%H:%M:%S")};
    const TDateTime start = *TDateTime::FromParts({2026, 12, 1, 9, 0, 0, 0});
    const TDateTime refused = *TDateTime::FromParts({2026, 1, 12, 21, 15, 0, 0});
    for (const DateFormat& writer : regions) {
        std::filesystem::remove(m_path);
        IniFile written(m_path, writer);
        ASSERT_TRUE(written.WriteDateTime("SETTINGS", "StartDateTime", start));
        ASSERT_TRUE(written.WriteTime("SETTINGS", "EndTime", refused.TimePart()));
        ASSERT_TRUE(written.WriteString("(00:11:22:33:44:55)", "DateTime",
                                        written.Format().FormatDateTime(refused)));
        EXPECT_EQ(Slurp(m_path),
                  "[SETTINGS]\r\nStartDateTime=2026-12-01 09:00:00\r\nEndTime=21:15:00\r\n"
                  "[(00:11:22:33:44:55)]\r\nDateTime=2026-01-12 21:15:00\r\n")
            << writer.DatePattern();
        for (const DateFormat& reader : regions) {
            const IniFile read(m_path, reader);
            EXPECT_EQ(read.ReadDateTime("SETTINGS", "StartDateTime", TDateTime()), start);
            EXPECT_EQ(read.ReadTime("SETTINGS", "EndTime", TDateTime()), refused.TimePart());
            EXPECT_EQ(read.ReadDateTime("(00:11:22:33:44:55)", "DateTime", TDateTime()), refused)
                << writer.DatePattern() << " -> " << reader.DatePattern();
        }
    }
}

TEST_F(IniFileTest, HostileValueStaysOneValueOfItsSection) {
    // Situation: a device name that carries line breaks and a forged section
    // with a coupon key is written as a value.
    // Expected: it reads back as one value (breaks turned to blanks) of the
    // original section; no section or key appears.
    IniFile ini(m_path, German());
    const std::string hostile = "Evil\r\n[(00:11:22:33:44:55)]\r\nCoupon=X";
    ASSERT_TRUE(ini.WriteString("(AA:BB:CC:DD:EE:FF)", "Name", hostile));
    ASSERT_TRUE(ini.WriteString("(AA:BB:CC:DD:EE:FF)", "COD", "tab\there\x7f"));
    EXPECT_EQ(ini.ReadString("(AA:BB:CC:DD:EE:FF)", "Name", ""),
              "Evil  [(00:11:22:33:44:55)]  Coupon=X");
    EXPECT_EQ(ini.ReadString("(AA:BB:CC:DD:EE:FF)", "COD", ""), "tab here");
    EXPECT_FALSE(ini.SectionExists("(00:11:22:33:44:55)"));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"(AA:BB:CC:DD:EE:FF)"}));
    EXPECT_EQ(ini.ReadSection("(AA:BB:CC:DD:EE:FF)"), (std::vector<std::string>{"Name", "COD"}));
    EXPECT_EQ(Slurp(m_path),
              "[(AA:BB:CC:DD:EE:FF)]\r\nName=Evil  [(00:11:22:33:44:55)]  Coupon=X\r\n"
              "COD=tab here\r\n");
}

TEST_F(IniFileTest, RefusesNamesThatCouldForgeStructure) {
    // Situation: section names and keys with "]", "=", line breaks, other
    // control characters, empty, or starting with "[" or ";".
    // Expected: the write returns false with a reason, and the file keeps its bytes.
    const std::string before = "[S]\r\nK=1\r\n";
    Spill(m_path, before);
    IniFile ini(m_path, German());
    const std::string bad[] = {"",     "   ",    "a]b",    "a=b",
                               "[x",   ";x",     "a\r\nb", "a\nb",
                               "a\rb", "a\x01z", "a\x7fz", std::string("a\0b", 3)};
    for (const std::string& name : bad) {
        const Result badSection = ini.WriteString(name, "Key", "v");
        EXPECT_FALSE(badSection) << name;
        EXPECT_FALSE(badSection.Message.empty()) << name;
        const Result badKey = ini.WriteString("S", name, "v");
        EXPECT_FALSE(badKey) << name;
        EXPECT_FALSE(badKey.Message.empty()) << name;
        EXPECT_FALSE(ini.WriteValues("S", {{"Good", "v"}, {name, "v"}})) << name;
    }
    EXPECT_EQ(Slurp(m_path), before);
    EXPECT_FALSE(ini.ValueExists("S", "Good"));
    // Brackets and semicolons inside a name are harmless.
    ASSERT_TRUE(ini.WriteString("(a[b;c)", "x;y[z", "1"));
    EXPECT_EQ(ini.ReadString("(a[b;c)", "x;y[z", ""), "1");
}

// Fails the swap of the finished temporary file into place, after checking
// what was written.
class ReplaceFailingIniFile : public IniFile {
public:
    using IniFile::IniFile;
    std::string WrittenTemporary;
    std::string WrittenText;

protected:
    std::error_code ReplaceFile(const std::string& temporaryPath, const std::string&) override {
        WrittenTemporary = temporaryPath;
        WrittenText = Slurp(temporaryPath);
        return std::make_error_code(std::errc::io_error);
    }
};

TEST_F(IniFileTest, WriteThatFailsBeforeTheRenameLeavesTheOldFile) {
    // Situation: a write whose temporary file is complete but cannot be renamed
    // over the original.
    // Expected: false with a reason; the old file byte-identical; no temporary
    // file left; every reader still sees the old value.
    const std::string before = "; keep\r\n[S]\r\nK=old\r\n";
    Spill(m_path, before);
    {
        const IniFile warm(m_path, German());
        EXPECT_EQ(warm.ReadString("S", "K", ""), "old");
    }
    ReplaceFailingIniFile failing(m_path, German());
    const Result written = failing.WriteString("S", "K", "new");
    EXPECT_FALSE(written);
    EXPECT_NE(written.Message.find("Input/output error"), std::string::npos) << written.Message;
    EXPECT_EQ(fs::path(failing.WrittenTemporary).parent_path(), fs::path(m_folder));
    EXPECT_EQ(failing.WrittenText, "; keep\r\n[S]\r\nK=new\r\n");
    EXPECT_EQ(Slurp(m_path), before);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"test.dat"}));
    EXPECT_EQ(failing.ReadString("S", "K", ""), "old");
    EXPECT_EQ(IniFile(m_path, German()).ReadString("S", "K", ""), "old");
    EXPECT_FALSE(failing.EraseSection("S"));
    EXPECT_EQ(Slurp(m_path), before);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"test.dat"}));
}

TEST_F(IniFileTest, WriteIntoAMissingFolderFails) {
    // Situation: a file path whose folder does not exist.
    // Expected: false with the system's reason; nothing created.
    IniFile ini(m_folder + "/no/such/folder/x.dat", German());
    const Result written = ini.WriteString("S", "K", "v");
    EXPECT_FALSE(written);
    EXPECT_NE(written.Message.find("No such file or directory"), std::string::npos)
        << written.Message;
    EXPECT_FALSE(fs::exists(m_folder + "/no"));
}

TEST_F(IniFileTest, KeepsThePermissionsOfTheFileItReplaces) {
    // Situation: a record file that its owner made readable to the group only.
    // Expected: the replaced file has the same permission bits.
    Spill(m_path, "[S]\r\nK=1\r\n");
    ASSERT_EQ(::chmod(m_path.c_str(), 0640), 0);
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.WriteString("S", "K", "2"));
    struct stat st {};
    ASSERT_EQ(::stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileTest, ValuesComeBackCutAt2047BytesOnACharacterBoundary) {
    // Situation: values of 2047 and 3000 bytes, and one whose two-byte
    // character straddles byte 2047.
    // Expected: the first whole; the second cut to 2047; the third cut before
    // the character (2046 bytes). The file keeps the whole texts.
    IniFile ini(m_path, German());
    const std::string exact(2047, 'a');
    const std::string longer(3000, 'b');
    const std::string straddling = std::string(2046, 'c') + "\xC3\xA9tail";
    ASSERT_TRUE(ini.WriteString("S", "Exact", exact));
    ASSERT_TRUE(ini.WriteString("S", "Longer", longer));
    ASSERT_TRUE(ini.WriteString("S", "Straddling", straddling));
    EXPECT_EQ(ini.ReadString("S", "Exact", ""), exact);
    EXPECT_EQ(ini.ReadString("S", "Longer", ""), longer.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("S", "Straddling", ""), std::string(2046, 'c'));
    EXPECT_NE(Slurp(m_path).find(longer), std::string::npos);
}

TEST_F(IniFileTest, ListsAHundredThousandSectionsWithoutDroppingAny) {
    // Situation: a record file of 100 000 device sections (about 5 MB).
    // Expected: all of them listed, in file order; a lookup finds the last.
    std::vector<std::string> names;
    std::string text;
    for (int i = 0; i < 100'000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "(00:11:22:%02X:%02X:%02X)", (i >> 16) & 0xFF,
                      (i >> 8) & 0xFF, i & 0xFF);
        names.emplace_back(name);
        text.append("[").append(name).append("]\r\nDateTime=07.12.2026 10:11:12\r\n");
        text.append("Coupon=ABC123\r\nName=Device number ")
            .append(std::to_string(i))
            .append("\r\n");
    }
    Spill(m_path, text);
    IniFile ini(m_path, German());
    EXPECT_EQ(ini.ReadSections(), names);
    EXPECT_TRUE(ini.SectionExists("(00:11:22:01:86:9f)"));
    EXPECT_EQ(ini.ReadString("(00:11:22:01:86:9F)", "Name", ""), "Device number 99999");
    // A write keeps the count and adds the new section last.
    ASSERT_TRUE(ini.WriteString("(FF:FF:FF:FF:FF:FF)", "Coupon", "NEW"));
    ASSERT_TRUE(ini.WriteString("(00:11:22:00:00:05)", "Coupon", "CHANGED"));
    names.push_back("(FF:FF:FF:FF:FF:FF)");
    EXPECT_EQ(ini.ReadSections(), names);
    EXPECT_EQ(IniFile(m_path, German(), std::make_shared<IniFile::Cache>()).ReadSections(), names);
    EXPECT_EQ(ini.ReadString("(00:11:22:01:86:9F)", "Name", ""), "Device number 99999");
    EXPECT_EQ(ini.ReadString("(00:11:22:00:00:05)", "Coupon", ""), "CHANGED");
}

TEST_F(IniFileTest, ListsExistingSectionsInFileOrder) {
    // Situation: sections written in the order C, A, B, plus a section with
    // only a comment and one with only a blank line.
    // Expected: C, A, B; the keyless ones do not exist and are not listed.
    Spill(m_path, "[Comment]\r\n; only a note\r\n\r\n[Empty]\r\n\r\n[Junk]\r\nno equals\r\n");
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.WriteString("C", "k", "1"));
    ASSERT_TRUE(ini.WriteString("A", "k", "2"));
    ASSERT_TRUE(ini.WriteString("B", "k", "3"));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"C", "A", "B"}));
    EXPECT_FALSE(ini.SectionExists("Comment"));
    EXPECT_FALSE(ini.SectionExists("Empty"));
    EXPECT_FALSE(ini.SectionExists("Junk"));
    // Writing into the comment-only section puts the key under its header.
    ASSERT_TRUE(ini.WriteString("comment", "k", "4"));
    EXPECT_TRUE(ini.SectionExists("Comment"));
    EXPECT_EQ(Slurp(m_path).substr(0, 38), "[Comment]\r\nk=4\r\n; only a note\r\n\r\n[Empt");
}

TEST_F(IniFileTest, EraseSectionRemovesEveryCopyWithItsKeys) {
    // Situation: a device section that occurs twice among other sections.
    // Expected: both copies and their keys go; the rest keeps its bytes.
    Spill(m_path,
          "; head\r\n[(01)]\r\nName=a\r\n[Dev]\r\nName=first\r\nCoupon=C1\r\n"
          "[(02)]\r\nName=b\r\n[dev]\r\nName=second\r\n");
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.EraseSection("DEV"));
    EXPECT_EQ(Slurp(m_path), "; head\r\n[(01)]\r\nName=a\r\n[(02)]\r\nName=b\r\n");
    EXPECT_FALSE(ini.SectionExists("Dev"));
    EXPECT_EQ(ini.ReadString("dev", "Name", "gone"), "gone");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"(01)", "(02)"}));
    EXPECT_TRUE(ini.EraseSection("Dev"));
    ASSERT_TRUE(ini.EraseSection("(01)"));
    ASSERT_TRUE(ini.EraseSection("(02)"));
    EXPECT_EQ(Slurp(m_path), "; head\r\n");
    EXPECT_TRUE(ini.ReadSections().empty());
}

TEST_F(IniFileTest, DeleteKeyRemovesOnlyThatKey) {
    // Situation: a coupon is closed for a device, then the other keys go too.
    // Expected: the record keeps its other keys and exists; with no key left
    // it no longer exists.
    Spill(m_path,
          "[(D1)]\r\nName=n\r\nCoupon=X\r\nDateTime=07.12.2026\r\ncoupon=dup\r\n[(D2)]\r\nCoupon="
          "Y\r\n");
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.DeleteKey("(d1)", "COUPON"));
    EXPECT_EQ(Slurp(m_path), "[(D1)]\r\nName=n\r\nDateTime=07.12.2026\r\n[(D2)]\r\nCoupon=Y\r\n");
    EXPECT_EQ(ini.ReadString("(D1)", "Coupon", "none"), "none");
    EXPECT_EQ(ini.ReadString("(D2)", "Coupon", ""), "Y");
    EXPECT_TRUE(ini.SectionExists("(D1)"));
    EXPECT_TRUE(ini.DeleteKey("(D1)", "Coupon"));
    ASSERT_TRUE(ini.DeleteKey("(D1)", "Name"));
    ASSERT_TRUE(ini.DeleteKey("(D1)", "DateTime"));
    EXPECT_FALSE(ini.SectionExists("(D1)"));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"(D2)"}));
}

TEST_F(IniFileTest, WritesARecordAtOnce) {
    // Situation: a device record of four keys written in one call, then again
    // with one key changed.
    // Expected: one section with the keys in call order; the second call
    // changes only what differs.
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.WriteValues("(00:11:22:33:44:55)", {{"Name", "Phone"},
                                                        {"COD", "5898764"},
                                                        {"DateTime", "07.12.2026 10:11:12"},
                                                        {"Coupon", ""}}));
    ASSERT_TRUE(ini.WriteValues("(00:11:22:33:44:55)", {{"coupon", "ABC123"}, {"Name", "Phone"}}));
    EXPECT_EQ(Slurp(m_path),
              "[(00:11:22:33:44:55)]\r\nName=Phone\r\nCOD=5898764\r\n"
              "DateTime=07.12.2026 10:11:12\r\ncoupon=ABC123\r\n");
}

TEST_F(IniFileTest, SeesEditsByOtherProgramsAndOtherObjects) {
    // Situation: a file read (and cached), then changed in place by another
    // program to the same size, then replaced through an IniFile with its own
    // cache, then through one sharing the cache.
    // Expected: each read after a change sees the change (with a cache that
    // looks at the file on every read).
    const auto cache = std::make_shared<IniFile::Cache>(IniFile::Cache::kDefaultBudget,
                                                        std::chrono::nanoseconds(0));
    Spill(m_path, "[S]\r\nK=aaa\r\n");
    Touch(m_path, 1'000'000'000);
    const IniFile reader(m_path, German(), cache);
    EXPECT_EQ(reader.ReadString("S", "K", ""), "aaa");

    Spill(m_path, "[S]\r\nK=bbb\r\n");
    Touch(m_path, 1'000'000'001);
    EXPECT_EQ(reader.ReadString("S", "K", ""), "bbb");

    Spill(m_path, "[S]\r\nK=cccc\r\n[T]\r\nx=1\r\n");
    EXPECT_EQ(reader.ReadString("S", "K", ""), "cccc");
    EXPECT_TRUE(reader.SectionExists("T"));

    IniFile separate(m_path, German(), std::make_shared<IniFile::Cache>());
    ASSERT_TRUE(separate.WriteString("S", "K", "ddd"));
    EXPECT_EQ(reader.ReadString("S", "K", ""), "ddd");
    ASSERT_TRUE(separate.WriteString("S", "K", "eee"));  // same size, same second
    EXPECT_EQ(reader.ReadString("S", "K", ""), "eee");

    IniFile sharing(m_path, German(), cache);
    ASSERT_TRUE(sharing.EraseSection("T"));
    EXPECT_FALSE(reader.SectionExists("T"));
    EXPECT_EQ(separate.ReadString("S", "K", ""), "eee");
}

TEST_F(IniFileTest, ReadersOnAnotherThreadSeeWholeRecords) {
    // Situation: one thread rewrites a two-key record ten times while another
    // reads it through its own IniFile sharing the cache.
    // Expected: every read shows both keys from the same write.
    auto cache = std::make_shared<IniFile::Cache>();
    IniFile writer(m_path, German(), cache);
    ASSERT_TRUE(writer.WriteValues("R", {{"A", "0"}, {"B", "0"}}));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        const IniFile ini(m_path, German(), cache);
        while (!done.load()) {
            const auto values = ini.ReadSectionValues("R");
            if (values.size() != 2 || values[0].second != values[1].second) {
                ++torn;
            }
            ++reads;
        }
    });
    for (int i = 1; i <= 10; ++i) {
        // Let the reader finish a read of the previous record first, so reads
        // and writes interleave however busy the machine is; the cap only
        // guards against a hang.
        const int before = reads.load();
        const auto cap = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (reads.load() == before && std::chrono::steady_clock::now() < cap) {
            std::this_thread::yield();
        }
        EXPECT_TRUE(writer.WriteValues("R", {{"A", std::to_string(i)}, {"B", std::to_string(i)}}));
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(writer.ReadString("R", "B", ""), "10");
}

TEST_F(IniFileTest, FileBehindASymbolicLinkIsReplacedWhereItLives) {
    // Situation: the store's path is a symbolic link to a file in a subfolder.
    // Expected: the link stays a link and the file it points to gets the write.
    fs::create_directory(m_folder + "/real");
    Spill(m_folder + "/real/data.dat", "[S]\r\nK=1\r\n");
    fs::create_symlink("real/data.dat", m_path);
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.WriteString("S", "K", "2"));
    EXPECT_TRUE(fs::is_symlink(m_path));
    EXPECT_EQ(Slurp(m_folder + "/real/data.dat"), "[S]\r\nK=2\r\n");
    EXPECT_EQ(ini.ReadString("S", "K", ""), "2");
}

TEST_F(IniFileTest, CacheKeepsToItsBudget) {
    // Situation: a cache of 64 KiB that parses three files of about 30 KiB.
    // Expected: it never holds more than its budget, and reads stay right.
    auto cache = std::make_shared<IniFile::Cache>(64 * 1024);
    for (int f = 0; f < 3; ++f) {
        std::string text = "[S]\r\nFile=" + std::to_string(f) + "\r\n";
        text.append("[Pad]\r\nPad=").append(30'000, 'x').append("\r\n");
        Spill(m_folder + "/f" + std::to_string(f), text);
    }
    for (int round = 0; round < 2; ++round) {
        for (int f = 0; f < 3; ++f) {
            const IniFile ini(m_folder + "/f" + std::to_string(f), German(), cache);
            EXPECT_EQ(ini.ReadInteger("S", "File", -1), f);
            EXPECT_LE(cache->Bytes(), 64u * 1024);
            EXPECT_GT(cache->Bytes(), 0u);
        }
    }
    cache->Clear();
    EXPECT_EQ(cache->Bytes(), 0u);
}

TEST_F(IniFileTest, AFileThatJustChangedIsLookedAtOnEveryRead) {
    // Situation: with the default recheck time, a file written a moment ago is
    // read, changed in place by another program, read at once; then changed
    // through another object sharing the cache; then removed.
    // Expected: every read sees the change at once: only a file unchanged for
    // a second is trusted without a new look.
    const auto cache = std::make_shared<IniFile::Cache>();
    Spill(m_path, "[S]\r\nK=aaa\r\n");
    const IniFile reader(m_path, German(), cache);
    EXPECT_EQ(reader.ReadString("S", "K", ""), "aaa");
    EXPECT_TRUE(reader.SectionExists("S"));
    Spill(m_path, "[S]\r\nK=bbbb\r\n");
    EXPECT_EQ(reader.ReadString("S", "K", ""), "bbbb");
    IniFile writer(m_path, German(), cache);
    ASSERT_TRUE(writer.WriteString("S", "K", "c"));
    EXPECT_EQ(reader.ReadString("S", "K", ""), "c");
    fs::remove(m_path);
    EXPECT_FALSE(reader.SectionExists("S"));
    Spill(m_path, "[T]\r\nK=1\r\n");
    EXPECT_TRUE(reader.SectionExists("T"));
}

TEST_F(IniFileTest, AFileThatExistsButCannotBeReadIsAnErrorNotAnEmptyFile) {
    // Situation: a folder stands where the file should be (unreadable as a
    // file even for root), beside a file that is simply missing.
    // Expected: the snapshot of the first names the path and the reason and
    // reads as empty; the missing one has no error; a write never replaces
    // the unreadable one.
    fs::create_directory(m_path);
    const IniFile unreadable(m_path, German());
    const IniFile::Snapshot snapshot = unreadable.ReadSnapshot();
    EXPECT_EQ(snapshot.Error(), "cannot read " + m_path + ": not a regular file");
    EXPECT_FALSE(snapshot.SectionExists("S"));
    EXPECT_TRUE(IniFile(m_folder + "/missing.dat", German()).ReadSnapshot().Error().empty());

    IniFile writer(m_path, German());
    const Result written = writer.WriteString("S", "K", "v");
    EXPECT_FALSE(written);
    EXPECT_EQ(written.Message, "cannot read " + m_path + ": not a regular file");
    EXPECT_FALSE(writer.Clear());
    EXPECT_TRUE(fs::is_directory(m_path));
}

TEST_F(IniFileTest, ClearEmptiesTheFileAndCreatesNoMissingOne) {
    // Situation: Clear on a file with two sections, then on a missing file.
    // Expected: an empty file that lists nothing; no file made for the missing.
    IniFile ini(m_path, German());
    ASSERT_TRUE(ini.WriteString("A", "K", "1"));
    ASSERT_TRUE(ini.WriteString("B", "K", "2"));
    const Result cleared = ini.Clear();
    ASSERT_TRUE(cleared) << cleared.Message;
    EXPECT_EQ(Slurp(m_path), "");
    EXPECT_TRUE(ini.ReadSections().empty());
    IniFile missing(m_folder + "/missing.dat", German());
    EXPECT_TRUE(missing.Clear());
    EXPECT_FALSE(fs::exists(m_folder + "/missing.dat"));
}

// Runs body in a child process that starts when the returned function is
// called, and gives its exit status from the second function.
class ChildWriter {
public:
    template <typename Body>
    explicit ChildWriter(Body body) {
        int fds[2];
        if (::pipe(fds) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[1]);
            char go = 0;
            // Waits for the parent so that both write at the same time.
            const bool started = ::read(fds[0], &go, 1) == 1;
            ::_exit(started ? body() : 3);
        }
        ::close(fds[0]);
        m_start = fds[1];
    }
    void Start() {
        const char go = 1;
        EXPECT_EQ(::write(m_start, &go, 1), 1);
        ::close(m_start);
    }
    int Wait() {
        int status = 0;
        EXPECT_EQ(::waitpid(m_pid, &status, 0), m_pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_start = -1;
};

TEST_F(IniFileTest, TwoProcessesWritingTheSameFileLoseNothing) {
    // Situation: a coupon file of 1000 devices; one process closes every
    // coupon (1000 key deletions) while another records 1000 new devices, the
    // two interleaved on the same file.
    // Expected: every coupon stays closed and every new device is recorded:
    // each write re-read the file under the lock before replacing it.
    constexpr int kEach = 1000;
    // On a memory file system when there is one: the point is the interleaving,
    // and 4000 flushes to a disk would take half a minute.
    std::string folder =
        (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
        "kavri-ini-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string path = folder + "/accepted.dat";
    struct Remove {
        std::string Folder;
        ~Remove() {
            std::error_code ignored;
            fs::remove_all(Folder, ignored);
        }
    } remove{folder};
    {
        std::string text;
        for (int i = 0; i < kEach; ++i) {
            text +=
                "[old" + std::to_string(i) + "]\r\nName=x\r\nCoupon=C" + std::to_string(i) + "\r\n";
        }
        Spill(path, text);
    }
    ChildWriter closer([&] {
        // The child parses on its own: nothing shared with the parent's cache.
        IniFile ini(path, German(), std::make_shared<IniFile::Cache>());
        for (int i = 0; i < kEach; ++i) {
            if (!ini.DeleteKey("old" + std::to_string(i), "Coupon")) {
                return 1;
            }
        }
        return 0;
    });
    IniFile ini(path, German(), std::make_shared<IniFile::Cache>());
    closer.Start();
    for (int i = 0; i < kEach; ++i) {
        const Result written =
            ini.WriteValues("new" + std::to_string(i), {{"Name", "y"}, {"Coupon", "N"}});
        ASSERT_TRUE(written) << written.Message;
    }
    ASSERT_EQ(closer.Wait(), 0);

    const IniFile::Snapshot result = IniFile(path, German()).ReadSnapshot();
    int open = 0;
    int recorded = 0;
    for (int i = 0; i < kEach; ++i) {
        open += result.ValueExists("old" + std::to_string(i), "Coupon") ? 1 : 0;
        recorded += result.SectionExists("new" + std::to_string(i)) ? 1 : 0;
        EXPECT_TRUE(result.SectionExists("old" + std::to_string(i)));
    }
    EXPECT_EQ(open, 0);
    EXPECT_EQ(recorded, kEach);
}

}  // namespace
}  // namespace kavri
