// The engine's output split into lines (LineSplitter), on arbitrary bytes.
//
// Input: byte 0 picks the line cap (1..64), byte 1 a fixed block size and
// byte 2 the seed of a varying block size (empty blocks included); the rest
// is the stream. The stream is fed whole, byte by byte, in fixed blocks and
// in varying blocks, each to a fresh splitter, and then one line feed more.
//  - every delivered line is non-empty, holds no line feed, does not end with
//    a carriage return or space and is at most cap bytes;
//  - the lines, whatever the blocks, are those of a plain reference: split
//    on line feeds, leave out the unterminated tail, leave out any line
//    longer than the cap (line feed excluded, trailing carriage returns and
//    spaces included: they are held like any other byte), trim the end,
//    leave out empty lines;
//  - the held bytes never exceed the cap, and at the end are the tail when
//    it fits the cap, else none; the dropped-line count is the reference's;
//  - the line feed added at the end delivers the held tail as the reference
//    does for the stream with that line feed.
// DetectBusy runs on every delivered line and on the whole stream, against
// what its header promises: -1, 0 or 1; -1 outside 20..200 bytes or without
// a leading "{"; otherwise decided on the text without tabs, carriage
// returns and spaces, "busy":true before "busy":false.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "modules/engine/line_protocol.h"

using VirelantDesktop::engine::DetectBusy;
using VirelantDesktop::engine::LineSplitter;

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "engine_lines_fuzz: %s\n", what);
    __builtin_trap();
  }
}

struct Reference {
  std::vector<std::string> lines;
  uint64_t dropped = 0;
  size_t pending = 0;
};

Reference Split(std::string_view stream, size_t cap) {
  Reference out;
  size_t start = 0;
  for (size_t feed; (feed = stream.find('\n', start)) != std::string_view::npos; start = feed + 1) {
    std::string_view line = stream.substr(start, feed - start);
    if (line.size() > cap) {
      ++out.dropped;
      continue;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (!line.empty()) out.lines.emplace_back(line);
  }
  const size_t tail = stream.size() - start;
  if (tail > cap) ++out.dropped;
  else out.pending = tail;
  return out;
}

void CheckBusy(std::string_view text) {
  const int busy = DetectBusy(text);
  Require(busy == -1 || busy == 0 || busy == 1, "DetectBusy returned something other than -1, 0, 1");
  if (text.size() < 20 || text.size() > 200 || text.front() != '{') {
    Require(busy == -1, "DetectBusy answered for a line outside 20..200 bytes or without a leading {");
    return;
  }
  std::string compact;
  for (char c : text) {
    if (c != '\t' && c != '\r' && c != ' ') compact.push_back(c);
  }
  int expected = -1;
  if (compact.find(R"("evt":"busy")") != std::string::npos) {
    if (compact.find(R"("busy":true)") != std::string::npos) expected = 1;
    else if (compact.find(R"("busy":false)") != std::string::npos) expected = 0;
  }
  Require(busy == expected, "DetectBusy disagrees with the substring rule");
}

// Feeds `stream` in blocks of `nextBlock()` bytes, then one line feed, and
// checks everything against the references.
template <class NextBlock>
void FeedInBlocks(std::string_view stream, size_t cap, const Reference& expected, const Reference& expectedWithFeed,
                  NextBlock&& nextBlock) {
  LineSplitter splitter(cap);
  std::vector<std::string> lines;
  auto onLine = [&](std::string_view line) {
    Require(!line.empty(), "an empty line was delivered");
    Require(line.find('\n') == std::string_view::npos, "a delivered line holds a line feed");
    Require(line.back() != '\r' && line.back() != ' ', "a delivered line ends with CR or space");
    Require(line.size() <= cap, "a delivered line is longer than the cap");
    CheckBusy(line);
    lines.emplace_back(line);
  };
  for (size_t at = 0; at < stream.size();) {
    const size_t size = std::min(nextBlock(), stream.size() - at);
    splitter.Feed(stream.data() + at, size, onLine);
    Require(splitter.PendingBytes() <= cap, "more bytes held than the cap");
    at += size;
  }
  Require(lines == expected.lines, "the lines differ from the reference");
  Require(splitter.PendingBytes() == expected.pending, "the held bytes are not the tail that fits the cap");
  Require(splitter.DroppedLines() == expected.dropped, "the dropped-line count differs from the reference");

  splitter.Feed("\n", 1, onLine);
  Require(lines == expectedWithFeed.lines, "the held tail was not delivered as the reference does");
  Require(splitter.PendingBytes() == 0, "bytes still held after a line feed");
  Require(splitter.DroppedLines() == expectedWithFeed.dropped, "the dropped-line count differs after a line feed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t cap = 1 + data[0] % 64;
  const size_t fixedBlock = 1 + data[1] % 80;
  uint32_t seed = data[2] * 2654435761u + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data + 3), size - 3);

  const Reference expected = Split(stream, cap);
  const Reference expectedWithFeed = Split(std::string(stream) + "\n", cap);

  FeedInBlocks(stream, cap, expected, expectedWithFeed, [&] { return stream.size(); });
  FeedInBlocks(stream, cap, expected, expectedWithFeed, [] { return size_t{1}; });
  FeedInBlocks(stream, cap, expected, expectedWithFeed, [&] { return fixedBlock; });
  // 0 .. 2 x cap + 1: empty blocks, blocks that end inside a held line and
  // blocks that overflow the cap on their own.
  FeedInBlocks(stream, cap, expected, expectedWithFeed, [&] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<size_t>((seed >> 16) % (2 * cap + 2));
  });

  CheckBusy(stream);
  return 0;
}
