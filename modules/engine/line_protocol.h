// The engine's line protocol, free of I/O: splitting its output into lines,
// spotting its busy announcements and building the quit command.
//
// A line is UTF-8 text ended by a line feed. From the engine, carriage
// returns and spaces before the line feed are dropped and empty lines are
// skipped; towards the engine, the shell appends one line feed to each text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace VirelantDesktop::engine {

// The longest output line passed on, line feed excluded. A longer line is
// dropped whole: its bytes are discarded as they arrive, and the lines after
// it are untouched. This bounds what one engine can make the shell hold.
inline constexpr size_t kMaxLineBytes = size_t{8} << 20;

// The longest drain time a quit command carries.
inline constexpr uint32_t kMaxDrainMs = 120000;

// {"cmd":"quit"} for 0, else {"cmd":"quit","drainMs":N} with N capped at
// 120000.
std::string BuildQuitLine(uint32_t drainMs);

// 1 when the line announces busy work, 0 when it announces idleness, -1 when
// it is neither. A substring test on a copy without tabs, carriage returns
// and spaces, not a JSON parse; only lines of 20 to 200 bytes starting with
// "{" count.
int DetectBusy(std::string_view line) noexcept;

// The line without its trailing carriage returns and spaces.
inline std::string_view TrimLineEnd(std::string_view line) noexcept {
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == ' ')) --end;
  return line.substr(0, end);
}

// Cuts a byte stream into lines. Bytes after the last line feed wait for the
// next block; whatever waits when the stream ends is never delivered.
class LineSplitter {
 public:
  explicit LineSplitter(size_t maxLineBytes = kMaxLineBytes) : maxLineBytes_(maxLineBytes) {}

  // Calls `onLine(std::string_view)` for each complete, trimmed, non-empty
  // line in `data`, in order. The view is valid only during the call.
  template <class OnLine>
  void Feed(const char* data, size_t size, OnLine&& onLine) {
    const char* end = data + size;
    while (data < end) {
      const char* feed = static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(end - data)));
      if (feed == nullptr) {
        Hold(data, static_cast<size_t>(end - data));
        return;
      }
      const size_t length = static_cast<size_t>(feed - data);
      if (discarding_) {
        discarding_ = false;  // the tail of a dropped line
      } else if (pending_.empty()) {
        if (length <= maxLineBytes_) Deliver(std::string_view(data, length), onLine);
        else ++droppedLines_;
      } else if (pending_.size() + length <= maxLineBytes_) {
        pending_.append(data, length);
        Deliver(pending_, onLine);
        pending_.clear();
      } else {
        pending_.clear();
        ++droppedLines_;
      }
      data = feed + 1;
    }
  }

  size_t PendingBytes() const noexcept { return pending_.size(); }
  uint64_t DroppedLines() const noexcept { return droppedLines_; }

 private:
  template <class OnLine>
  static void Deliver(std::string_view line, OnLine& onLine) {
    line = TrimLineEnd(line);
    if (!line.empty()) onLine(line);
  }

  void Hold(const char* data, size_t size) {
    if (discarding_) return;
    if (pending_.size() + size > maxLineBytes_) {
      // Too long to pass on: drop what is held and the rest up to its line feed.
      std::string().swap(pending_);
      discarding_ = true;
      ++droppedLines_;
      return;
    }
    pending_.append(data, size);
  }

  size_t maxLineBytes_;
  std::string pending_;
  bool discarding_ = false;
  uint64_t droppedLines_ = 0;
};

}  // namespace VirelantDesktop::engine
