#include "platform/file_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/confined_tree.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

using testing::ReadTextFile;
using testing::TempDir;

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 131 + i / 7919);
  return data;
}

// Large enough that the background flush runs several steps meanwhile.
TEST(NewFileTest, ALargeFileIsWholeAfterFinishAndADroppedOneStopsCleanly) {
  TempDir temp;
  const UniqueFd folder = OpenFolderNoFollow(temp.path());
  ASSERT_TRUE(folder);
  const std::string data = Pattern(20 * 1024 * 1024 + 123);
  int error = 0;
  NewFile file = NewFile::CreateAt(folder, "big.part", 0600, error);
  ASSERT_TRUE(file) << error;
  for (size_t offset = 0; offset < data.size(); offset += 65536) {
    ASSERT_TRUE(file.Write(data.data() + offset, std::min<size_t>(65536, data.size() - offset), error)) << error;
  }
  ASSERT_TRUE(file.Finish(error)) << error;
  EXPECT_EQ(ReadTextFile(temp.Join("big.part")), data);

  // Replaced mid-way (a download that failed): its flushing ends before its
  // descriptor is closed, and the new file is unaffected.
  NewFile dropped = NewFile::CreateAt(folder, "dropped.part", 0600, error);
  ASSERT_TRUE(dropped);
  for (int i = 0; i < 160; ++i) ASSERT_TRUE(dropped.Write(data.data(), 65536, error));
  dropped = NewFile::CreateAt(folder, "next.part", 0600, error);
  ASSERT_TRUE(dropped.Write("x", 1, error));
  ASSERT_TRUE(dropped.Finish(error)) << error;
  EXPECT_EQ(ReadTextFile(temp.Join("next.part")), "x");
}

// A pipe cannot be flushed: the failure of a background step must reach
// the writer, since the kernel reports a lost write to one flush only.
TEST(BackgroundFlushTest, AFailedStepIsReportedByStop) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  {
    BackgroundFlush belowAStep(fds[1]);
    belowAStep.Written(1024 * 1024);
    EXPECT_EQ(belowAStep.Stop(), 0) << "nothing flushed yet";
  }
  BackgroundFlush flush(fds[1]);
  flush.Written(64 * 1024 * 1024);
  EXPECT_EQ(flush.Stop(), EINVAL);
  EXPECT_EQ(flush.Stop(), 0) << "reported once";
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace VirelantDesktop::platform
