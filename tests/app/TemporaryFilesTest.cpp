#include "app/TemporaryFiles.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "app/AppTestFolder.h"
#include "app/AtomicFile.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

namespace fs = std::filesystem;

// The pid of a process that has come and gone.
pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(TemporaryFilesTest, ReadsTheOwnerOnlyFromOurOwnNamePatterns) {
    // Situation: names of both patterns, and names that merely look alike.
    // Expected: the pid for ours; 0 for anything else.
    EXPECT_EQ(TemporaryFileOwner(".kavri-tmp-123-4"), 123);
    EXPECT_EQ(TemporaryFileOwner(".accepted.dat.tmp-4567-89"), 4567);
    EXPECT_EQ(TemporaryFileOwner(".a.tmp-1-1"), 1);
    for (const char* other :
         {"accepted.dat", "accepted.dat.tmp-12-3", ".tmp-12-3", "..tmp-1-2", ".x.tmp-12",
          ".x.tmp-12-", ".x.tmp--3", ".x.tmp-1a-3", ".kavri-tmp-0-1", ".kavri-tmp-99999999999-1",
          ".x.tmp-12-3.jpg", ".bl.dat.lock"}) {
        EXPECT_EQ(TemporaryFileOwner(other), 0) << other;
    }
}

TEST(TemporaryFilesTest, TheNextWriteRemovesWhatADeadWriterLeftAndNothingElse) {
    // Situation: beside accepted.dat, the temporary files of a killed writer
    // (both patterns), one of a live process (our parent), one of our own
    // process, and files of other names.
    // Expected: the next record write removes exactly the two dead ones.
    test::TempFolder temp;
    const std::string folder = temp.Path();
    const std::string dead = std::to_string(DeadPid());
    const std::string live = std::to_string(::getppid());
    const std::string self = std::to_string(::getpid());
    for (const std::string& name : {".accepted.dat.tmp-" + dead + "-1", ".kavri-tmp-" + dead + "-7",
                                    ".accepted.dat.tmp-" + live + "-2", ".kavri-tmp-" + self + "-3",
                                    std::string("notes.txt"), std::string(".hidden")}) {
        test::Spill(folder + name, "half a record");
    }
    IniFile accepted(folder + "accepted.dat", DateFormat::Iso());
    ASSERT_TRUE(accepted.WriteString("(00:17:E5:3A:91:02)", "Name", "Ann")) << accepted.LastError();
    EXPECT_EQ(Entries(folder),
              (std::vector<std::string>{".accepted.dat.lock", ".accepted.dat.tmp-" + live + "-2",
                                        ".hidden", ".kavri-tmp-" + self + "-3", "accepted.dat",
                                        "notes.txt"}));
}

TEST(TemporaryFilesTest, AWholeFileReplacementCleansItsFolderToo) {
    // Situation: a dead writer's temporary file beside the campaign list.
    // Expected: gone after the list is written; a folder of that name stays.
    test::TempFolder temp;
    const std::string dead = std::to_string(DeadPid());
    test::Spill(temp.Path() + ".campaigns.dat.tmp-" + dead + "-1", "SALE\r\n");
    fs::create_directory(temp.Path() + ".kavri-tmp-" + dead + "-2");
    std::string error;
    ASSERT_TRUE(test::Done(WriteFileAtomically(temp.Path() + "campaigns.dat", "SALE\r\n"), error))
        << error;
    EXPECT_EQ(Entries(temp.Path()),
              (std::vector<std::string>{".kavri-tmp-" + dead + "-2", "campaigns.dat"}));
    EXPECT_EQ(RemoveStaleTemporaryFiles(temp.Path()), 0u);
}

}  // namespace
}  // namespace kavri
