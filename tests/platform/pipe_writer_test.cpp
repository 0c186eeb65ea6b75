#include "platform/pipe_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <thread>

namespace VirelantDesktop::platform {
namespace {

using namespace std::chrono_literals;

struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
  }
  UniqueFd readEnd;
  UniqueFd writeEnd;
};

// Counts the outcomes of writes.
struct Outcomes {
  std::atomic<int> written{0};
  std::atomic<int> failed{0};
  PipeWriter::Done Done() {
    return [this](bool ok) { (ok ? written : failed).fetch_add(1); };
  }
};

std::string ReadUntilEnd(int fd) {
  std::string text;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

TEST(PipeWriter, WritesLinesWithALineFeedAtOnceWhenThePipeHasRoom) {
  Pipe pipe;
  Outcomes outcomes;
  {
    PipeWriter input(std::move(pipe.writeEnd), /*writerThread=*/false);
    input.Write("{\"cmd\":\"x\"}", outcomes.Done());
    input.Write("two\nlines", outcomes.Done());  // not examined: the engine sees two lines
    EXPECT_EQ(outcomes.written, 2);
    input.Close();
    input.Write("late", outcomes.Done());
    EXPECT_EQ(outcomes.failed, 1);
  }
  EXPECT_EQ(ReadUntilEnd(pipe.readEnd.Get()), "{\"cmd\":\"x\"}\ntwo\nlines\n");
}

TEST(PipeWriter, LinesFromManyThreadsArriveWholeAndInOrderThroughAFullPipe) {
  Pipe pipe;
  Outcomes outcomes;
  auto input = std::make_shared<PipeWriter>(std::move(pipe.writeEnd), /*writerThread=*/true);
  std::thread writer([input] { input->RunWriter(); });

  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        // Lines of up to 40 KiB fill the 64 KiB pipe quickly.
        const std::string body(static_cast<size_t>((i * 7919) % 40000), static_cast<char>('a' + t));
        input->Write(std::to_string(t) + ":" + std::to_string(i) + ":" + body, outcomes.Done());
      }
    });
  }
  auto reading = std::async(std::launch::async, [&] { return ReadUntilEnd(pipe.readEnd.Get()); });
  for (auto& sender : senders) sender.join();
  while (outcomes.written + outcomes.failed < kThreads * kLines) std::this_thread::sleep_for(1ms);
  input->Close();
  writer.join();
  input.reset();
  const std::string text = reading.get();

  EXPECT_EQ(outcomes.written, kThreads * kLines);
  std::map<int, int> nextOf;
  size_t start = 0;
  int count = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    const int t = std::stoi(line);
    const size_t second = line.find(':', 2);
    const int i = std::stoi(line.substr(line.find(':') + 1));
    EXPECT_EQ(i, nextOf[t]++) << "sender " << t << " out of order";
    EXPECT_EQ(line.substr(second + 1), std::string(static_cast<size_t>((i * 7919) % 40000), static_cast<char>('a' + t)))
        << "line " << t << ":" << i << " is not whole";
    start = end + 1;
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST(PipeWriter, ClosingNeverWaitsForAReaderThatStopped) {
  Pipe pipe;  // nobody reads
  Outcomes outcomes;
  auto input = std::make_shared<PipeWriter>(std::move(pipe.writeEnd), /*writerThread=*/true);
  std::thread writer([input] { input->RunWriter(); });

  const auto before = std::chrono::steady_clock::now();
  input->Write(std::string(8 << 20, 'h'), outcomes.Done());  // far more than the pipe holds
  input->Write("small", outcomes.Done());
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s) << "a write must not block the caller";
  EXPECT_EQ(outcomes.written + outcomes.failed, 0);

  input->Close();
  writer.join();  // the writer lets go of the descriptor at once
  EXPECT_EQ(outcomes.failed, 2);
  // The reader now sees end of input after what was written.
  std::string text = ReadUntilEnd(pipe.readEnd.Get());
  EXPECT_GT(text.size(), 0u);
  EXPECT_LT(text.size(), size_t{8} << 20);
}

TEST(PipeWriter, AClosedReadEndFailsTheWrite) {
  Pipe pipe;
  Outcomes outcomes;
  pipe.readEnd.Reset();
  PipeWriter input(std::move(pipe.writeEnd), /*writerThread=*/false);
  input.Write("x", outcomes.Done());
  EXPECT_EQ(outcomes.failed, 1);
}

}  // namespace
}  // namespace VirelantDesktop::platform
