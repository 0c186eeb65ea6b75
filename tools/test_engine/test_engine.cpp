// talvek-engine: the engine double that the tests, the benchmarks and the
// demo bundle drive. The shell starts it with stdin and stdout on pipes and
// talks to it in lines of text; every line goes out with write(2) at once.
//
// Start-up (unless --silent): {"evt":"ready","pid":P}, then, in this order:
//   --print TEXT        TEXT and a line feed (repeatable, in order)
//   --raw-hex HEX       the decoded bytes as they are, no line feed (repeatable)
//   --flood N           N distinct lines of --line-bytes L bytes (default 64,
//                       L >= 2) each, line feed included
//   --grandchild        start `talvek-engine --sleeper`, which inherits stdin
//                       and stdout; writes {"evt":"grandchild","pid":P}
//   --escape            start a daemon the usual way (fork, setsid, fork, the
//                       middle one exits): it leaves the engine's group and
//                       session, writes {"evt":"escaped","pid":P} and sleeps
//   --partial TEXT      TEXT without a line feed, then exit 0
//   --exit CODE         exit with CODE (0-255)
//   --signal N          die of signal N
// Other flags:
//   --silent            no ready line
//   --setsid            first of all leave the group and session it was
//                       started in (setsid(2))
//   --quit-delay MS     on a quit line, sleep MS ms before answering and
//                       leaving (input is not read meanwhile)
//   --sleeper           sleep forever and nothing else (the grandchild)
//   --ignore-quit       quit lines are echoed like any other line
//   --ignore-eof        at the end of input sleep forever instead of exiting
//   --no-read           never read stdin (fills the shell's write pipe)
// An unknown or malformed argument writes {"evt":"bad-arg","arg":"..."} and
// exits 2, before anything else is written.
//
// Input lines (a trailing CR is dropped):
//   ..."cmd":"quit"...            {"evt":"quitting"} and exit 0; with
//                                 "drainMs":N first waits up to N ms for the
//                                 current work to end
//   {"cmd":"work","ms":N}         {"evt":"busy","busy":true}, and N ms later
//                                 (a new work command extends the end)
//                                 {"evt":"busy","busy":false}
//   {"cmd":"exit","code":N}       exit with N
//   {"cmd":"flood","count":N,"bytes":L}   N lines as for --flood
//   {"cmd":"spawn"}               as --grandchild
//   {"cmd":"stall"}               stop reading input for good
//   {"cmd":"partial","text":"T"}  T without a line feed, then exit 0
// Any other line, and a command missing a valid value, is echoed back. At the
// end of input (a last line without line feed is handled first) it writes
// {"evt":"eof"} and exits 0.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunkBytes = 64 * 1024;
constexpr int kExitBadArg = 2;

const char* gSelf = "talvek-engine";

// Writes all of `data` to stdout, waiting out a full pipe even when the shell
// left its end non-blocking. A closed output ends the process.
void Write(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(STDOUT_FILENO, data.data(), data.size());
    if (n >= 0) {
      data.remove_prefix(static_cast<size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      poll(&out, 1, -1);
    } else if (errno != EINTR) {
      _exit(1);
    }
  }
}

void WriteLine(std::string line) {
  line.push_back('\n');
  Write(line);
}

// Milliseconds from now until `when`, rounded up, for a poll() timeout.
int MsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

[[noreturn]] void SleepForever() {
  for (;;) pause();
}

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += {'\\', c};
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    } else {
      out += c;
    }
  }
  return out + '"';
}

// The whole of `text` as a non-negative decimal no greater than `max`.
std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

// The decimal right after `key` in `line`, e.g. key "\"ms\":".
std::optional<uint64_t> NumberAfter(std::string_view line, std::string_view key, uint64_t max) {
  const size_t at = line.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = line.substr(at + key.size());
  return ParseNumber(rest.substr(0, rest.find_first_not_of("0123456789")), max);
}

std::optional<std::string> DecodeHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned char byte = 0;
    const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
    if (ec != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    bytes.push_back(static_cast<char>(byte));
  }
  return bytes;
}

// Whether N lines of `bytes` bytes can each carry a distinct counter.
bool FloodFits(uint64_t count, uint64_t bytes) {
  return bytes >= 2 && (count == 0 || std::to_string(count - 1).size() <= bytes - 1);
}

// N lines of exactly `bytes` bytes: a counter filled up with 'x', then LF,
// written in chunks of about 64 KiB whatever the line length.
void Flood(uint64_t count, uint64_t bytes) {
  std::string chunk;
  chunk.reserve(2 * kChunkBytes);
  auto flushWhenFull = [&chunk] {
    if (chunk.size() >= kChunkBytes) {
      Write(chunk);
      chunk.clear();
    }
  };
  char digits[24];
  for (uint64_t i = 0; i < count; ++i) {
    char* end = std::to_chars(digits, digits + sizeof digits, i).ptr;
    chunk.append(digits, end);
    for (uint64_t fill = bytes - 1 - static_cast<uint64_t>(end - digits); fill > 0;) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(fill, kChunkBytes));
      chunk.append(piece, 'x');
      fill -= piece;
      flushWhenFull();
    }
    chunk.push_back('\n');
    flushWhenFull();
  }
  Write(chunk);
}

void SpawnGrandchild() {
  char sleeper[] = "--sleeper";
  char* const argv[] = {const_cast<char*>(gSelf), sleeper, nullptr};
  pid_t pid = 0;
  const int error = posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ);
  if (error != 0) {
    WriteLine("{\"evt\":\"grandchild\",\"error\":" + std::to_string(error) + "}");
  } else {
    WriteLine("{\"evt\":\"grandchild\",\"pid\":" + std::to_string(pid) + "}");
  }
}

// fork, setsid, fork: the daemon is nobody's child but its reaper's, and in
// a group and session of its own.
void SpawnEscapee() {
  const pid_t middle = fork();
  if (middle < 0) {
    WriteLine("{\"evt\":\"escaped\",\"error\":" + std::to_string(errno) + "}");
    return;
  }
  if (middle == 0) {
    setsid();
    const pid_t daemon = fork();
    if (daemon == 0) {
      WriteLine("{\"evt\":\"escaped\",\"pid\":" + std::to_string(getpid()) + "}");
      SleepForever();
    }
    _exit(0);
  }
  while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Sleeps the whole of `ms`, whatever signals arrive.
void SleepMs(uint64_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&left, &left) < 0 && errno == EINTR) {
  }
}

[[noreturn]] void DieOfSignal(int sig) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(sig, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(1);
}

struct Options {
  bool silent = false, ignoreQuit = false, ignoreEof = false, noRead = false;
  bool grandchild = false, escape = false, leaveSession = false;
  uint64_t quitDelayMs = 0;
  std::vector<std::string> prints, raws;
  std::optional<uint64_t> flood, exitCode, signal;
  uint64_t lineBytes = 64;
  std::optional<std::string> partial;
};

[[noreturn]] void BadArg(std::string_view arg) {
  WriteLine("{\"evt\":\"bad-arg\",\"arg\":" + JsonString(arg) + "}");
  _exit(kExitBadArg);
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) BadArg(arg);
      return argv[++i];
    };
    auto number = [&](uint64_t min, uint64_t max) {
      const std::string_view text = value();
      const auto n = ParseNumber(text, max);
      if (!n || *n < min) BadArg(std::string(arg) + " " + std::string(text));
      return *n;
    };
    if (arg == "--sleeper") {
      // Started through /proc/self/exe it would be listed as "exe".
      prctl(PR_SET_NAME, basename(gSelf));
      SleepForever();
    }
    if (arg == "--silent") o.silent = true;
    else if (arg == "--ignore-quit") o.ignoreQuit = true;
    else if (arg == "--ignore-eof") o.ignoreEof = true;
    else if (arg == "--no-read") o.noRead = true;
    else if (arg == "--grandchild") o.grandchild = true;
    else if (arg == "--escape") o.escape = true;
    else if (arg == "--setsid") o.leaveSession = true;
    else if (arg == "--quit-delay") o.quitDelayMs = number(0, INT32_MAX);
    else if (arg == "--print") o.prints.emplace_back(value());
    else if (arg == "--partial") o.partial = value();
    else if (arg == "--flood") o.flood = number(0, UINT64_MAX);
    else if (arg == "--line-bytes") o.lineBytes = number(2, UINT32_MAX);
    else if (arg == "--exit") o.exitCode = number(0, 255);
    else if (arg == "--signal") o.signal = number(1, NSIG - 1);
    else if (arg == "--raw-hex") {
      const std::string_view hex = value();
      const auto bytes = DecodeHex(hex);
      if (!bytes) BadArg("--raw-hex " + std::string(hex));
      o.raws.push_back(*bytes);
    } else {
      BadArg(arg);
    }
  }
  if (o.flood && !FloodFits(*o.flood, o.lineBytes)) BadArg("--flood " + std::to_string(*o.flood));
  return o;
}

struct Engine {
  Options options;
  bool reading = true;
  std::optional<Clock::time_point> workEnd;

  // Writes the end of the work once its time has come.
  void CheckWork() {
    if (workEnd && Clock::now() >= *workEnd) {
      workEnd.reset();
      WriteLine(R"({"evt":"busy","busy":false})");
    }
  }


  [[noreturn]] void Quit(std::string_view line) {
    SleepMs(options.quitDelayMs);
    const auto drain = NumberAfter(line, "\"drainMs\":", INT32_MAX);
    if (!drain) {
      WriteLine(R"({"evt":"quitting"})");
      _exit(0);
    }
    WriteLine(R"({"evt":"quitting","drainMs":)" + std::to_string(*drain) + "}");
    const auto deadline = Clock::now() + std::chrono::milliseconds(*drain);
    while (workEnd && Clock::now() < deadline) {
      poll(nullptr, 0, MsUntil(std::min(*workEnd, deadline)));
      CheckWork();
    }
    _exit(0);
  }

  void HandleLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto has = [&](std::string_view what) { return line.find(what) != std::string_view::npos; };
    if (has(R"("cmd":"quit")") && !options.ignoreQuit) Quit(line);
    if (has(R"("cmd":"work")")) {
      if (const auto ms = NumberAfter(line, "\"ms\":", INT32_MAX)) {
        WriteLine(R"({"evt":"busy","busy":true})");
        const auto end = Clock::now() + std::chrono::milliseconds(*ms);
        if (!workEnd || *workEnd < end) workEnd = end;
        return;
      }
    } else if (has(R"("cmd":"exit")")) {
      if (const auto code = NumberAfter(line, "\"code\":", 255)) _exit(static_cast<int>(*code));
    } else if (has(R"("cmd":"flood")")) {
      const auto count = NumberAfter(line, "\"count\":", UINT64_MAX);
      const auto bytes = has("\"bytes\":") ? NumberAfter(line, "\"bytes\":", UINT32_MAX)
                                          : std::optional<uint64_t>(64);
      if (count && bytes && FloodFits(*count, *bytes)) {
        Flood(*count, *bytes);
        return;
      }
    } else if (has(R"("cmd":"spawn")")) {
      SpawnGrandchild();
      return;
    } else if (has(R"("cmd":"stall")")) {
      reading = false;
      return;
    } else if (has(R"("cmd":"partial")")) {
      const std::string_view key = "\"text\":\"";
      const size_t at = line.find(key);
      const size_t end = at == std::string_view::npos ? at : line.find('"', at + key.size());
      if (end != std::string_view::npos) {
        Write(line.substr(at + key.size(), end - at - key.size()));
        _exit(0);
      }
    }
    WriteLine(std::string(line));
  }

  void AtEndOfInput() {
    if (!options.ignoreEof) {
      WriteLine(R"({"evt":"eof"})");
      _exit(0);
    }
    reading = false;
  }

  [[noreturn]] void Run() {
    std::string input;
    size_t scanned = 0;  // input[0, scanned) holds no line feed
    for (;;) {
      // Children of --grandchild or spawn that died are reaped as we go.
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      if (!reading && !workEnd) SleepForever();
      pollfd in{reading ? STDIN_FILENO : -1, POLLIN, 0};
      const int ready = poll(&in, 1, workEnd ? MsUntil(*workEnd) : -1);
      CheckWork();
      if (ready <= 0 || in.revents == 0) continue;

      const size_t old = input.size();
      input.resize(old + kChunkBytes);
      const ssize_t n = read(STDIN_FILENO, input.data() + old, kChunkBytes);
      input.resize(old + static_cast<size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) {
        if (!input.empty()) HandleLine(input);  // the last line, without line feed
        if (reading) AtEndOfInput();
        input.clear();
        continue;
      }
      size_t start = 0;
      for (size_t lf; reading && (lf = input.find('\n', scanned)) != std::string::npos;) {
        HandleLine(std::string_view(input).substr(start, lf - start));
        start = scanned = lf + 1;
      }
      input.erase(0, reading ? start : input.size());  // after a stall nothing more counts
      scanned = input.size();
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 0) gSelf = argv[0];
  Engine engine;
  engine.options = ParseArgs(argc, argv);
  const Options& o = engine.options;
  if (o.leaveSession) setsid();
  if (!o.silent) WriteLine("{\"evt\":\"ready\",\"pid\":" + std::to_string(getpid()) + "}");
  for (const std::string& text : o.prints) WriteLine(text);
  for (const std::string& bytes : o.raws) Write(bytes);
  if (o.flood) Flood(*o.flood, o.lineBytes);
  if (o.grandchild) SpawnGrandchild();
  if (o.escape) SpawnEscapee();
  if (o.partial) {
    Write(*o.partial);
    _exit(0);
  }
  if (o.exitCode) _exit(static_cast<int>(*o.exitCode));
  if (o.signal) DieOfSignal(static_cast<int>(*o.signal));
  engine.reading = !o.noRead;
  engine.Run();
}
