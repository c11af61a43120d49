#include "support/MapList.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace restovo {
namespace {

std::uint32_t Djb2(std::u16string_view units) {
  std::uint32_t h = 5381;
  for (char16_t u : units) h = h * 33 + u;
  return h;
}

// Keys in chain order, front first.
std::vector<std::string> Chain(const TstringHashList& list, std::uint32_t bucket) {
  std::vector<std::string> keys;
  for (const TKeyValuePair* p = list.Buckets[bucket].get(); p; p = p->Next.get()) {
    keys.push_back(p->Key);
  }
  return keys;
}

TEST(HashListHash, KnownValues) {
  const TstringHashList list(false, 1);
  EXPECT_EQ(list.HashOf(""), 5381u);
  EXPECT_EQ(list.HashOf("a"), 177670u);
  EXPECT_EQ(list.HashOf("\xC3\xA9"), 177806u);             // U+00E9: 5381*33 + 0xE9
  EXPECT_EQ(list.HashOf("\xF0\x9F\x98\x80"), 7743522u);    // U+1F600: units D83D DE00
  EXPECT_EQ(list.HashOf("262144"), Djb2(u"262144"));
}

TEST(HashListHash, HashesTheUtf16UnitsOfTheKey) {
  struct Case {
    const char* Utf8;
    std::u16string Units;
  };
  const Case cases[] = {
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9D\x84\x9E", u"\xD834\xDD1E"},
      {"a\xF4\x8F\xBF\xBFz", u"a\xDBFF\xDFFFz"},  // U+10FFFF
      {"\xFF", u"\xFFFD"},
      {"\x80", u"\xFFFD"},
      {"\xE2\x82", u"\xFFFD\xFFFD"},  // cut short: every byte stands alone
      {"\xE2\x82" "A", u"\xFFFD\xFFFD" u"A"},
      {"\xC0\xAF", u"\xFFFD\xFFFD"},
      {"\xE0\x80\xAF", u"\xFFFD"},  // complete but overlong: one replacement
      {"\xED\xA0\x80", u"\xFFFD"},  // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\xFFFD"},
      {"\xF5\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
      {"the quick brown fox jumps over the lazy dog", u"the quick brown fox jumps over the lazy dog"},
  };
  const TstringHashList list(false, 1);
  for (const Case& c : cases) {
    EXPECT_EQ(list.HashOf(c.Utf8), Djb2(c.Units)) << testing::PrintToString(std::string(c.Utf8));
  }
}

TEST(HashList, ZeroBucketsAreRefused) {
  EXPECT_THROW(TstringHashList(false, 0), std::invalid_argument);
  EXPECT_THROW(TstringHashList(true, 0), std::invalid_argument);
  EXPECT_THROW(TMapList(0), std::invalid_argument);
}

TEST(MapList, CountsKeysAndNumbers) {
  for (std::uint32_t capacity : {1u, 7u, 262144u}) {
    SCOPED_TRACE(capacity);
    TMapList map(capacity);
    EXPECT_EQ(map.CountKey("1000"), -1);
    map.IncKey("1000");
    EXPECT_EQ(map.CountKey("1000"), 1);
    map.IncKey("1000");
    map.IncKey("1000");
    EXPECT_EQ(map.CountKey("1000"), 3);
    EXPECT_EQ(map.CountNumber(1000), 3);

    map.IncNumber(-5);
    EXPECT_EQ(map.CountKey("-5"), 1);
    map.IncKey("-5");
    EXPECT_EQ(map.CountNumber(-5), 2);

    map.IncNumber(42);
    EXPECT_EQ(map.CountKey("042"), -1);
    EXPECT_EQ(map.CountKey("+42"), -1);
    map.IncNumber(INT64_MIN);
    EXPECT_EQ(map.CountKey("-9223372036854775808"), 1);
    map.IncNumber(INT64_MAX);
    EXPECT_EQ(map.CountKey("9223372036854775807"), 1);
    EXPECT_EQ(map.List.Count, 5);
  }
}

class TConstantHashList : public TstringHashList {
 public:
  using TstringHashList::TstringHashList;
  std::uint32_t HashOf(std::string_view) const override { return 3; }
};

TEST(HashList, OverriddenHashPicksTheBucketAndKeysStillCompareExactly) {
  TConstantHashList list(false, 4);
  for (const char* key : {"a", "A", "a ", "", "\xC3\xA9", "e\xCC\x81"}) list.Add(key, 1);
  list.IncValue("A", 0);
  list.IncValue("e\xCC\x81", 0);
  EXPECT_EQ(Chain(list, 3).size(), 6u);
  EXPECT_EQ(list.ValueOf("a"), 1);
  EXPECT_EQ(list.ValueOf("A"), 2);
  EXPECT_EQ(list.ValueOf("\xC3\xA9"), 1);
  EXPECT_EQ(list.ValueOf("e\xCC\x81"), 2);
  EXPECT_EQ(list.ValueOf("b"), -1);
}

TEST(HashList, AddKeepsDuplicatesAndTheNewestWins) {
  TstringHashList list(false, 1);
  list.Add("k", 1);
  list.Add("other", 5);
  list.Add("k", 2);
  EXPECT_EQ(list.Count, 3);
  EXPECT_EQ(list.ValueOf("k"), 2);

  list.IncValue("k", 100);
  EXPECT_EQ(list.ValueOf("k"), 3);
  EXPECT_EQ(Chain(list, 0), (std::vector<std::string>{"k", "other", "k"}));
  EXPECT_EQ(list.Buckets[0]->Next->Next->Value, 1);

  list.IncValue("new", 100);
  EXPECT_EQ(list.ValueOf("new"), 100);
  list.IncValue("new", 100);
  EXPECT_EQ(list.ValueOf("new"), 101);
  EXPECT_EQ(list.Count, 4);
}

TEST(HashList, FindReturnsTheLinkToThePairOrTheChainEnd) {
  TstringHashList list(false, 1);
  EXPECT_EQ(list.Find("x"), &list.Buckets[0]);
  list.Add("a", 1);
  list.Add("b", 2);
  EXPECT_EQ(list.Find("b"), &list.Buckets[0]);
  EXPECT_EQ(list.Find("a"), &list.Buckets[0]->Next);
  auto* end = list.Find("x");
  EXPECT_EQ(end, &list.Buckets[0]->Next->Next);
  EXPECT_EQ(*end, nullptr);

  (*list.Find("a"))->Value = 9;
  EXPECT_EQ(list.ValueOf("a"), 9);
}

// A small stack lets a modest chain expose a recursive teardown, which keeps the test fast.
TEST(HashList, ClearAndDestroyHandleVeryLongChains) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  const auto body = [](void*) -> void* {
    constexpr int kPairs = 100'000;
    auto list = std::make_unique<TstringHashList>(false, 1);
    for (int i = 0; i < kPairs; ++i) list->Add("k", i);
    list->Clear();
    EXPECT_EQ(list->Count, 0);
    EXPECT_EQ(list->Buckets[0], nullptr);
    EXPECT_EQ(list->ValueOf("k"), -1);
    for (int i = 0; i < kPairs; ++i) list->Add("k", i);
    EXPECT_EQ(list->ValueOf("k"), kPairs - 1);
    list.reset();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, body, nullptr), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

TEST(HashList, AssignFromStringListClearsAndSignExtends) {
  TstringHashList list(false, 8);
  list.Add("stale", 1);
  const TStringIntList lines = {{"x", -1}, {"y", INT32_MIN}, {"z", INT32_MAX}, {"y", 4}};
  list.Assign(&lines);
  EXPECT_EQ(list.Count, 4);
  EXPECT_EQ(list.ValueOf("stale"), -1);
  EXPECT_EQ(list.ValueOf("x"), -1);
  EXPECT_NE(*list.Find("x"), nullptr);
  EXPECT_EQ(list.ValueOf("y"), 4);
  EXPECT_EQ(list.ValueOf("z"), INT32_MAX);

  const TStringIntList single = {{"y", INT32_MIN}};
  list.Assign(&single);
  EXPECT_EQ(list.Count, 1);
  EXPECT_EQ(list.ValueOf("y"), std::int64_t{INT32_MIN});
}

TEST(HashList, AssignToStringListWalksBucketsInOrderAndKeepsLow32Bits) {
  TConstantHashList list(false, 5);
  list.Add("a", 0x1'0000'0005);
  list.Add("b", -1);
  list.Add("c", 0x8000'0000);
  TStringIntList lines = {{"junk", 1}};
  list.AssignTo(&lines);
  EXPECT_EQ(lines, (TStringIntList{{"c", INT32_MIN}, {"b", -1}, {"a", 5}}));

  TstringHashList spread(false, 3);
  for (const char* key : {"p", "q", "r", "s", "t", "u", "v"}) spread.Add(key, 1);
  spread.AssignTo(&lines);
  std::vector<std::string> expected;
  for (std::uint32_t b = 0; b < 3; ++b) {
    for (const std::string& key : Chain(spread, b)) expected.push_back(key);
  }
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i].first, expected[i]);
}

TEST(HashList, CopyBetweenListsKeepsBucketsAndReversesChains) {
  TstringHashList source(false, 1);
  source.Add("a", 1);
  source.Add("b", 2);
  source.Add("c", 3);
  source.Add("a", 10);

  for (bool viaAssignTo : {false, true}) {
    SCOPED_TRACE(viaAssignTo);
    TstringHashList copy(true, 16);
    copy.Add("stale", 1);
    if (viaAssignTo) {
      source.AssignTo(&copy);
    } else {
      copy.Assign(&source);
    }
    EXPECT_EQ(copy.BucketCount, 1u);
    EXPECT_EQ(copy.Buckets.size(), 1u);
    EXPECT_FALSE(copy.ThreadSafe);
    EXPECT_EQ(copy.Count, 4);
    EXPECT_EQ(Chain(copy, 0), (std::vector<std::string>{"a", "b", "c", "a"}));
    EXPECT_EQ(copy.ValueOf("a"), 1);  // the older duplicate is now in front
    EXPECT_EQ(copy.Buckets[0]->Next->Next->Next->Value, 10);
    EXPECT_EQ(copy.ValueOf("stale"), -1);
  }

  TstringHashList wide(true, 7);
  std::vector<std::string> keys;
  for (int i = 0; i < 40; ++i) keys.push_back(std::to_string(i * 37));
  for (std::size_t i = 0; i < keys.size(); ++i) wide.Add(keys[i], static_cast<std::int64_t>(i));
  TstringHashList copy(false, 2);
  copy.Assign(&wide);
  EXPECT_TRUE(copy.ThreadSafe);
  EXPECT_EQ(copy.Count, 40);
  for (std::uint32_t b = 0; b < 7; ++b) {
    auto chain = Chain(wide, b);
    std::reverse(chain.begin(), chain.end());
    EXPECT_EQ(Chain(copy, b), chain) << "bucket " << b;
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(copy.ValueOf(keys[i]), static_cast<std::int64_t>(i));
  }
}

TEST(HashList, NullAndSelfAssignmentChangeNothing) {
  for (bool threadSafe : {false, true}) {
    TstringHashList list(threadSafe, 2);
    list.Add("a", 1);
    list.Add("b", 2);
    list.Assign(static_cast<const TStringIntList*>(nullptr));
    list.Assign(static_cast<const TstringHashList*>(nullptr));
    list.AssignTo(static_cast<TStringIntList*>(nullptr));
    list.AssignTo(static_cast<TstringHashList*>(nullptr));
    list.Assign(&list);
    list.AssignTo(&list);
    EXPECT_EQ(list.Count, 2);
    EXPECT_EQ(list.ThreadSafe, threadSafe);
    EXPECT_EQ(list.ValueOf("a"), 1);
    EXPECT_EQ(list.ValueOf("b"), 2);
  }
}

TEST(HashList, ThreadSafeListTakesConcurrentUse) {
  constexpr int kThreads = 8;
  constexpr int kKeysPerThread = 2000;
  TstringHashList list(true, 64);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&list, t] {
      for (int i = 0; i < kKeysPerThread; ++i) {
        const std::string key = std::to_string(t) + ":" + std::to_string(i);
        if (i % 2 == 0) {
          list.Add(key, i);
        } else {
          list.IncValue(key, i);
        }
        list.IncValue("shared:" + std::to_string(i), 1);
        EXPECT_EQ(list.ValueOf(key), i);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Threads that all meet a shared key for the first time must still add it only once.
  EXPECT_EQ(list.Count, (kThreads + 1) * kKeysPerThread);
  for (int i = 0; i < kKeysPerThread; ++i) {
    ASSERT_EQ(list.ValueOf("shared:" + std::to_string(i)), kThreads) << i;
  }
  EXPECT_EQ(list.ValueOf("3:1999"), 1999);

  TstringHashList a(true, 4);
  TstringHashList b(true, 4);
  a.Add("a", 1);
  b.Add("b", 2);
  std::thread left([&] {
    for (int i = 0; i < 200; ++i) a.Assign(&b);
  });
  std::thread right([&] {
    for (int i = 0; i < 200; ++i) b.Assign(&a);
  });
  left.join();
  right.join();
  EXPECT_EQ(a.Count, b.Count);
}

}  // namespace
}  // namespace restovo
