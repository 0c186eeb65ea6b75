#include "modules/attach/file_name.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace VirelantDesktop::attach {
namespace {

const std::string kFffd = "\uFFFD";
const std::string kEmoji = "\U0001F600";  // two UTF-16 units
const std::string kHangul = "\uD55C";     // three bytes

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

void ExpectAll(const std::vector<std::pair<std::string, std::string>>& cases) {
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(::testing::PrintToString(in));
    EXPECT_EQ(SanitizeFileName(in), out);
  }
}

TEST(SanitizeFileName, DropsForbiddenAndInvisibleCharacters) {
  std::vector<std::string> dropped = {"/", "\\", ":", "*", "?", "\"", "<", ">", "|", "\x7F", "\u061C",
                                      "\u200B", "\u200E", "\u200F", "\u2028", "\u202B", "\u202E", "\u2060",
                                      "\u2066", "\u2069", "\uFEFF"};
  for (char c = 0; c < 0x20; ++c) dropped.emplace_back(1, c);
  for (const std::string& c : dropped) ExpectAll({{"a" + c + "b.txt", "ab.txt"}});
  for (const char* c : {"\u061B", "\u200D", "\u2027", "\u202F", "\u2065", "\u206A", "\uFFFD"})
    ExpectAll({{std::string("a") + c + "b", std::string("a") + c + "b"}});
}

TEST(SanitizeFileName, TrimsAndSplitsAtTheLastDot) {
  ExpectAll({
      {" . a b . ", "a b"},
      {"name...txt", "name.txt"},  // the stem loses its trailing dots and spaces
      {"name .txt", "name.txt"},
      {" \u200B.txt", "txt"},  // dropped before trimming
      {"..hidden", "hidden"},
      {"..con", "file"},  // no extension: the whole name is the stem
      {"a.b." + std::string(45, 'c'), "a.b." + std::string(39, 'c')},  // only ".ccc..." is cut
      {"", "file"},
      {"/\\:*?\"<>|", "file"},
      {" .. \x01\x7F. ", "file"},
  });
}

TEST(SanitizeFileName, DeviceNames) {
  ExpectAll({
      {"con.txt", "file.txt"},
      {"Com1.tar.gz", "file.gz"},  // the whole stem "Com1.tar" goes
      {"CON .tar.gz", "file.gz"},
      {"LPT9 .txt", "file.txt"},
      {"nul", "file"},
      {"prn..x", "file.x"},
      {"COM0", "COM0"},
      {"COM10.txt", "COM10.txt"},
      {"icon.txt", "icon.txt"},
      {"file.con", "file.con"},
      // Left behind once the stem is cut and its trailing spaces removed.
      {"CON" + std::string(100, ' ') + "x.txt", "file.txt"},
  });
}

TEST(SanitizeFileName, UnitLimits) {
  ExpectAll({
      {std::string(150, 'a'), std::string(100, 'a')},
      {std::string(150, 'a') + ".txt", std::string(96, 'a') + ".txt"},
      {std::string(98, 'a') + kEmoji, std::string(98, 'a') + kEmoji},
      {std::string(99, 'a') + kEmoji, std::string(99, 'a')},  // a character is never split
      {"n." + std::string(40, 'e'), "n." + std::string(39, 'e')},
      // The pair at units 40-41 goes whole; the stem then gets 100 - 39.
      {std::string(100, 'a') + "." + std::string(38, 'e') + kEmoji, std::string(61, 'a') + "." + std::string(38, 'e')},
      // A cut extension keeps no trailing space; one left as a bare dot goes
      // and the rest is split again.
      {"a." + std::string(38, 'e') + " ff", "a." + std::string(38, 'e')},
      {"a.b." + std::string(45, ' ') + "x", "a.b"},
  });
}

TEST(SanitizeFileName, ByteLimit) {
  ExpectAll({
      {Repeat(kHangul, 100), Repeat(kHangul, 85)},  // 255 bytes exactly
      {Repeat(kHangul, 100) + ".txt", Repeat(kHangul, 83) + ".txt"},
      {Repeat(kEmoji, 60), Repeat(kEmoji, 50)},  // 200 bytes: the unit limit decides
      {Repeat(kHangul, 84) + " " + Repeat(kHangul, 15), Repeat(kHangul, 84)},
  });
}

// The extension of a cached file added to a cleaned name: it is kept whole
// and the name gives way, so the whole is a valid name on Linux.
TEST(WithExtension, TheNameGivesWayToTheExtension) {
  const std::string hangul85 = SanitizeFileName(Repeat(kHangul, 100));
  ASSERT_EQ(hangul85.size(), 255u);
  const std::pair<std::string, std::string> cases[] = {
      {WithExtension("report", "pdf"), "report.pdf"},
      {WithExtension(std::string(100, 'a'), "pdf"), std::string(100, 'a') + ".pdf"},  // no unit cut
      {WithExtension(hangul85, "pdf"), Repeat(kHangul, 83) + ".pdf"},
      {WithExtension(Repeat(kHangul, 84) + " " + "x", "png"), Repeat(kHangul, 83) + ".png"},
      {WithExtension("CON" + std::string(251, ' ') + "x", "txt"), "file.txt"},
      {WithExtension("name", ""), "name"},
      {WithExtension("name", "a/b"), "name.ab"},
  };
  for (const auto& [made, expected] : cases) {
    EXPECT_EQ(made, expected);
    EXPECT_LE(made.size(), kMaxNameBytes);
  }
}

TEST(SanitizeFileName, InvalidUtf8BecomesOneReplacementPerByte) {
  ExpectAll({
      {"a\xFF" "b", "a" + kFffd + "b"},
      {"\x80", kFffd},
      {"\xE2\x82.txt", kFffd + kFffd + ".txt"},  // truncated sequence
      {"\xC0\xAF", kFffd + kFffd},               // overlong "/"
      {"\xED\xA0\x80", Repeat(kFffd, 3)},        // encoded surrogate
      {"\xF4\x90\x80\x80", Repeat(kFffd, 4)},    // above U+10FFFF
      {std::string("a\0b", 3), "ab"},
  });
}

}  // namespace
}  // namespace VirelantDesktop::attach
