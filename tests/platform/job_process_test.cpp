#include "platform/job_process.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/proc_status.h"

namespace VirelantDesktop::platform {
namespace {

using namespace std::chrono_literals;
using testing::BecomesDead;
using testing::Group;
using testing::IsDead;
using testing::Parent;


std::string ReadAll(UniqueFd fd) {
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = read(fd.Get(), buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

// The value after `key ` on its own line of `text`.
std::string Field(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
  }
  return "?";
}


// Reads the job's output up to its first line feed: "grandchild N".
pid_t ReadGrandchild(const UniqueFd& output) {
  std::string line;
  char byte;
  while (line.find('\n') == std::string::npos && read(output.Get(), &byte, 1) == 1) line += byte;
  const std::string value = Field(line, "grandchild");
  return value == "?" ? -1 : std::stoi(value);
}

// Children that leave the job's process group, each with what it started.
struct Escape {
  std::string name;
  std::string path;
  std::vector<std::string> args;
};
std::vector<Escape> Escapes() {
  return {
      {"sh -c 'exec setsid ...'", "/bin/sh", {"-c", "exec setsid \"$0\" family", TALVEK_JOB_PROBE}},
      {"setsid() in the child", TALVEK_JOB_PROBE, {"escape"}},
      {"a daemon: fork, setsid, fork", TALVEK_JOB_PROBE, {"daemon"}},
  };
}

void IgnoreSignal(int) {}

class JobProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { SetJobGuardPathForTesting(TALVEK_JOB_GUARD); }
  void TearDown() override { SetJobGuardPathForTesting(""); }

  std::unique_ptr<JobProcess> Spawn(const std::string& role) {
    JobSpawnFailure failure;
    auto job = JobProcess::Spawn(TALVEK_JOB_PROBE, {role}, failure);
    EXPECT_TRUE(job) << "step " << static_cast<int>(failure.step) << " errno " << failure.error;
    return job;
  }

  // Spawns `escape` and reads the pid of what its child left behind
  // (0 when none came).
  std::unique_ptr<JobProcess> SpawnEscape(const Escape& escape, UniqueFd& output, pid_t& grandchild) {
    JobSpawnFailure failure;
    auto job = JobProcess::Spawn(escape.path, escape.args, failure);
    EXPECT_TRUE(job) << "step " << static_cast<int>(failure.step) << " errno " << failure.error;
    grandchild = 0;
    if (job) {
      output = job->TakeOutput();
      grandchild = ReadGrandchild(output);
    }
    return job;
  }
};

// A stand-in shell (the probe's "hold" role) that holds a job of `argv` and
// reports the pids of its child and grandchild.
struct Holder {
  explicit Holder(std::vector<std::string> argv) : process(std::move(argv)) {
    if (!process.WaitForOutput("held\n", 5s)) return;
    child = std::stoi(Field(process.output(), "engine"));
    grandchild = std::stoi(Field(process.output(), "grandchild"));
  }
  testing::ChildProcess process;
  pid_t child = 0;
  pid_t grandchild = 0;
};

TEST_F(JobProcessTest, ChildGetsOnlyItsPipesAndNullStderrInAGroupOfItsOwnWithDefaultSignals) {
  auto job = Spawn("report");
  ASSERT_TRUE(job);
  const std::string report = ReadAll(job->TakeOutput());
  EXPECT_EQ(Field(report, "fds"), "0 1 2") << report;
  EXPECT_EQ(Field(report, "stderr"), "/dev/null");
  const pid_t group = std::stoi(Field(report, "pgid"));
  EXPECT_NE(group, getpgrp());
  EXPECT_NE(group, job->Pid()) << "the guard leads the group";
  // This process ignores SIGPIPE; the engine must not inherit that. (glibc's
  // spawn leaves its two internal signals, 32 and 33, ignored.)
  EXPECT_EQ(std::stoull(Field(report, "ignored"), nullptr, 16) & 0x7FFFFFFFull, 0u) << report;
  EXPECT_EQ(Field(report, "blocked"), "0000000000000000");

  ASSERT_TRUE(job->WaitForExit(5000));
  const auto exit = job->PeekExit();
  ASSERT_TRUE(exit);
  EXPECT_FALSE(exit->signaled);
  EXPECT_EQ(exit->value, 0);
}

TEST_F(JobProcessTest, WaitingAndPeekingNeverReap) {
  auto job = Spawn("report");
  ASSERT_TRUE(job);
  ReadAll(job->TakeOutput());
  ASSERT_TRUE(job->WaitForExit(5000));
  EXPECT_TRUE(job->WaitForExit(0));
  ASSERT_TRUE(job->PeekExit());
  ASSERT_TRUE(job->PeekExit());
  EXPECT_EQ(access(("/proc/" + std::to_string(job->Pid())).c_str(), F_OK), 0)
      << "still unreaped: its number cannot be handed out again";
  job->CloseJob();
  job->Reap();
  EXPECT_NE(access(("/proc/" + std::to_string(job->Pid())).c_str(), F_OK), 0);
}

TEST_F(JobProcessTest, TerminateKillsTheWholeJobAndIsRecorded) {
  auto job = Spawn("family");
  ASSERT_TRUE(job);
  UniqueFd output = job->TakeOutput();
  char buffer[64] = {};
  ASSERT_GT(read(output.Get(), buffer, sizeof buffer - 1), 0);
  const pid_t grandchild = std::stoi(Field(buffer, "grandchild"));
  EXPECT_FALSE(job->WaitForExit(0));

  EXPECT_TRUE(job->Terminate());
  ASSERT_TRUE(job->WaitForExit(5000));
  EXPECT_TRUE(job->WasTerminated());
  const auto exit = job->PeekExit();
  ASSERT_TRUE(exit);
  EXPECT_TRUE(exit->signaled);
  EXPECT_EQ(exit->value, SIGKILL);
  EXPECT_TRUE(BecomesDead(grandchild));

  job->CloseJob();
  EXPECT_FALSE(job->Terminate()) << "no kill once the job is closed";
}

TEST_F(JobProcessTest, ClosingTheJobKillsWhatTheChildStarted) {
  auto job = Spawn("family");
  ASSERT_TRUE(job);
  UniqueFd output = job->TakeOutput();
  char buffer[64] = {};
  ASSERT_GT(read(output.Get(), buffer, sizeof buffer - 1), 0);
  const pid_t grandchild = std::stoi(Field(buffer, "grandchild"));
  const pid_t child = job->Pid();
  job.reset();  // the last holder lets go
  EXPECT_TRUE(BecomesDead(child));
  EXPECT_TRUE(BecomesDead(grandchild));
}

TEST_F(JobProcessTest, TheJobDiesWhenItsOwnerIsKilled) {
  Holder holder({TALVEK_JOB_PROBE, "hold", TALVEK_JOB_GUARD});
  ASSERT_GT(holder.grandchild, 0) << holder.process.output();
  ASSERT_FALSE(IsDead(holder.child));
  ASSERT_FALSE(IsDead(holder.grandchild));

  holder.process.Signal(SIGKILL);
  EXPECT_TRUE(BecomesDead(holder.child));
  EXPECT_TRUE(BecomesDead(holder.grandchild));
}

TEST_F(JobProcessTest, TerminateEndsAChildThatLeftTheGroupAndWhatItLeftBehind) {
  for (const Escape& escape : Escapes()) {
    SCOPED_TRACE(escape.name);
    UniqueFd output;
    pid_t grandchild = 0;
    auto job = SpawnEscape(escape, output, grandchild);
    ASSERT_TRUE(job);
    ASSERT_GT(grandchild, 0);
    const long jobGroup = Parent(job->Pid());  // the guard, which leads the job's group
    ASSERT_NE(Group(grandchild), jobGroup) << "the grandchild left the job's group";
    EXPECT_FALSE(job->WaitForExit(0));

    EXPECT_TRUE(job->Terminate());
    ASSERT_TRUE(job->WaitForExit(5000)) << "the child itself was killed";
    const auto exit = job->PeekExit();
    ASSERT_TRUE(exit);
    EXPECT_TRUE(exit->killed);
    EXPECT_TRUE(BecomesDead(grandchild));

    job->CloseJob();
    job->Reap();
    EXPECT_TRUE(IsDead(job->Pid()));
  }
}

TEST_F(JobProcessTest, AChildThatEndsByItselfTakesWhatItLeftBehindAlong) {
  // The middle process of the daemon start exits at once; the child here is
  // a shell that starts the daemon and leaves.
  JobSpawnFailure failure;
  auto job = JobProcess::Spawn("/bin/sh", {"-c", "\"$0\" daemon & read line", TALVEK_JOB_PROBE}, failure);
  ASSERT_TRUE(job);
  UniqueFd output = job->TakeOutput();
  const pid_t grandchild = ReadGrandchild(output);
  ASSERT_GT(grandchild, 0);
  UniqueFd input = job->TakeInput();
  ASSERT_EQ(write(input.Get(), "go\n", 3), 3);  // the shell reads its line and exits 0
  ASSERT_TRUE(job->WaitForExit(5000));
  const auto exit = job->PeekExit();
  ASSERT_TRUE(exit);
  EXPECT_FALSE(exit->signaled);
  EXPECT_EQ(exit->value, 0);
  EXPECT_TRUE(BecomesDead(grandchild)) << "nothing the child started outlives it";
}

TEST_F(JobProcessTest, ClosingTheJobEndsAChildThatLeftTheGroup) {
  for (const Escape& escape : Escapes()) {
    SCOPED_TRACE(escape.name);
    UniqueFd output;
    pid_t grandchild = 0;
    auto job = SpawnEscape(escape, output, grandchild);
    ASSERT_TRUE(job);
    ASSERT_GT(grandchild, 0);
    const pid_t child = job->Pid();
    job.reset();
    EXPECT_TRUE(BecomesDead(child));
    EXPECT_TRUE(BecomesDead(grandchild));
  }
}

TEST_F(JobProcessTest, WhatLeftTheGroupDiesWhenTheOwnerIsKilled) {
  for (const Escape& escape : Escapes()) {
    SCOPED_TRACE(escape.name);
    std::vector<std::string> argv = {TALVEK_JOB_PROBE, "hold", TALVEK_JOB_GUARD, escape.path};
    argv.insert(argv.end(), escape.args.begin(), escape.args.end());
    Holder holder(argv);
    ASSERT_GT(holder.grandchild, 0) << holder.process.output();
    ASSERT_FALSE(IsDead(holder.child));
    ASSERT_FALSE(IsDead(holder.grandchild));
    ASSERT_NE(Group(holder.grandchild), Parent(holder.child)) << "the grandchild left the job's group";

    holder.process.Signal(SIGKILL);
    EXPECT_TRUE(BecomesDead(holder.child));
    EXPECT_TRUE(BecomesDead(holder.grandchild));
  }
}

TEST_F(JobProcessTest, ALimitedWaitIsNotCutShortBySignals) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: every signal interrupts the wait
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  JobSpawnFailure failure;
  auto job = JobProcess::Spawn(TALVEK_JOB_PROBE, {"linger", "300"}, failure);
  ASSERT_TRUE(job);
  std::atomic<bool> done{false};
  bool ended = false;
  std::thread waiter([&] {
    ended = job->WaitForExit(60000);
    done.store(true);
  });
  while (!done.load()) {
    pthread_kill(waiter.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(1ms);
  }
  waiter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(ended) << "the wait ended before the child did";
  const auto exit = job->PeekExit();
  ASSERT_TRUE(exit);
  EXPECT_FALSE(exit->signaled);
  EXPECT_EQ(exit->value, 0);
}

TEST_F(JobProcessTest, FailuresNameTheirStepAndLeaveNothingRunning) {
  JobSpawnFailure failure;
  EXPECT_FALSE(JobProcess::Spawn("/nonexistent/engine", {}, failure));
  EXPECT_EQ(failure.step, JobSpawnStep::Process);
  EXPECT_EQ(failure.error, ENOENT);

  EXPECT_FALSE(JobProcess::Spawn(TALVEK_JOB_PROBE, {std::string("a\0b", 3)}, failure));
  EXPECT_EQ(failure.step, JobSpawnStep::Process);
  EXPECT_EQ(failure.error, EINVAL);

  SetJobGuardPathForTesting("/nonexistent/guard");
  EXPECT_FALSE(JobProcess::Spawn(TALVEK_JOB_PROBE, {"report"}, failure));
  EXPECT_EQ(failure.step, JobSpawnStep::Job);

  // A name without "/" is searched on PATH.
  SetJobGuardPathForTesting(TALVEK_JOB_GUARD);
  auto job = JobProcess::Spawn("true", {}, failure);
  ASSERT_TRUE(job);
  EXPECT_TRUE(job->WaitForExit(5000));
}

}  // namespace
}  // namespace VirelantDesktop::platform
