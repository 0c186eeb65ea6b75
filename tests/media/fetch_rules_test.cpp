#include "modules/media/fetch_rules.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::media {
namespace {

std::string Sniff(std::string_view bytes) {
  const SniffedType type = SniffContent(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  return std::string(type.ext) + " " + type.mime;
}

TEST(Sniffing, TheTableInOrder) {
  EXPECT_EQ(Sniff("\x89PNG\r\n\x1A\nrest"), "png image/png");
  EXPECT_EQ(Sniff("\x89PNG\r\n\x1A"), "bin application/octet-stream") << "7 bytes";
  EXPECT_EQ(Sniff("\xFF\xD8\xFF\xE0"), "jpg image/jpeg");
  EXPECT_EQ(Sniff("GIF89a..."), "gif image/gif");
  EXPECT_EQ(Sniff("GIF87a"), "gif image/gif");
  EXPECT_EQ(Sniff(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16)), "webp image/webp");
  EXPECT_EQ(Sniff(std::string("\0\0\0\x18" "ftypqt  ", 12)), "mov video/quicktime");
  EXPECT_EQ(Sniff(std::string("\0\0\0\x18" "ftypM4A ", 12)), "m4a audio/mp4");
  EXPECT_EQ(Sniff(std::string("\0\0\0\x18" "ftypM4B ", 12)), "m4a audio/mp4");
  EXPECT_EQ(Sniff(std::string("\0\0\0\x18" "ftypisom", 12)), "mp4 video/mp4");
  EXPECT_EQ(Sniff(std::string("\0\0\0\x18" "ftyp", 8)), "mp4 video/mp4") << "fewer than 12 bytes";
  EXPECT_EQ(Sniff("\x1A\x45\xDF\xA3...."), "webm video/webm");
  EXPECT_EQ(Sniff(std::string("OggS\0", 5)), "ogg audio/ogg");
  EXPECT_EQ(Sniff("ID3\x04"), "mp3 audio/mpeg");
  EXPECT_EQ(Sniff("\xFF\xFB\x90"), "mp3 audio/mpeg");
  EXPECT_EQ(Sniff("%PDF-1.7"), "pdf application/pdf");
  EXPECT_EQ(Sniff("<!doctype html><p>sign in</p>\r\n\t"), "txt text/plain");
  EXPECT_EQ(Sniff("caf\xC3\xA9 \xE2\x82"), "txt text/plain") << "a character cut at the end";
  EXPECT_EQ(Sniff("caf\xC3\xA9 \xE2\x82x"), "bin application/octet-stream");
  EXPECT_EQ(Sniff(std::string("a\0b", 3)), "bin application/octet-stream");
  EXPECT_EQ(Sniff("a\x01"), "bin application/octet-stream");
  EXPECT_EQ(Sniff("\xC0\xAF"), "bin application/octet-stream") << "overlong";
  EXPECT_EQ(Sniff(""), "bin application/octet-stream");
}

TEST(Sniffing, KindsAndDeclaredTypes) {
  EXPECT_TRUE(SniffedTypeFitsKind("image", "image/png", ""));
  EXPECT_TRUE(SniffedTypeFitsKind("avatar", "image/webp", "image/png"));
  EXPECT_FALSE(SniffedTypeFitsKind("image", "text/plain", "text/html")) << "an HTML body for an image";
  EXPECT_TRUE(SniffedTypeFitsKind("video", "video/quicktime", ""));
  EXPECT_FALSE(SniffedTypeFitsKind("video", "audio/ogg", ""));
  EXPECT_TRUE(SniffedTypeFitsKind("audio", "video/mp4", ""));
  EXPECT_TRUE(SniffedTypeFitsKind("audio", "video/webm", ""));
  EXPECT_FALSE(SniffedTypeFitsKind("audio", "video/quicktime", ""));
  EXPECT_TRUE(SniffedTypeFitsKind("file", "application/pdf", ""));
  EXPECT_FALSE(SniffedTypeFitsKind("file", "application/pdf", "image/png")) << "a declared image must sniff as one";
}

TEST(Answers, StatusEncodingTypeAndCodes) {
  EXPECT_EQ(StatusFailure(200), nullptr);
  EXPECT_STREQ(StatusFailure(301), "redirect_blocked");
  EXPECT_STREQ(StatusFailure(399), "redirect_blocked");
  EXPECT_STREQ(StatusFailure(204), "http_error");
  EXPECT_STREQ(StatusFailure(404), "http_error");
  EXPECT_TRUE(OnlyIdentityEncoding({}));
  EXPECT_TRUE(OnlyIdentityEncoding({"Identity", "IDENTITY"}));
  EXPECT_FALSE(OnlyIdentityEncoding({"gzip"}));
  EXPECT_FALSE(OnlyIdentityEncoding({"identity", "br"}));
  EXPECT_EQ(DeclaredMediaType(" Image/PNG ; charset=x"), "image/png");
  EXPECT_EQ(DeclaredMediaType(""), "");
  EXPECT_EQ(FailureCode(JobStatus::Running, "too_large"), "too_large");
  EXPECT_EQ(FailureCode(JobStatus::Timeout, "network"), "timeout") << "the stop reason wins";
  EXPECT_EQ(FailureCode(JobStatus::Canceled, "http_error"), "canceled");
  EXPECT_EQ(FailureCode(JobStatus::Changed, ""), "changed");
}

}  // namespace
}  // namespace VirelantDesktop::media
