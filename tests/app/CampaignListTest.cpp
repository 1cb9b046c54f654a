#include "app/CampaignList.h"

#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestFolder.h"

#include <sys/wait.h>
#include <unistd.h>

namespace kavri {
namespace {

using test::Slurp;
using test::Spill;
using Names = std::vector<std::string>;

class CampaignListTest : public ::testing::Test {
protected:
    test::TempFolder m_temp;
    std::string m_path = m_temp.Path() + "campaigns.dat";
};

TEST_F(CampaignListTest, LoadsLinesInOrderAndSkipsWhatIsNoFolderName) {
    // Situation: a list with CR LF and LF lines, a last line without an end, an
    // empty line, and hand-edited lines that lead out of the data folder.
    // Expected: the usable names in file order, as written; the others skipped
    // and reported.
    Spill(m_path, "SUMMER SALE\r\n\r\nwinter\n../../etc\r\nA/B\nLAST");
    const CampaignList list(m_path);
    EXPECT_EQ(list.Names(), (Names{"SUMMER SALE", "winter", "LAST"}));
    EXPECT_EQ(list.SkippedLines(), (Names{"../../etc", "A/B"}));
    EXPECT_EQ(list.LoadError(), "");
}

TEST_F(CampaignListTest, MissingFileIsAnEmptyListAndAnUnreadableOneIsNeverOverwritten) {
    // Situation: no file; then a file beyond the size limit.
    // Expected: an empty list without error; an empty list with the reason,
    // which refuses every change so the file stays.
    EXPECT_TRUE(CampaignList(m_path).Names().empty());
    EXPECT_EQ(CampaignList(m_path).LoadError(), "");
    Spill(m_path, "X\r\n");
    std::filesystem::resize_file(m_path, CampaignList::kMaxFileSize + 1);
    CampaignList big(m_path);
    EXPECT_TRUE(big.Names().empty());
    EXPECT_NE(big.LoadError(), "");
    // Writing now would replace every campaign it lists with one line.
    std::string error;
    EXPECT_FALSE(big.Add("NEW", error));
    EXPECT_NE(error.find("left as it is"), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(m_path), CampaignList::kMaxFileSize + 1);
}

TEST_F(CampaignListTest, EveryChangeIsOnDiskWhenItReturns) {
    // Situation: names added and removed, each change followed by a fresh load.
    // Expected: the file always holds the list, CR LF lines; removal matches
    // without regard to ASCII case; no temporary file stays behind (the
    // companion lock file stays, by design).
    CampaignList list(m_path);
    std::string error;
    ASSERT_TRUE(list.Add("A", error)) << error;
    ASSERT_TRUE(list.Add("B", error)) << error;
    ASSERT_TRUE(list.Add("C", error)) << error;
    EXPECT_EQ(Slurp(m_path), "A\r\nB\r\nC\r\n");
    ASSERT_TRUE(test::Done(list.Remove("b"), error)) << error;
    EXPECT_EQ(CampaignList(m_path).Names(), (Names{"A", "C"}));
    ASSERT_TRUE(test::Done(list.Remove("A"), error)) << error;
    ASSERT_TRUE(test::Done(list.Remove("C"), error)) << error;
    EXPECT_EQ(Slurp(m_path), "");
    EXPECT_EQ(test::Tree(m_temp.Path()), (std::map<std::string, std::string>{
                                             {"campaigns.dat", ""}, {".campaigns.dat.lock", ""}}));
}

TEST_F(CampaignListTest, RefusedChangesLeaveListAndFileAlone) {
    // Situation: a duplicate in another case, a path as a name, removing a
    // name that is not there. Expected: each refused with a reason; the list
    // and the file unchanged.
    CampaignList list(m_path);
    std::string error;
    ASSERT_TRUE(list.Add("SUMMER", error));
    for (const char* name : {"summer", "../x", "", "a\nb"}) {
        error.clear();
        EXPECT_FALSE(list.Add(name, error)) << name;
        EXPECT_NE(error, "") << name;
    }
    EXPECT_FALSE(test::Done(list.Remove("WINTER"), error));
    EXPECT_EQ(list.Names(), (Names{"SUMMER"}));
    EXPECT_EQ(Slurp(m_path), "SUMMER\r\n");
}

TEST_F(CampaignListTest, FailedWriteUndoesTheChangeInMemory) {
    // Situation: the list's folder does not exist, so no write can succeed.
    // Expected: Add and Remove fail and the list in memory matches the disk.
    CampaignList list(m_temp.Path() + "gone/campaigns.dat");
    std::string error;
    EXPECT_FALSE(list.Add("A", error));
    EXPECT_NE(error.find("gone"), std::string::npos) << error;
    EXPECT_TRUE(list.Names().empty());

    Spill(m_path, "A\r\nB\r\n");
    CampaignList loaded(m_path);
    std::filesystem::remove(m_path);
    std::filesystem::create_directory(m_path);  // a folder where the file goes
    // The change reads the file again first, which now fails: the list is
    // what could be read (nothing), and nothing is written.
    EXPECT_FALSE(test::Done(loaded.Remove("A"), error));
    EXPECT_NE(error.find("left as it is"), std::string::npos) << error;
    EXPECT_TRUE(loaded.Names().empty());
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
}

TEST_F(CampaignListTest, AByteOrderMarkIsSkipped) {
    // Situation: a list saved by an editor that puts a UTF-8 byte-order mark
    // first. Expected: the first name is read without it, and found by name.
    Spill(m_path, "\xEF\xBB\xBFSUMMER\r\nWINTER\r\n");
    CampaignList list(m_path);
    EXPECT_EQ(list.Names(), (Names{"SUMMER", "WINTER"}));
    EXPECT_EQ(list.IndexOf("summer"), 0);
    EXPECT_TRUE(list.SkippedLines().empty());
}

TEST_F(CampaignListTest, LinesThatNameNoCampaignAreKeptByteForByte) {
    // Situation: a list with a line in an 8-bit code page (not UTF-8) and a
    // hand-edited "../x" between names; a name is added and one removed.
    // Expected: both lines reported as skipped and written back exactly in
    // their places at every rewrite, never dropped.
    Spill(m_path, "SUMMER\r\nCAF\xC9 \xC0 LA CARTE\r\n../x\nWINTER\r\n");
    CampaignList list(m_path);
    EXPECT_EQ(list.Names(), (Names{"SUMMER", "WINTER"}));
    EXPECT_EQ(list.SkippedLines(), (Names{"CAF\xC9 \xC0 LA CARTE", "../x"}));
    std::string error;
    ASSERT_TRUE(list.Add("SPRING", error)) << error;
    EXPECT_EQ(Slurp(m_path), "SUMMER\r\nCAF\xC9 \xC0 LA CARTE\r\n../x\r\nWINTER\r\nSPRING\r\n");
    ASSERT_TRUE(test::Done(list.Remove("summer"), error)) << error;
    ASSERT_TRUE(test::Done(list.Remove("WINTER"), error)) << error;
    EXPECT_EQ(Slurp(m_path), "CAF\xC9 \xC0 LA CARTE\r\n../x\r\nSPRING\r\n");
    EXPECT_EQ(CampaignList(m_path).SkippedLines(), (Names{"CAF\xC9 \xC0 LA CARTE", "../x"}));
}

TEST_F(CampaignListTest, AChangeKeepsWhatAnotherProcessChangedMeanwhile) {
    // Situation: two lists over one file, as a running sender's window and a
    // kavrictl beside it; each adds and removes in turn.
    // Expected: no change of the one is lost by a change of the other.
    CampaignList window(m_path);
    CampaignList tool(m_path);
    std::string error;
    ASSERT_TRUE(window.Add("A", error)) << error;
    ASSERT_TRUE(tool.Add("B", error)) << error;
    ASSERT_TRUE(window.Add("C", error)) << error;
    EXPECT_EQ(window.Names(), (Names{"A", "B", "C"}));
    EXPECT_FALSE(window.Add("b", error)) << "B came from the other list";
    ASSERT_TRUE(test::Done(tool.Remove("A"), error)) << error;
    ASSERT_TRUE(test::Done(window.Remove("C"), error)) << error;
    EXPECT_EQ(Slurp(m_path), "B\r\n");
    window.Reload();
    EXPECT_EQ(window.Names(), (Names{"B"}));
}

TEST_F(CampaignListTest, TwoProcessesAddingAtOnceLoseNoCampaign) {
    // Situation: two processes add 300 campaigns each to one list at the same
    // time, as a window and a kavrictl beside it.
    // Expected: all 600 names are in the file: each change read the file again
    // under the lock before writing it.
    constexpr int kEach = 300;
    // On a memory file system when there is one: the point is the interleaving,
    // not 600 flushes to a disk.
    std::string folder =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        "kavri-list-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    struct RemoveFolder {
        std::string Path;
        ~RemoveFolder() {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    } removeFolder{folder};
    const std::string path = folder + "/campaigns.dat";
    auto addAll = [&path](const char* prefix) {
        CampaignList list(path);
        std::string error;
        for (int i = 0; i < kEach; ++i) {
            if (!list.Add(prefix + std::to_string(i), error)) {
                return false;
            }
        }
        return true;
    };
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(start[1]);
        char go = 0;
        const bool started = ::read(start[0], &go, 1) == 1;
        ::_exit(started && addAll("child ") ? 0 : 1);
    }
    ::close(start[0]);
    const char go = 1;
    EXPECT_EQ(::write(start[1], &go, 1), 1);
    ::close(start[1]);
    const bool added = addAll("parent ");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(added);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(CampaignList(path).Size(), std::size_t{2 * kEach});
}

}  // namespace
}  // namespace kavri
