// A fixed-size chained hash table from UTF-8 strings to 64-bit values, and a counter map
// on it. The NTFS shared-cluster verdict is defined by counting the files that claim each
// cluster; the tests count that way with this map to check the run sweep the engine uses.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace restovo {

// A list of strings that each carry an integer, in order.
using TStringIntList = std::vector<std::pair<std::string, std::int32_t>>;

struct TKeyValuePair {
  // Unlinks the rest of the chain one pair at a time: chains can hold millions of pairs and a
  // recursive teardown would overflow the stack.
  ~TKeyValuePair();

  std::unique_ptr<TKeyValuePair> Next;  // the next pair of the same bucket
  std::string Key;
  std::int64_t Value = 0;
};

class TstringHashList {
 public:
  using TLink = std::unique_ptr<TKeyValuePair>;

  // Throws std::invalid_argument when bucketCount is 0.
  TstringHashList(bool threadSafe, std::uint32_t bucketCount);
  virtual ~TstringHashList();
  TstringHashList(const TstringHashList&) = delete;
  TstringHashList& operator=(const TstringHashList&) = delete;

  // djb2 over the key's UTF-16 code units; invalid UTF-8 bytes count as U+FFFD.
  virtual std::uint32_t HashOf(std::string_view key) const;

  // The link that points at the most recently added pair with this key, or the null link
  // ending the key's chain. Valid until the list changes.
  TLink* Find(std::string_view key);
  // Puts a new pair in front of its chain without looking for an existing one, so a key can
  // occur twice; lookups then see the newer pair.
  void Add(std::string_view key, std::int64_t value);
  // Value + 1 when the key is present, otherwise adds it with the initial value.
  void IncValue(std::string_view key, std::int64_t initial);
  // -1 when the key is absent.
  std::int64_t ValueOf(std::string_view key) const;
  void Clear();

  // A null source or destination does nothing; assigning a list to itself changes nothing.
  void Assign(const TStringIntList* source);
  // Takes over the source's bucket count and ThreadSafe. Pairs keep their buckets, but each
  // chain comes out reversed, so of a duplicated key the older pair becomes the visible one.
  void Assign(const TstringHashList* source);
  // Values are cut to their low 32 bits.
  void AssignTo(TStringIntList* destination) const;
  void AssignTo(TstringHashList* destination) const;

  std::int32_t Count = 0;
  std::uint32_t BucketCount;
  mutable std::recursive_mutex Lock;
  bool ThreadSafe;
  std::vector<TLink> Buckets;

 private:
  std::unique_lock<std::recursive_mutex> Guard() const;
  TLink* LinkOf(std::uint32_t hash, std::string_view key);
  void Insert(std::uint32_t hash, std::string_view key, std::int64_t value);
};

// Counts occurrences of string keys; numbers are counted under their decimal text.
class TMapList {
 public:
  // Throws std::invalid_argument when capacity is 0.
  explicit TMapList(std::uint32_t capacity);

  void IncKey(std::string_view key);
  void IncNumber(std::int64_t n);
  // -1 for a key never counted.
  std::int64_t CountKey(std::string_view key) const;
  std::int64_t CountNumber(std::int64_t n) const;

  TstringHashList List;
};

}  // namespace restovo
