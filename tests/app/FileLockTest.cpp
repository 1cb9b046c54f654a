#include "app/FileLock.h"

#include <string>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/AppTestFolder.h"

namespace kavri {
namespace {

// Whether another open file could take the lock of target right now.
bool LockIsFree(const std::string& target) {
    const int fd = ::open(FileLock::LockPathOf(target).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

TEST(FileLockTest, HoldsTheCompanionLockUntilItGoesEvenAgainstTheSameProcess) {
    // Situation: a lock on a file, and another open file of the same process
    // trying to take it without waiting.
    // Expected: refused while the lock lives, granted after; the target itself
    // is never created, the companion stays.
    test::TempFolder temp;
    const std::string target = temp.Path() + "accepted.dat";
    {
        const FileLock lock(target);
        ASSERT_TRUE(lock.Locked()) << lock.Error();
        EXPECT_FALSE(LockIsFree(target));
    }
    EXPECT_TRUE(LockIsFree(target));
    EXPECT_EQ(::access(target.c_str(), F_OK), -1);
    EXPECT_EQ(::access((temp.Path() + ".accepted.dat.lock").c_str(), F_OK), 0);
}

TEST(FileLockTest, LockPathFitsAFolderEntryForTheLongestNames) {
    // Situation: a short name and a name of 255 bytes (the longest entry).
    // Expected: ".NAME.lock" beside the first; a hashed name of at most 255
    // bytes for the second, the same each time and different per name.
    EXPECT_EQ(FileLock::LockPathOf("/d/bl.dat"), "/d/.bl.dat.lock");
    EXPECT_EQ(FileLock::LockPathOf("bl.dat"), ".bl.dat.lock");
    const std::string longA(255, 'a');
    const std::string longB(255, 'b');
    const std::string lockA = FileLock::LockPathOf("/d/" + longA);
    EXPECT_EQ(lockA.rfind("/d/.kavri-lock-", 0), 0u) << lockA;
    EXPECT_LE(lockA.size() - 3, 255u);
    EXPECT_EQ(lockA, FileLock::LockPathOf("/d/" + longA));
    EXPECT_NE(lockA, FileLock::LockPathOf("/d/" + longB));
}

TEST(FileLockTest, AFolderThatCannotHoldTheCompanionIsAnErrorWithThePath) {
    // Situation: the target's folder does not exist.
    // Expected: not locked; the reason names the lock file and the system's
    // message.
    test::TempFolder temp;
    const FileLock lock(temp.Path() + "gone/bl.dat");
    EXPECT_FALSE(lock.Locked());
    EXPECT_NE(lock.Error().find(temp.Path() + "gone/.bl.dat.lock: No such file or directory"),
              std::string::npos)
        << lock.Error();
}

}  // namespace
}  // namespace kavri
