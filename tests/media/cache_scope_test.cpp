#include "modules/media/cache_scope.h"

#include <gtest/gtest.h>

namespace VirelantDesktop::media {
namespace {

CacheScope Scope(const JSValue& value) {
  auto scope = ParseCacheScope(value);
  EXPECT_TRUE(scope) << value.dump();
  return scope.value_or(CacheScope{});
}

TEST(CacheScope, SegmentsAreSanitisedByteByByteAndCut) {
  EXPECT_EQ(SanitizeScopeSegment("Az09_-"), "Az09_-");
  EXPECT_EQ(SanitizeScopeSegment("a b/c.d"), "a_b_c_d");
  EXPECT_EQ(SanitizeScopeSegment("\xED\x95\x9C"), "___") << "each byte of a multi-byte character";
  EXPECT_EQ(SanitizeScopeSegment(std::string(100, 'x')), std::string(64, 'x'));
  EXPECT_EQ(SanitizeScopeSegment(std::string(70, '/')), std::string(64, '_'));
}

TEST(CacheScope, ReservedUidsDefaultsAndRefusals) {
  EXPECT_EQ(Scope({{"uid", "up"}}).uid, "u_up");
  EXPECT_EQ(Scope({{"uid", "tmp"}}).uid, "u_tmp");
  EXPECT_EQ(Scope({{"uid", "pending-wipe"}}).uid, "u_pending-wipe");
  EXPECT_EQ(Scope({{"uid", "upx"}}).uid, "upx");
  EXPECT_EQ(Scope({{"uid", "a b"}}).uid, "a_b");
  EXPECT_EQ(Scope({{"uid", std::string(100, 'u')}}).uid.size(), 64u);

  const CacheScope bare = Scope({{"uid", "u1"}, {"ws", 5}, {"thread", ""}});
  EXPECT_EQ(ScopeKey(bare), "u1|_person|_none") << "missing, non-string and empty fields take the defaults";

  EXPECT_FALSE(ParseCacheScope(JSValue::array()));
  EXPECT_FALSE(ParseCacheScope("u1"));
  EXPECT_FALSE(ParseCacheScope({{"ws", "w"}}));
  EXPECT_FALSE(ParseCacheScope({{"uid", 7}}));
  EXPECT_FALSE(ParseCacheScope({{"uid", ""}}));
}

TEST(CacheScope, HashIsOfWorkspaceAndUrlOnly) {
  const std::string url = "https://app.talvek.chat/api/storage/a?x=1";
  EXPECT_EQ(CacheHash("_person", url), "afccd5d86757a1ffa2c3282a8d64b7830acb59e7ab3146328d082ca94fb39340");
  EXPECT_EQ(CacheHash("w\xC3\xA9", "u"), "a453d2ba83d4b24e3ff7681e4bc54f4753d21903975f3dd8b3476a7533e11149");

  const CacheScope one = Scope({{"uid", "u"}, {"ws", "w"}, {"thread", "t1"}});
  const CacheScope two = Scope({{"uid", "u"}, {"ws", "w"}, {"thread", "t2"}});
  EXPECT_EQ(CacheHash(one.ws, url), CacheHash(two.ws, url)) << "same base name in two thread folders";
  EXPECT_NE(CacheHash(one.ws, url), CacheHash(one.ws, url + "&y=2")) << "the query is part of the hash";
  EXPECT_EQ(DedupKey(one, true, url), "u|w|t1|m|" + url);
  EXPECT_EQ(DedupKey(two, false, url), "u|w|t2|d|" + url);
}

}  // namespace
}  // namespace VirelantDesktop::media
