#include "platform/unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

class UniqueFdTest : public ::testing::Test {
 protected:
  int OpenFile(const char* name) {
    const int fd = open(temp_.Join(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    return fd;
  }

 private:
  testing::TempDir temp_;
};

TEST_F(UniqueFdTest, DefaultIsEmpty) {
  UniqueFd fd;
  EXPECT_FALSE(fd.IsValid());
  EXPECT_FALSE(fd);
  EXPECT_EQ(fd.Get(), -1);
  fd.Reset();  // closing nothing is harmless
  EXPECT_FALSE(fd);
}

TEST_F(UniqueFdTest, ClosesOnDestruction) {
  const int raw = OpenFile("a");
  {
    UniqueFd fd(raw);
    EXPECT_TRUE(fd);
    EXPECT_EQ(fd.Get(), raw);
  }
  EXPECT_FALSE(IsOpen(raw));
}

TEST_F(UniqueFdTest, ResetClosesTheOldDescriptor) {
  const int first = OpenFile("a");
  const int second = OpenFile("b");
  UniqueFd fd(first);
  fd.Reset(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_TRUE(IsOpen(second));
  EXPECT_EQ(fd.Get(), second);

  // Handing it the descriptor it already holds keeps it open.
  fd.Reset(second);
  EXPECT_TRUE(IsOpen(second));

  fd.Reset();
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(fd);
}

TEST_F(UniqueFdTest, ReleaseGivesUpOwnership) {
  const int raw = OpenFile("a");
  {
    UniqueFd fd(raw);
    EXPECT_EQ(fd.Release(), raw);
    EXPECT_FALSE(fd);
  }
  EXPECT_TRUE(IsOpen(raw));
  close(raw);
}

TEST_F(UniqueFdTest, MovesTransferOwnership) {
  const int first = OpenFile("a");
  const int second = OpenFile("b");
  UniqueFd a(first);
  UniqueFd b(std::move(a));
  EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): moved-from state is part of the contract
  EXPECT_EQ(b.Get(), first);

  UniqueFd c(second);
  c = std::move(b);  // c's own descriptor is closed, it now holds b's
  EXPECT_FALSE(IsOpen(second));
  EXPECT_TRUE(IsOpen(first));
  EXPECT_EQ(c.Get(), first);
  EXPECT_FALSE(b);  // NOLINT(bugprone-use-after-move)

  UniqueFd& alias = c;
  c = std::move(alias);
  EXPECT_TRUE(IsOpen(first));
  EXPECT_EQ(c.Get(), first);
}

}  // namespace
}  // namespace VirelantDesktop::platform
