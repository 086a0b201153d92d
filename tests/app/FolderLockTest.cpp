// The data folder's lock: one holder at a time, named by its process id,
// and nothing left behind that blocks the next start.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/FolderLock.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel {
namespace {

TEST(FolderLockTest, OneHolderAtATimeAndALeftoverFileBlocksNothing) {
  testsupport::ScratchFolder scratch("vantrel-lock");
  // What a program that was killed leaves: the file, without its lock.
  scratch.Write(TFolderLock::kFileName, "2147483646\nvantrel\nelsewhere\n");
  TFolderLock first(scratch.Path());
  ASSERT_TRUE(first.Acquire());
  EXPECT_EQ(scratch.Read(TFolderLock::kFileName).rfind(std::to_string(getpid()) + "\n", 0), 0u);

  TFolderLock second(scratch.Path());
  EXPECT_FALSE(second.Acquire());
  EXPECT_TRUE(second.Error().empty());
  EXPECT_EQ(second.HolderPid(), getpid());
  EXPECT_EQ(second.InUseMessage(), "Another Vantrel is using " +
                                       std::filesystem::canonical(scratch.Path()).string() +
                                       " (pid " + std::to_string(getpid()) + ")");

  first.Release();
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / TFolderLock::kFileName));
  EXPECT_TRUE(second.Acquire());
}

}  // namespace
}  // namespace vantrel
