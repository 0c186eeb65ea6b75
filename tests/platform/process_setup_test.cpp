#include "platform/process_setup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace VirelantDesktop::platform {
namespace {

// Writes to a pipe whose read end is closed. Exit codes: 0 for the EPIPE
// failure the setting promises, 1 when the write went through, 2 for any
// other error. Being killed by SIGPIPE is the fault under test.
[[noreturn]] void WriteToBrokenPipeAndExit() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) _exit(3);
  close(fds[0]);
  const ssize_t written = write(fds[1], "x", 1);
  const int error = errno;
  if (written >= 0) _exit(1);
  _exit(error == EPIPE ? 0 : 2);
}

// Each case runs in a child process that starts from the default SIGPIPE
// action, since the test program itself already ignores it.
void RestoreDefaultSigpipe() { signal(SIGPIPE, SIG_DFL); }

TEST(ProcessSetupDeathTest, DefaultActionKillsOnBrokenPipe) {
  // Shows the check below can tell the difference.
  EXPECT_EXIT(
      {
        RestoreDefaultSigpipe();
        WriteToBrokenPipeAndExit();
      },
      ::testing::KilledBySignal(SIGPIPE), "");
}

TEST(ProcessSetupDeathTest, IgnoreSigpipeTurnsBrokenPipeIntoEpipe) {
  EXPECT_EXIT(
      {
        RestoreDefaultSigpipe();
        IgnoreSigpipe();
        WriteToBrokenPipeAndExit();
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ProcessSetupDeathTest, InitProcessIgnoresSigpipe) {
  EXPECT_EXIT(
      {
        RestoreDefaultSigpipe();
        InitProcess();
        WriteToBrokenPipeAndExit();
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(MarkDescriptorsCloseOnExec, FlagsEveryDescriptorFromTheFirstUp) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);  // deliberately without O_CLOEXEC
  ASSERT_EQ(fcntl(fds[0], F_GETFD) & FD_CLOEXEC, 0);
  MarkDescriptorsCloseOnExec(fds[1]);
  EXPECT_EQ(fcntl(fds[0], F_GETFD) & FD_CLOEXEC, 0) << "below the first descriptor: untouched";
  EXPECT_NE(fcntl(fds[1], F_GETFD) & FD_CLOEXEC, 0);
  MarkDescriptorsCloseOnExec();
  EXPECT_NE(fcntl(fds[0], F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(fcntl(STDOUT_FILENO, F_GETFD) & FD_CLOEXEC, 0) << "standard streams stay inheritable";
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace VirelantDesktop::platform
