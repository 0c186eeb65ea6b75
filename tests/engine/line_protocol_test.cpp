#include "modules/engine/line_protocol.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "modules/engine/engine_rules.h"

namespace VirelantDesktop::engine {
namespace {

std::vector<std::string> Split(LineSplitter& splitter, const std::string& bytes) {
  std::vector<std::string> lines;
  splitter.Feed(bytes.data(), bytes.size(), [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

TEST(LineSplitter, TrimsCarriageReturnsAndSpacesAndSkipsEmptyLines) {
  LineSplitter splitter;
  EXPECT_EQ(Split(splitter, "a\r\n\r\nb \n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Split(splitter, " \r \r\n  x\t \r\n"), (std::vector<std::string>{"  x\t"}))
      << "only trailing CR and space go; leading spaces and tabs stay";
}

TEST(LineSplitter, JoinsLinesAcrossBlocksAndHoldsTheUnterminatedTail) {
  LineSplitter splitter;
  EXPECT_TRUE(Split(splitter, "{\"evt\":").empty());
  EXPECT_EQ(splitter.PendingBytes(), 7u);
  EXPECT_EQ(Split(splitter, "1}\nsec"), (std::vector<std::string>{"{\"evt\":1}"}));
  EXPECT_EQ(Split(splitter, "ond\nlost"), (std::vector<std::string>{"second"}));
  EXPECT_EQ(splitter.PendingBytes(), 4u) << "a last line without a line feed is never delivered";
}

TEST(LineSplitter, AnOverlongLineIsDroppedWholeAndTheNextLinesSurvive) {
  LineSplitter splitter(8);
  EXPECT_EQ(Split(splitter, "12345678\n123456789\nok\n"), (std::vector<std::string>{"12345678", "ok"}));
  // Over the cap while still arriving: nothing is held beyond the cap.
  EXPECT_TRUE(Split(splitter, "abcdef").empty());
  EXPECT_TRUE(Split(splitter, "ghijkl").empty());
  EXPECT_EQ(splitter.PendingBytes(), 0u);
  EXPECT_TRUE(Split(splitter, std::string(100000, 'z')).empty());
  EXPECT_EQ(Split(splitter, "tail\nnext\n"), (std::vector<std::string>{"next"}));
  // Held part plus the rest of its line over the cap.
  EXPECT_TRUE(Split(splitter, "12345").empty());
  EXPECT_EQ(Split(splitter, "6789\nafter\n"), (std::vector<std::string>{"after"}));
  EXPECT_EQ(splitter.DroppedLines(), 3u);
}

TEST(LineSplitter, TheRealCapPassesALineOfExactlyTheCap) {
  LineSplitter splitter;
  std::string line(kMaxLineBytes, 'x');
  std::vector<std::string> lines = Split(splitter, line.substr(0, 4096));
  lines = Split(splitter, line.substr(4096) + "\n" + line + "y\nz\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), kMaxLineBytes);
  EXPECT_EQ(lines[1], "z");
}

TEST(DetectBusy, AnnouncementsInAnyLayout) {
  EXPECT_EQ(DetectBusy(R"({"evt":"busy","busy":true})"), 1);
  EXPECT_EQ(DetectBusy(R"({ "busy" : false , "evt" : "busy" })"), 0);
  EXPECT_EQ(DetectBusy("{\t\"evt\":\"busy\",\r\"busy\":true,\"job\":\"a b\"}"), 1);
  EXPECT_EQ(DetectBusy(R"({"evt":"busy"})"), -1) << "14 bytes: too short";
  EXPECT_EQ(DetectBusy(R"({"evt":"busy","busy":1})"), -1);
  EXPECT_EQ(DetectBusy(R"({"evt":"idle","busy":true})"), -1);
  EXPECT_EQ(DetectBusy(R"( {"evt":"busy","busy":true})"), -1) << "must start with {";
  const std::string padded = R"({"evt":"busy","busy":true,"pad":")";
  EXPECT_EQ(DetectBusy(padded + std::string(200 - padded.size() - 2, 'p') + "\"}"), 1) << "200 bytes";
  EXPECT_EQ(DetectBusy(padded + std::string(201 - padded.size() - 2, 'p') + "\"}"), -1) << "201 bytes";
}

TEST(BuildQuitLine, PlainAndWithCappedDrain) {
  EXPECT_EQ(BuildQuitLine(0), R"({"cmd":"quit"})");
  EXPECT_EQ(BuildQuitLine(30000), R"({"cmd":"quit","drainMs":30000})");
  EXPECT_EQ(BuildQuitLine(1), R"({"cmd":"quit","drainMs":1})");
  EXPECT_EQ(BuildQuitLine(4000000000u), R"({"cmd":"quit","drainMs":120000})");
}

TEST(EngineRules, GracefulWaitIsClampedAndCut) {
  EXPECT_EQ(GracefulWaitMs(-5), 0u);
  EXPECT_EQ(GracefulWaitMs(0), 0u);
  EXPECT_EQ(GracefulWaitMs(1.9), 1u);
  EXPECT_EQ(GracefulWaitMs(10000000), 600000u);
  EXPECT_EQ(GracefulWaitMs(std::nan("")), 0u);
  EXPECT_EQ(GracefulWaitMs(std::numeric_limits<double>::infinity()), 600000u);
}

TEST(EngineRules, ExitCodes) {
  EXPECT_EQ(ExitEventCode({false, 0, false}, false), 0);
  EXPECT_EQ(ExitEventCode({false, 255, false}, true), 255);
  EXPECT_EQ(ExitEventCode({true, SIGKILL, true}, true), 1) << "our terminate";
  EXPECT_EQ(ExitEventCode({true, SIGKILL, true}, false), -9);
  EXPECT_EQ(ExitEventCode({true, SIGSEGV, false}, true), -11);
}

TEST(EngineRules, SpawnMessages) {
  using platform::JobSpawnStep;
  EXPECT_EQ(SpawnFailedMessage(JobSpawnStep::Pipe, 4), "엔진 기동 실패 (pipe, Win32 error 4)");
  EXPECT_EQ(SpawnFailedMessage(JobSpawnStep::NullDevice, 2), "엔진 기동 실패 (NUL)");
  EXPECT_EQ(SpawnFailedMessage(JobSpawnStep::Attributes, 8), "엔진 기동 실패 (attr, Win32 error 8)");
  EXPECT_EQ(SpawnFailedMessage(JobSpawnStep::Job, 2), "엔진 기동 실패 (job object)");
  EXPECT_EQ(SpawnFailedMessage(JobSpawnStep::Process, 2), "엔진 기동 실패 (Win32 error 2)");
  EXPECT_EQ(SpawnFailedMessage(JobSpawnStep::Assign, 4294967295u),
            "엔진 기동 실패 (job assign, Win32 error 4294967295)");
}

}  // namespace
}  // namespace VirelantDesktop::engine
