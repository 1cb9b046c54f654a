#include "app/AtomicFile.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "AppTestFolder.h"

namespace kavri {
namespace {

using test::Slurp;
using test::Spill;

TEST(AtomicFileTest, ReplacesContentAndKeepsPermissions) {
    // Situation: a file with mode 0640 replaced. Expected: new content, the
    // same mode, and no temporary file left in the folder.
    test::TempFolder temp;
    const std::string path = temp.Path() + "campaigns.dat";
    Spill(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(test::Done(WriteFileAtomically(path, "new\r\n"), error)) << error;
    EXPECT_EQ(Slurp(path), "new\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(test::Tree(temp.Path()).size(), 1u);
}

TEST(AtomicFileTest, CopiesBytesExactlyAndRefusesWhatIsNoRegularFile) {
    // Situation: a binary file larger than the copy buffer; a FIFO (a reader
    // would wait on it forever); a missing source.
    // Expected: a byte-identical copy; the other two refused at once with the
    // target untouched and nothing left behind.
    test::TempFolder temp;
    std::string bytes;
    for (int i = 0; i < 300'000; ++i) {
        bytes.push_back(static_cast<char>(i % 251));
    }
    Spill(temp.Path() + "source", bytes);
    std::string error;
    ASSERT_TRUE(test::Done(CopyFileAtomically(temp.Path() + "source", temp.Path() + "copy"), error))
        << error;
    EXPECT_EQ(Slurp(temp.Path() + "copy"), bytes);

    ASSERT_EQ(::mkfifo((temp.Path() + "fifo").c_str(), 0600), 0);
    Spill(temp.Path() + "target", "kept");
    const auto before = test::Tree(temp.Path());
    EXPECT_FALSE(
        test::Done(CopyFileAtomically(temp.Path() + "fifo", temp.Path() + "target"), error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(
        test::Done(CopyFileAtomically(temp.Path() + "missing", temp.Path() + "target"), error));
    EXPECT_EQ(test::Tree(temp.Path()), before);
}

TEST(AtomicFileTest, FailureLeavesTheTargetAsItWas) {
    // Situation: a target whose folder is missing; a target that is a folder.
    // Expected: false with a reason; the folder still there, nothing left over.
    test::TempFolder temp;
    std::string error;
    EXPECT_FALSE(test::Done(WriteFileAtomically(temp.Path() + "gone/file", "x"), error));
    EXPECT_NE(error, "");
    std::filesystem::create_directory(temp.Path() + "dir");
    const auto before = test::Tree(temp.Path());
    EXPECT_FALSE(test::Done(WriteFileAtomically(temp.Path() + "dir", "x"), error));
    EXPECT_EQ(test::Tree(temp.Path()), before);
}

}  // namespace
}  // namespace kavri
