#include "support/MapList.h"

#include <charconv>
#include <stdexcept>

namespace restovo {

namespace {

std::string_view DecimalText(std::int64_t n, char (&buffer)[24]) {
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
  return {buffer, static_cast<std::size_t>(result.ptr - buffer)};
}

}  // namespace

TKeyValuePair::~TKeyValuePair() {
  auto rest = std::move(Next);
  while (rest) rest = std::move(rest->Next);
}

TstringHashList::TstringHashList(bool threadSafe, std::uint32_t bucketCount)
    : BucketCount(bucketCount), ThreadSafe(threadSafe) {
  if (bucketCount == 0) throw std::invalid_argument("TstringHashList needs at least one bucket");
  Buckets.resize(bucketCount);
}

TstringHashList::~TstringHashList() { Clear(); }

std::unique_lock<std::recursive_mutex> TstringHashList::Guard() const {
  if (ThreadSafe) return std::unique_lock(Lock);
  return std::unique_lock(Lock, std::defer_lock);
}

// Decodes on the fly, the same way Utf8ToUtf16 does, so that a key hashes alike whether it is
// held as UTF-8 or UTF-16, without allocating a converted copy for every lookup.
std::uint32_t TstringHashList::HashOf(std::string_view key) const {
  std::uint32_t h = 5381;
  const auto mix = [&h](std::uint32_t unit) { h = h * 33 + unit; };
  const std::size_t n = key.size();
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) -> std::uint32_t {
    return static_cast<unsigned char>(key[i + k]);
  };
  const auto cont = [&](std::size_t k) { return i + k < n && (byte(k) & 0xC0) == 0x80; };
  while (i < n) {
    const std::uint32_t b = byte(0);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if (b >= 0xC2 && b < 0xE0 && cont(1)) {
      cp = ((b & 0x1F) << 6) | (byte(1) & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b < 0xF0 && cont(1) && cont(2)) {
      cp = ((b & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
      len = 3;
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    } else if (b >= 0xF0 && b < 0xF5 && cont(1) && cont(2) && cont(3)) {
      cp = ((b & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
           (byte(3) & 0x3F);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      mix(0xD800 + ((cp - 0x10000) >> 10));
      mix(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      mix(cp);
    }
    i += len;
  }
  return h;
}

// The bucket is picked under the lock: an Assign in another thread may change BucketCount.
TstringHashList::TLink* TstringHashList::LinkOf(std::uint32_t hash, std::string_view key) {
  TLink* link = &Buckets[hash % BucketCount];
  while (*link && (*link)->Key != key) link = &(*link)->Next;
  return link;
}

void TstringHashList::Insert(std::uint32_t hash, std::string_view key, std::int64_t value) {
  auto pair = std::make_unique<TKeyValuePair>();
  pair->Key = key;
  pair->Value = value;
  TLink& head = Buckets[hash % BucketCount];
  pair->Next = std::move(head);
  head = std::move(pair);
  ++Count;
}

TstringHashList::TLink* TstringHashList::Find(std::string_view key) {
  const std::uint32_t hash = HashOf(key);
  const auto guard = Guard();
  return LinkOf(hash, key);
}

void TstringHashList::Add(std::string_view key, std::int64_t value) {
  const std::uint32_t hash = HashOf(key);
  const auto guard = Guard();
  Insert(hash, key, value);
}

// Lookup and update share one locked section: otherwise two threads could both miss a new
// key and add it twice, or a link found empty could meanwhile point at another key's pair.
void TstringHashList::IncValue(std::string_view key, std::int64_t initial) {
  const std::uint32_t hash = HashOf(key);
  const auto guard = Guard();
  if (TLink* link = LinkOf(hash, key); *link) {
    ++(*link)->Value;
  } else {
    Insert(hash, key, initial);
  }
}

std::int64_t TstringHashList::ValueOf(std::string_view key) const {
  const std::uint32_t hash = HashOf(key);
  const auto guard = Guard();
  const TKeyValuePair* pair = Buckets[hash % BucketCount].get();
  while (pair && pair->Key != key) pair = pair->Next.get();
  return pair ? pair->Value : -1;
}

void TstringHashList::Clear() {
  const auto guard = Guard();
  for (TLink& head : Buckets) head.reset();
  Count = 0;
}

void TstringHashList::Assign(const TStringIntList* source) {
  if (!source) return;
  const auto guard = Guard();
  Clear();
  for (const auto& [key, value] : *source) Add(key, value);
}

void TstringHashList::Assign(const TstringHashList* source) {
  if (!source || source == this) return;
  // Both locks at once, so two lists assigned to each other from two threads cannot
  // deadlock. This list stays locked while its ThreadSafe flips either way.
  std::unique_lock<std::recursive_mutex> theirs(source->Lock, std::defer_lock);
  std::unique_lock<std::recursive_mutex> ours(Lock, std::defer_lock);
  const bool lockTheirs = source->ThreadSafe;
  const bool lockOurs = ThreadSafe || source->ThreadSafe;
  if (lockTheirs && lockOurs) {
    std::lock(theirs, ours);
  } else if (lockOurs) {
    ours.lock();
  }
  // Written only on a change, so lists that are both thread-safe never race on the flag.
  if (ThreadSafe != source->ThreadSafe) ThreadSafe = source->ThreadSafe;
  Clear();
  BucketCount = source->BucketCount;
  Buckets.resize(BucketCount);
  for (const TLink& head : source->Buckets) {
    for (const TKeyValuePair* pair = head.get(); pair; pair = pair->Next.get()) {
      Add(pair->Key, pair->Value);
    }
  }
}

void TstringHashList::AssignTo(TStringIntList* destination) const {
  if (!destination) return;
  const auto guard = Guard();
  destination->clear();
  destination->reserve(static_cast<std::size_t>(Count));
  for (const TLink& head : Buckets) {
    for (const TKeyValuePair* pair = head.get(); pair; pair = pair->Next.get()) {
      destination->emplace_back(pair->Key, static_cast<std::int32_t>(pair->Value));
    }
  }
}

void TstringHashList::AssignTo(TstringHashList* destination) const {
  if (destination) destination->Assign(this);
}

TMapList::TMapList(std::uint32_t capacity) : List(false, capacity) {}

void TMapList::IncKey(std::string_view key) { List.IncValue(key, 1); }

void TMapList::IncNumber(std::int64_t n) {
  char buffer[24];
  IncKey(DecimalText(n, buffer));
}

std::int64_t TMapList::CountKey(std::string_view key) const { return List.ValueOf(key); }

std::int64_t TMapList::CountNumber(std::int64_t n) const {
  char buffer[24];
  return CountKey(DecimalText(n, buffer));
}

}  // namespace restovo
