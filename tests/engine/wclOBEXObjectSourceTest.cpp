#include "engine/wclOBEXObjectSource.h"

#include "stack/wclExceptions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace kavri {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class ObjectSourceTest : public ::testing::Test {
protected:
    ObjectSourceTest() {
        folder = fs::temp_directory_path() /
                 ("kavri-source-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    ~ObjectSourceTest() override { fs::remove_all(folder); }

    std::string Write(const std::string& name, const std::string& content) {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    static Bytes ReadN(TwclOBEXObjectSource& source, std::size_t n) {
        Bytes bytes(n);
        source.Read(bytes);
        return bytes;
    }

    fs::path folder;
};

TEST_F(ObjectSourceTest, FileIsReadInOrderAndNoFurtherThanItsSize) {
    // A 10-byte file read as 4, 0, 6, then 1 more byte. Expected: size 10; the bytes in
    // order; reading past the size is the file error.
    TwclOBEXFileSource source(Write("a.bin", "0123456789"));
    EXPECT_EQ(source.Size(), 10u);
    EXPECT_EQ(ReadN(source, 4), (Bytes{'0', '1', '2', '3'}));
    EXPECT_TRUE(ReadN(source, 0).empty());
    EXPECT_EQ(ReadN(source, 6), (Bytes{'4', '5', '6', '7', '8', '9'}));
    try {
        ReadN(source, 1);
        FAIL() << "read past the end";
    } catch (const wclException& e) {
        EXPECT_EQ(e.ErrorCode(), kWclErrInvalidData);
    }
}

TEST_F(ObjectSourceTest, FileThatShrinksOrGrowsIsNeverReadBeyondWhatItHolds) {
    // A file cut to 3 bytes after opening at 10, and one that grows after opening.
    // Expected: the cut one fails at the missing bytes instead of giving zeros; the grown one
    // gives its size at opening and no more.
    const std::string cut = Write("cut.bin", "0123456789");
    TwclOBEXFileSource shrinking(cut);
    fs::resize_file(cut, 3);
    EXPECT_EQ(ReadN(shrinking, 3), (Bytes{'0', '1', '2'}));
    EXPECT_THROW(ReadN(shrinking, 1), wclException);

    const std::string grown = Write("grown.bin", "ab");
    TwclOBEXFileSource growing(grown);
    std::ofstream(grown, std::ios::binary | std::ios::app) << "cdef";
    EXPECT_EQ(growing.Size(), 2u);
    EXPECT_EQ(ReadN(growing, 2), (Bytes{'a', 'b'}));
    EXPECT_THROW(ReadN(growing, 1), wclException);
}

TEST_F(ObjectSourceTest, FileRemovedAfterOpeningIsStillReadWhole) {
    // The file is removed once the source holds it. Expected: its bytes, all of them.
    const std::string path = Write("gone.bin", "abc");
    TwclOBEXFileSource source(path);
    fs::remove(path);
    EXPECT_EQ(ReadN(source, 3), (Bytes{'a', 'b', 'c'}));
}

TEST_F(ObjectSourceTest, OnlyReadableRegularFilesOpen) {
    // A missing file, a folder, a FIFO with no writer, and (unless root) a file without
    // read permission. Expected: each the file error 0x8000F034, at once.
    fs::create_directories(folder / "dir");
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> paths{(folder / "missing").string(), (folder / "dir").string(), fifo};
    const std::string locked = Write("locked.bin", "x");
    fs::permissions(locked, fs::perms::none);
    if (::geteuid() != 0)
        paths.push_back(locked);
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        try {
            TwclOBEXFileSource source(path);
            ADD_FAILURE() << "opened";
        } catch (const wclException& e) {
            EXPECT_EQ(e.ErrorCode(), kWclErrInvalidData);
        }
    }
}

TEST_F(ObjectSourceTest, MemorySourceKeepsItsOwnCopy) {
    // The caller's bytes change after the source is made. Expected: the original bytes;
    // no read past them.
    Bytes bytes{1, 2, 3};
    TwclOBEXMemorySource source(bytes);
    bytes.assign({9, 9, 9});
    EXPECT_EQ(source.Size(), 3u);
    EXPECT_EQ(ReadN(source, 3), (Bytes{1, 2, 3}));
    EXPECT_THROW(ReadN(source, 1), wclException);
}

TEST(PushNameOfPath, CutsAtTheLastSlashOnly) {
    // Paths with folders, none, a trailing slash, and ':' and '\' in the name.
    // Expected: the text after the last '/', the other characters kept.
    const std::pair<std::string, std::string> cases[] = {
        {"/srv/kavri/SUMMER/video.mp4", "video.mp4"},
        {"card.vcf", "card.vcf"},
        {"/srv/kavri/a:b\\c.txt", "a:b\\c.txt"},
        {"C:\\promo.jpg", "C:\\promo.jpg"},
        {"folder/", ""},
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(PushNameOfPath(path), name) << path;
}

}  // namespace
}  // namespace kavri
