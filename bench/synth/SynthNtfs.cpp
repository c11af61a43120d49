// restovo-synth-ntfs: writes a large sparse NTFS image with a known set of live and deleted
// files, so that scans can be timed and checked at sizes no formatting tool fills quickly.
//
// Everything about a record (kind, name, size, parent, whether it is deleted) is a pure
// function of the seed and the record number; only cluster placement depends on the order of
// generation. That keeps memory small: the indexes are built from recomputed names instead
// of names kept for millions of records.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;
constexpr std::uint64_t kClusterBytes = 4096;
constexpr std::uint64_t kSectorsPerCluster = kClusterBytes / kSectorBytes;
constexpr std::uint64_t kRecordBytes = 1024;
constexpr std::uint64_t kRecordsPerCluster = kClusterBytes / kRecordBytes;
constexpr std::uint64_t kIndexBlockBytes = 4096;
constexpr std::uint32_t kFirstUserRecord = 16;
constexpr std::uint32_t kRootRecord = 5;
constexpr std::uint16_t kRootSeq = 5;
constexpr std::uint64_t kMinRecords = 64;
constexpr std::uint64_t kMaxRecords = 100'000'000;
constexpr std::uint64_t kLogFileClusters = 1024;
constexpr std::uint64_t kUpCaseClusters = 0x20000 / kClusterBytes;
// A tag in the first cluster of one non-resident file in this many: enough to check restored
// bytes without writing terabytes of content.
constexpr std::uint32_t kTagEvery = 64;
constexpr std::size_t kTagBytes = 64;
constexpr std::uint64_t kFileTimeOfUnixEpoch = 116444736000000000ull;
constexpr std::uint64_t kTicksPerSecond = 10'000'000ull;
constexpr std::uint16_t kRecordInUse = 0x0001;
constexpr std::uint16_t kRecordIsFolder = 0x0002;
constexpr std::uint32_t kAttrReadOnlyHiddenSystem = 0x0006;
constexpr std::uint32_t kAttrArchive = 0x0020;
constexpr std::uint32_t kAttrHasI30 = 0x10000000;
// What a folder record needs around the root's entries: the $INDEX_ROOT header with its
// "$I30" name and the index header, and room for a one-run $INDEX_ALLOCATION in case the
// entries spill into blocks.
constexpr std::size_t kIndexRootOverhead = 0x18 + 8 + 0x20;
constexpr std::size_t kIndexAllocationReserve = 0x40 + 8 + 24;
constexpr std::size_t kBlockEntriesAt = 0x40;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "restovo-synth-ntfs: %s%s%s\n", what, errno ? ": " : "",
               errno ? std::strerror(errno) : "");
  std::exit(1);
}

constexpr std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }
constexpr std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

void Put16(std::uint8_t* p, std::uint64_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

class Rng {
 public:
  explicit Rng(std::uint64_t state) : State(state) {}
  std::uint64_t Next() {
    State += 0x9E3779B97F4A7C15ull;
    return Mix(State);
  }
  std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return Unit() < p; }

 private:
  std::uint64_t State;
};

enum Salt : std::uint64_t { kSaltKind = 1, kSaltFile, kSaltName, kSaltTime, kSaltLayout, kSaltFolder, kSaltPlace };

Rng RecordRng(std::uint64_t seed, std::uint64_t record, Salt salt) {
  return Rng(Mix(Mix(seed) ^ Mix(record * 0x100000001B3ull + salt)));
}

std::uint64_t MakeRef(std::uint64_t record, std::uint16_t seq) {
  return record | (std::uint64_t{seq} << 48);
}

// Upper case for the letters that the generated names use; any other unit maps to itself.
// The image's $UpCase and the index collation both come from this one table.
std::vector<char16_t> MakeUpCase() {
  std::vector<char16_t> t(65536);
  for (std::size_t c = 0; c < t.size(); ++c) t[c] = static_cast<char16_t>(c);
  auto shift = [&](unsigned from, unsigned to, int by) {
    for (unsigned c = from; c <= to; ++c) t[c] = static_cast<char16_t>(static_cast<int>(c) + by);
  };
  shift(u'a', u'z', -32);
  shift(0xE0, 0xFE, -32);
  t[0xF7] = 0xF7;
  t[0xFF] = 0x178;
  shift(0x3B1, 0x3C9, -32);
  t[0x3C2] = 0x3A3;
  shift(0x430, 0x44F, -32);
  shift(0x450, 0x45F, -80);
  return t;
}

const std::vector<char16_t>& UpCase() {
  static const std::vector<char16_t> table = MakeUpCase();
  return table;
}

void AppendUtf8(std::string& out, std::u16string_view s) {
  for (const char16_t u : s) {
    const unsigned c = u;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

void AppendNumber(std::u16string& out, std::uint64_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  for (const char* p = digits; p != end; ++p) out += static_cast<char16_t>(*p);
}

// Mostly plain words, with accented, Cyrillic, Greek and CJK ones among them so that scans
// meet names that need more than ASCII and case folding beyond a-z.
constexpr std::array<std::u16string_view, 24> kWords = {
    u"report", u"photo",  u"invoice",    u"notes",  u"backup", u"draft",  u"scan",   u"budget",
    u"IMG",    u"DSC",    u"Projekt",    u"readme", u"Music",  u"video",  u"letter", u"archive",
    u"résumé", u"Übersicht", u"отчёт", u"Фото",   u"写真",   u"資料",   u"λογαριασμός", u"données"};
constexpr std::array<std::u16string_view, 14> kExtensions = {u"txt", u"jpg", u"png", u"pdf", u"docx",
                                                             u"xlsx", u"zip", u"mp3", u"mp4", u"bin",
                                                             u"log", u"csv", u"JPG", u"html"};

struct Times {
  std::uint64_t Created = 0, Modified = 0, Changed = 0, Accessed = 0;
};

Times RecordTimes(std::uint64_t seed, std::uint64_t record, std::uint64_t volumeCreated) {
  Rng rng = RecordRng(seed, record, kSaltTime);
  constexpr std::uint64_t kSpan = 9ull * 365 * 86400 * kTicksPerSecond;
  Times t;
  t.Created = volumeCreated + rng.Below(kSpan);
  t.Modified = t.Created + rng.Below(kSpan / 8);
  t.Changed = t.Modified + rng.Below(86400 * kTicksPerSecond);
  t.Accessed = t.Changed + rng.Below(30ull * 86400 * kTicksPerSecond);
  return t;
}

struct Run {
  std::int64_t Lcn;  // negative: a sparse run
  std::uint64_t Length;
};

unsigned SignedBytes(std::int64_t v) {
  unsigned n = 1;
  while (n < 8) {
    const std::int64_t limit = std::int64_t{1} << (8 * n - 1);
    if (v >= -limit && v < limit) break;
    ++n;
  }
  return n;
}

std::size_t EncodeRuns(const std::vector<Run>& runs, std::uint8_t* out) {
  std::size_t at = 0;
  std::int64_t previous = 0;
  for (const Run& r : runs) {
    // Lengths are written as positive signed values too; some readers sign-extend them.
    const unsigned lengthBytes = SignedBytes(static_cast<std::int64_t>(r.Length));
    unsigned offsetBytes = 0;
    std::int64_t delta = 0;
    if (r.Lcn >= 0) {
      delta = r.Lcn - previous;
      offsetBytes = SignedBytes(delta);
      previous = r.Lcn;
    }
    out[at++] = static_cast<std::uint8_t>(lengthBytes | (offsetBytes << 4));
    for (unsigned i = 0; i < lengthBytes; ++i) out[at++] = static_cast<std::uint8_t>(r.Length >> (8 * i));
    const auto bits = static_cast<std::uint64_t>(delta);
    for (unsigned i = 0; i < offsetBytes; ++i) out[at++] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  out[at++] = 0;
  return at;
}

// Multi-sector structures carry a check value in the last two bytes of every sector; the bytes
// it hides live in the update sequence array, so a torn write shows as a mismatch.
void Protect(std::uint8_t* b, std::size_t bytes, std::size_t usaOffset, std::uint16_t usn) {
  Put16(b + usaOffset, usn);
  for (std::size_t k = 1; k <= bytes / kSectorBytes; ++k) {
    std::uint8_t* end = b + k * kSectorBytes - 2;
    b[usaOffset + 2 * k] = end[0];
    b[usaOffset + 2 * k + 1] = end[1];
    Put16(end, usn);
  }
}

std::uint16_t UsnFor(std::uint64_t seed, std::uint64_t key) {
  return static_cast<std::uint16_t>(1 + Mix(seed ^ Mix(key)) % 0xFFFE);
}

std::size_t FileNameValue(std::uint8_t* out, std::uint64_t parentRef, const Times& t, std::uint64_t allocated,
                          std::uint64_t size, std::uint32_t attributes, std::u16string_view name) {
  const std::size_t length = 0x42 + 2 * name.size();
  std::memset(out, 0, length);
  Put64(out, parentRef);
  Put64(out + 0x08, t.Created);
  Put64(out + 0x10, t.Modified);
  Put64(out + 0x18, t.Changed);
  Put64(out + 0x20, t.Accessed);
  Put64(out + 0x28, allocated);
  Put64(out + 0x30, size);
  Put32(out + 0x38, attributes);
  out[0x40] = static_cast<std::uint8_t>(name.size());
  out[0x41] = 1;  // Win32 names
  for (std::size_t i = 0; i < name.size(); ++i) Put16(out + 0x42 + 2 * i, name[i]);
  return length;
}

class RecordWriter {
 public:
  RecordWriter(std::uint8_t* record, std::uint32_t number, std::uint16_t seq, std::uint16_t flags,
               std::uint16_t links)
      : B(record) {
    std::memset(B, 0, kRecordBytes);
    std::memcpy(B, "FILE", 4);
    Put16(B + 0x04, 0x30);
    Put16(B + 0x06, 1 + kRecordBytes / kSectorBytes);
    Put16(B + 0x10, seq);
    Put16(B + 0x12, links);
    Put16(B + 0x14, 0x38);
    Put16(B + 0x16, flags);
    Put32(B + 0x1C, kRecordBytes);
    Put32(B + 0x2C, number);
  }

  std::size_t Room() const { return kRecordBytes - 8 - At; }

  std::uint8_t* Resident(std::uint32_t type, std::u16string_view name, std::size_t valueLength,
                         bool indexed = false) {
    const std::size_t valueAt = 0x18 + Align8(2 * name.size());
    std::uint8_t* a = Header(type, name, valueAt + Align8(valueLength), 0x18);
    Put32(a + 0x10, valueLength);
    Put16(a + 0x14, valueAt);
    a[0x16] = indexed ? 1 : 0;
    return a + valueAt;
  }

  void NonResident(std::uint32_t type, std::u16string_view name, const std::vector<Run>& runs,
                   std::uint64_t size, std::uint64_t initialized) {
    std::uint8_t pairs[256];
    std::uint64_t clusters = 0;
    for (const Run& r : runs) clusters += r.Length;
    const std::size_t pairBytes = EncodeRuns(runs, pairs);
    const std::size_t pairsAt = 0x40 + Align8(2 * name.size());
    std::uint8_t* a = Header(type, name, pairsAt + Align8(pairBytes), 0x40);
    a[0x08] = 1;
    Put64(a + 0x10, 0);
    Put64(a + 0x18, clusters - 1);
    Put16(a + 0x20, pairsAt);
    Put64(a + 0x28, clusters * kClusterBytes);
    Put64(a + 0x30, size);
    Put64(a + 0x38, initialized);
    std::memcpy(a + pairsAt, pairs, pairBytes);
  }

  void Finish(std::uint16_t usn) {
    Put32(B + At, 0xFFFFFFFFu);
    Put32(B + 0x18, At + 8);
    Put16(B + 0x28, NextId);
    Protect(B, kRecordBytes, 0x30, usn);
  }

 private:
  std::uint8_t* Header(std::uint32_t type, std::u16string_view name, std::size_t length, std::size_t nameAt) {
    if (length > Room()) {
      errno = 0;
      Die("internal error: attribute does not fit its record");
    }
    std::uint8_t* a = B + At;
    Put32(a, type);
    Put32(a + 0x04, length);
    a[0x09] = static_cast<std::uint8_t>(name.size());
    Put16(a + 0x0A, nameAt);
    Put16(a + 0x0E, NextId++);
    for (std::size_t i = 0; i < name.size(); ++i) Put16(a + nameAt + 2 * i, name[i]);
    At += length;
    return a;
  }

  std::uint8_t* B;
  std::size_t At = 0x38;
  std::uint16_t NextId = 0;
};

void StandardInformation(RecordWriter& w, const Times& t, std::uint32_t attributes) {
  std::uint8_t* v = w.Resident(0x10, {}, 0x48);
  Put64(v + 0x00, t.Created);
  Put64(v + 0x08, t.Modified);
  Put64(v + 0x10, t.Changed);
  Put64(v + 0x18, t.Accessed);
  Put32(v + 0x20, attributes);
}

void FileName(RecordWriter& w, std::uint64_t parentRef, const Times& t, std::uint64_t allocated,
              std::uint64_t size, std::uint32_t attributes, std::u16string_view name) {
  std::uint8_t* v = w.Resident(0x30, {}, 0x42 + 2 * name.size(), true);
  FileNameValue(v, parentRef, t, allocated, size, attributes, name);
}

class Image {
 public:
  explicit Image(const std::string& path) {
    Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (Fd < 0) Die(("cannot create " + path).c_str());
  }
  ~Image() {
    if (Fd >= 0) ::close(Fd);
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  void Write(const void* data, std::size_t bytes, std::uint64_t offset) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (bytes > 0) {
      const ssize_t n = ::pwrite(Fd, p, bytes, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Die("write failed");
      p += n;
      bytes -= static_cast<std::size_t>(n);
      offset += static_cast<std::uint64_t>(n);
    }
  }
  void Resize(std::uint64_t bytes) {
    if (::ftruncate(Fd, static_cast<off_t>(bytes)) != 0) Die("cannot set the image size");
  }
  void Close() {
    if (::close(Fd) != 0) Die("close failed");
    Fd = -1;
  }

 private:
  int Fd = -1;
};

class VolumeBitmap {
 public:
  void Set(std::uint64_t first, std::uint64_t count, bool used) {
    if (count == 0) return;
    const std::uint64_t end = first + count;
    if (CeilDiv(end, 8) > Bytes.size()) Bytes.resize(std::max<std::size_t>(CeilDiv(end, 8), Bytes.size() * 3 / 2));
    std::uint64_t c = first;
    for (; c < end && (c & 7) != 0; ++c) Bit(c, used);
    for (; c + 8 <= end; c += 8) Bytes[c >> 3] = used ? 0xFF : 0x00;
    for (; c < end; ++c) Bit(c, used);
  }
  std::vector<std::uint8_t> Take(std::uint64_t bytes) {
    Bytes.resize(bytes);
    return std::move(Bytes);
  }

 private:
  void Bit(std::uint64_t c, bool used) {
    const auto mask = static_cast<std::uint8_t>(1u << (c & 7));
    if (used) Bytes[c >> 3] |= mask;
    else Bytes[c >> 3] &= static_cast<std::uint8_t>(~mask);
  }
  std::vector<std::uint8_t> Bytes;
};

// Hands out clusters front to back, stepping over the $MFT's fragments.
class Allocator {
 public:
  Allocator(std::uint64_t start, std::vector<Run> reserved) : Cursor(start), Reserved(std::move(reserved)) {}

  std::uint64_t Take(std::uint64_t count) {
    while (Next < Reserved.size() && Cursor + count > static_cast<std::uint64_t>(Reserved[Next].Lcn)) {
      Cursor = std::max(Cursor, static_cast<std::uint64_t>(Reserved[Next].Lcn) + Reserved[Next].Length);
      ++Next;
    }
    const std::uint64_t at = Cursor;
    Cursor += count;
    return at;
  }
  void Skip(std::uint64_t count) { Cursor += count; }
  std::uint64_t End() const {
    std::uint64_t end = Cursor;
    for (const Run& r : Reserved) end = std::max(end, static_cast<std::uint64_t>(r.Lcn) + r.Length);
    return end;
  }

 private:
  std::uint64_t Cursor;
  std::vector<Run> Reserved;
  std::size_t Next = 0;
};

struct Config {
  std::string Output;
  std::uint64_t Records = 0;
  std::uint64_t Seed = 1;
  double DeletedPercent = 20;
  // Files in deleted folders are deleted anyway; the others are deleted with this chance so
  // that the share of deleted files comes out near DeletedPercent.
  double FileDeleteChance = 0;
};

struct Folder {
  std::uint32_t Record = 0;
  std::int32_t Parent = -1;  // index into the folder table; -1 is the root
  std::uint16_t LiveSeq = 1;
  bool Deleted = false;  // itself or any folder above it
  std::u16string Name;
  std::string Path;
};

struct FilePlan {
  std::int32_t Parent = -1;
  bool Deleted = false;
  bool Resident = false;
  std::uint64_t Size = 0;
  std::uint16_t LiveSeq = 1;
  std::u16string Name;
};

bool IsFolderRecord(const Config& c, std::uint64_t record) {
  return record >= kFirstUserRecord && RecordRng(c.Seed, record, kSaltKind).Below(10000) < 200;
}

std::uint16_t LiveSeqFor(const Config& c, std::uint64_t record) {
  Rng rng = RecordRng(c.Seed, record, kSaltKind);
  rng.Next();
  // Most records of a young volume were never reused; some were, many times.
  return static_cast<std::uint16_t>(rng.Chance(0.85) ? 1 : 2 + rng.Below(60));
}

std::uint16_t HeaderSeq(std::uint16_t liveSeq, bool deleted) {
  // Freeing a record moves its sequence number on, so references from before no longer match.
  return deleted ? static_cast<std::uint16_t>(liveSeq + 1) : liveSeq;
}

void MakeName(const Config& c, std::uint64_t record, bool folder, std::u16string& name) {
  Rng rng = RecordRng(c.Seed, record, kSaltName);
  name.clear();
  const std::u16string_view word = kWords[rng.Below(kWords.size())];
  if (rng.Chance(0.01)) {
    while (name.size() + word.size() + 1 < 150) {
      name += word;
      name += u'-';
    }
  } else {
    name += word;
  }
  name += folder || rng.Chance(0.3) ? u' ' : u'_';
  AppendNumber(name, record);
  if (!folder) {
    name += u'.';
    name += kExtensions[rng.Below(kExtensions.size())];
  }
}

std::size_t ResidentLimit(std::size_t nameUnits) {
  const std::size_t fixed = 0x38 + 0x60 + 0x18 + Align8(0x42 + 2 * nameUnits) + 0x18 + 8;
  return kRecordBytes - fixed;
}

std::uint64_t LogUniform(Rng& rng, double low, double high) {
  return static_cast<std::uint64_t>(std::exp(std::log(low) + rng.Unit() * (std::log(high) - std::log(low))));
}

void PlanFile(const Config& c, const std::vector<Folder>& folders, std::uint64_t record, FilePlan& p) {
  Rng rng = RecordRng(c.Seed, record, kSaltFile);
  MakeName(c, record, false, p.Name);
  p.Parent = folders.empty() || rng.Chance(0.005) ? -1 : static_cast<std::int32_t>(rng.Below(folders.size()));
  p.Deleted = rng.Chance(c.FileDeleteChance) || (p.Parent >= 0 && folders[p.Parent].Deleted);
  p.LiveSeq = LiveSeqFor(c, record);
  const double u = rng.Unit();
  if (u < 0.01) p.Size = 0;
  else if (u < 0.30) p.Size = 1 + rng.Below(700);
  else if (u < 0.80) p.Size = LogUniform(rng, 1024, 65536);
  else if (u < 0.97) p.Size = LogUniform(rng, 65536, 1 << 20);
  else p.Size = LogUniform(rng, 1 << 20, 16 << 20);
  p.Resident = p.Size <= ResidentLimit(p.Name.size()) && u < 0.30;
}

std::uint64_t ClustersFor(std::uint64_t bytes) { return CeilDiv(bytes, kClusterBytes); }

std::uint64_t FileNameAllocated(const FilePlan& p) {
  return p.Resident ? Align8(p.Size) : ClustersFor(p.Size) * kClusterBytes;
}

std::uint64_t ParentRef(const std::vector<Folder>& folders, std::int32_t parent) {
  if (parent < 0) return MakeRef(kRootRecord, kRootSeq);
  return MakeRef(folders[parent].Record, folders[parent].LiveSeq);
}

std::vector<Folder> PlanFolders(const Config& c) {
  std::vector<Folder> folders;
  for (std::uint64_t r = kFirstUserRecord; r < c.Records; ++r) {
    if (!IsFolderRecord(c, r)) continue;
    Folder f;
    f.Record = static_cast<std::uint32_t>(r);
    f.LiveSeq = LiveSeqFor(c, r);
    MakeName(c, r, true, f.Name);
    folders.push_back(std::move(f));
  }
  // Parents are picked in a shuffled creation order, not by record number, so that children
  // often sit at lower record numbers than their folders, as on a volume that reuses records.
  Rng rng(Mix(c.Seed ^ kSaltFolder));
  std::vector<std::uint32_t> order(folders.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  for (std::size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[rng.Below(i)]);
  for (std::size_t i = 0; i < order.size(); ++i) {
    Folder& f = folders[order[i]];
    if (i >= 4 && !rng.Chance(1.0 / 16)) f.Parent = static_cast<std::int32_t>(order[rng.Below(i)]);
    const bool own = i >= 4 && rng.Chance(c.DeletedPercent / 2000.0);
    f.Deleted = own || (f.Parent >= 0 && folders[f.Parent].Deleted);
    if (f.Parent >= 0) f.Path = folders[f.Parent].Path + "/";
    AppendUtf8(f.Path, f.Name);
  }
  return folders;
}

struct IndexKey {
  std::uint64_t Ref;
  std::uint32_t Offset;  // of the $FILE_NAME value in the arena
  std::uint16_t Length;
};

struct IndexSet {
  std::vector<std::uint8_t> Arena;
  std::vector<IndexKey> Keys;

  void Add(std::uint64_t ref, std::uint64_t parentRef, const Times& t, std::uint64_t allocated,
           std::uint64_t size, std::uint32_t attributes, std::u16string_view name) {
    const std::size_t at = Arena.size();
    Arena.resize(at + 0x42 + 2 * name.size());
    const std::size_t length = FileNameValue(Arena.data() + at, parentRef, t, allocated, size, attributes, name);
    Keys.push_back({ref, static_cast<std::uint32_t>(at), static_cast<std::uint16_t>(length)});
  }

  void Sort() {
    const std::vector<char16_t>& up = UpCase();
    const std::uint8_t* arena = Arena.data();
    auto unit = [&](const IndexKey& k, std::size_t i) {
      const std::uint8_t* p = arena + k.Offset + 0x42 + 2 * i;
      return up[static_cast<std::size_t>(p[0] | (p[1] << 8))];
    };
    std::sort(Keys.begin(), Keys.end(), [&](const IndexKey& a, const IndexKey& b) {
      const std::size_t la = arena[a.Offset + 0x40], lb = arena[b.Offset + 0x40];
      for (std::size_t i = 0; i < std::min(la, lb); ++i) {
        const char16_t x = unit(a, i), y = unit(b, i);
        if (x != y) return x < y;
      }
      return la < lb;
    });
  }

  void Clear() {
    Arena.clear();
    Keys.clear();
  }
};

struct Entry {
  std::uint32_t Key;
  std::int64_t Child;  // VCN of the block with the smaller keys; -1 in a leaf
};

class IndexTree {
 public:
  std::vector<Entry> Root;
  std::int64_t RootLast = -1;
  std::vector<std::uint8_t> Blocks;
  std::uint64_t BlockCount = 0;

  void Build(const IndexSet& set, std::size_t rootRoom, std::uint64_t seed, std::uint64_t usnKey) {
    Set = &set;
    Seed = seed;
    UsnKey = usnKey;
    Blocks.clear();
    BlockCount = 0;
    Root.clear();
    for (std::uint32_t i = 0; i < set.Keys.size(); ++i) Root.push_back({i, -1});
    RootLast = -1;
    // Bottom-up: fill a node, push the key that did not fit one level up with the node as its
    // left child, and repeat level by level until what is left fits the record.
    while (EntriesBytes(Root, 0, Root.size()) + EndBytes(RootLast) > rootRoom) {
      std::vector<Entry> up;
      std::int64_t upLast = -1;
      const std::size_t capacity = kIndexBlockBytes - kBlockEntriesAt - EndBytes(RootLast);
      const std::size_t m = Root.size();
      std::size_t s = 0;
      for (;;) {
        std::size_t t = s, bytes = 0;
        while (t < m && bytes + EntryBytes(Root[t]) <= capacity) bytes += EntryBytes(Root[t++]);
        if (t == m) {
          upLast = NewBlock(s, m, RootLast);
          break;
        }
        // Never leave the last node of a level empty.
        const std::size_t p = t == m - 1 && t - 1 > s ? t - 1 : t;
        up.push_back({Root[p].Key, NewBlock(s, p, Root[p].Child)});
        s = p + 1;
      }
      Root = std::move(up);
      RootLast = upLast;
    }
  }

  std::size_t RootBytes() const { return EntriesBytes(Root, 0, Root.size()) + EndBytes(RootLast); }

  std::uint8_t* WriteRootEntries(std::uint8_t* at) const {
    for (const Entry& e : Root) at = WriteEntry(at, e);
    return WriteEnd(at, RootLast);
  }

 private:
  std::size_t EntryBytes(const Entry& e) const {
    return Align8(0x10 + Set->Keys[e.Key].Length) + (e.Child >= 0 ? 8 : 0);
  }
  std::size_t EntriesBytes(const std::vector<Entry>& v, std::size_t from, std::size_t to) const {
    std::size_t n = 0;
    for (std::size_t i = from; i < to; ++i) n += EntryBytes(v[i]);
    return n;
  }
  static std::size_t EndBytes(std::int64_t child) { return child >= 0 ? 0x18 : 0x10; }

  std::uint8_t* WriteEntry(std::uint8_t* at, const Entry& e) const {
    const IndexKey& k = Set->Keys[e.Key];
    const std::size_t size = EntryBytes(e);
    std::memset(at, 0, size);
    Put64(at, k.Ref);
    Put16(at + 0x08, size);
    Put16(at + 0x0A, k.Length);
    Put16(at + 0x0C, e.Child >= 0 ? 1 : 0);
    std::memcpy(at + 0x10, Set->Arena.data() + k.Offset, k.Length);
    if (e.Child >= 0) Put64(at + size - 8, static_cast<std::uint64_t>(e.Child));
    return at + size;
  }
  static std::uint8_t* WriteEnd(std::uint8_t* at, std::int64_t child) {
    const std::size_t size = EndBytes(child);
    std::memset(at, 0, size);
    Put16(at + 0x08, size);
    Put16(at + 0x0C, child >= 0 ? 3 : 2);
    if (child >= 0) Put64(at + 0x10, static_cast<std::uint64_t>(child));
    return at + size;
  }

  std::int64_t NewBlock(std::size_t from, std::size_t to, std::int64_t last) {
    const std::uint64_t vcn = BlockCount++;
    Blocks.resize(BlockCount * kIndexBlockBytes);
    std::uint8_t* b = Blocks.data() + vcn * kIndexBlockBytes;
    std::memset(b, 0, kIndexBlockBytes);
    std::memcpy(b, "INDX", 4);
    Put16(b + 0x04, 0x28);
    Put16(b + 0x06, 1 + kIndexBlockBytes / kSectorBytes);
    Put64(b + 0x10, vcn);
    std::uint8_t* at = b + kBlockEntriesAt;
    for (std::size_t i = from; i < to; ++i) at = WriteEntry(at, Root[i]);
    at = WriteEnd(at, last);
    Put32(b + 0x18, kBlockEntriesAt - 0x18);
    Put32(b + 0x1C, static_cast<std::uint64_t>(at - b) - 0x18);
    Put32(b + 0x20, kIndexBlockBytes - 0x18);
    b[0x24] = last >= 0 ? 1 : 0;
    Protect(b, kIndexBlockBytes, 0x28, UsnFor(Seed, UsnKey * 131 + vcn));
    return static_cast<std::int64_t>(vcn);
  }

  const IndexSet* Set = nullptr;
  std::uint64_t Seed = 0;
  std::uint64_t UsnKey = 0;
};

// Writes a folder's index: $INDEX_ROOT always, $INDEX_ALLOCATION and its $BITMAP when the
// entries do not fit the record. Index blocks take clusters from the allocator.
void WriteFolderIndex(RecordWriter& w, const IndexSet& set, IndexTree& tree, Allocator& alloc,
                      VolumeBitmap& bitmap, Image& image, std::uint64_t seed, std::uint64_t usnKey) {
  std::size_t bitmapBytes = 8;
  for (int attempt = 0;; ++attempt) {
    const std::size_t reserve = kIndexRootOverhead + kIndexAllocationReserve + 0x20 + bitmapBytes;
    const std::size_t room = w.Room() > reserve ? w.Room() - reserve : 0;
    tree.Build(set, room, seed, usnKey);
    const std::size_t need = std::max<std::size_t>(8, Align8(CeilDiv(tree.BlockCount, 8)));
    if (need <= bitmapBytes || attempt > 4) break;
    bitmapBytes = need;
  }
  const std::size_t rootValue = 0x20 + tree.RootBytes();
  std::uint8_t* v = w.Resident(0x90, u"$I30", rootValue);
  Put32(v + 0x00, 0x30);
  Put32(v + 0x04, 1);  // collation by file name
  Put32(v + 0x08, kIndexBlockBytes);
  v[0x0C] = static_cast<std::uint8_t>(kIndexBlockBytes / kClusterBytes);
  Put32(v + 0x10, 0x10);
  Put32(v + 0x14, 0x10 + tree.RootBytes());
  Put32(v + 0x18, 0x10 + tree.RootBytes());
  v[0x1C] = tree.BlockCount > 0 ? 1 : 0;
  tree.WriteRootEntries(v + 0x20);
  if (tree.BlockCount == 0) return;
  const std::uint64_t clusters = tree.BlockCount * kIndexBlockBytes / kClusterBytes;
  const std::uint64_t lcn = alloc.Take(clusters);
  bitmap.Set(lcn, clusters, true);
  image.Write(tree.Blocks.data(), tree.Blocks.size(), lcn * kClusterBytes);
  const std::uint64_t bytes = clusters * kClusterBytes;
  w.NonResident(0xA0, u"$I30", {{static_cast<std::int64_t>(lcn), clusters}}, bytes, bytes);
  const std::size_t used = Align8(CeilDiv(tree.BlockCount, 8));
  std::uint8_t* bits = w.Resident(0xB0, u"$I30", used);
  for (std::uint64_t i = 0; i < tree.BlockCount; ++i) bits[i >> 3] |= static_cast<std::uint8_t>(1u << (i & 7));
}

struct AttrDefRow {
  std::u16string_view Name;
  std::uint32_t Type, Flags;
  std::uint64_t Min, Max;
};

std::vector<std::uint8_t> MakeAttrDef() {
  constexpr std::uint64_t kAny = ~std::uint64_t{0};
  constexpr std::array<AttrDefRow, 15> rows = {{
      {u"$STANDARD_INFORMATION", 0x10, 0x40, 0x30, 0x48},
      {u"$ATTRIBUTE_LIST", 0x20, 0x80, 0, kAny},
      {u"$FILE_NAME", 0x30, 0x42, 0x44, 0x242},
      {u"$OBJECT_ID", 0x40, 0x40, 0, 0x100},
      {u"$SECURITY_DESCRIPTOR", 0x50, 0x80, 0, kAny},
      {u"$VOLUME_NAME", 0x60, 0x40, 2, 0x100},
      {u"$VOLUME_INFORMATION", 0x70, 0x40, 0x0C, 0x0C},
      {u"$DATA", 0x80, 0x00, 0, kAny},
      {u"$INDEX_ROOT", 0x90, 0x40, 0, kAny},
      {u"$INDEX_ALLOCATION", 0xA0, 0x80, 0, kAny},
      {u"$BITMAP", 0xB0, 0x80, 0, kAny},
      {u"$REPARSE_POINT", 0xC0, 0x80, 0, 0x4000},
      {u"$EA_INFORMATION", 0xD0, 0x40, 8, 8},
      {u"$EA", 0xE0, 0x00, 0, 0x10000},
      {u"$LOGGED_UTILITY_STREAM", 0x100, 0x80, 0, 0x10000},
  }};
  std::vector<std::uint8_t> t((rows.size() + 1) * 0xA0);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::uint8_t* e = t.data() + i * 0xA0;
    for (std::size_t k = 0; k < rows[i].Name.size(); ++k) Put16(e + 2 * k, rows[i].Name[k]);
    Put32(e + 0x80, rows[i].Type);
    Put32(e + 0x88, rows[i].Type == 0x30 ? 1 : 0);
    Put32(e + 0x8C, rows[i].Flags);
    Put64(e + 0x90, rows[i].Min);
    Put64(e + 0x98, rows[i].Max);
  }
  return t;
}

struct Layout {
  std::uint64_t Records = 0;
  std::uint64_t MftMirrLcn = 2, AttrDefLcn = 3, UpCaseLcn = 4, LogFileLcn = 0;
  std::uint64_t MftBitmapLcn = 0, MftBitmapClusters = 0, MftBitmapBytes = 0;
  std::vector<Run> MftRuns;
  std::vector<std::uint64_t> FragmentFirstRecord;
  std::uint64_t VolumeBitmapLcn = 0, VolumeBitmapClusters = 0, VolumeBitmapBytes = 0;
  std::uint64_t Clusters = 0;

  std::uint64_t RecordOffset(std::uint64_t record) const {
    const auto it = std::upper_bound(FragmentFirstRecord.begin(), FragmentFirstRecord.end(), record);
    const std::size_t k = static_cast<std::size_t>(it - FragmentFirstRecord.begin()) - 1;
    return static_cast<std::uint64_t>(MftRuns[k].Lcn) * kClusterBytes + (record - FragmentFirstRecord[k]) * kRecordBytes;
  }
  // How many records from this one on lie contiguously on disk.
  std::uint64_t ContiguousFrom(std::uint64_t record) const {
    const auto it = std::upper_bound(FragmentFirstRecord.begin(), FragmentFirstRecord.end(), record);
    const std::size_t k = static_cast<std::size_t>(it - FragmentFirstRecord.begin()) - 1;
    return FragmentFirstRecord[k] + MftRuns[k].Length * kRecordsPerCluster - record;
  }
};

Layout PlanLayout(const Config& c, double meanFileClusters) {
  Layout l;
  l.Records = c.Records;
  l.LogFileLcn = l.UpCaseLcn + kUpCaseClusters;
  l.MftBitmapLcn = l.LogFileLcn + kLogFileClusters;
  l.MftBitmapBytes = Align8(CeilDiv(c.Records, 8));
  l.MftBitmapClusters = ClustersFor(l.MftBitmapBytes);
  Rng rng(Mix(c.Seed ^ kSaltLayout));
  const std::uint64_t total = CeilDiv(c.Records, kRecordsPerCluster);
  std::uint64_t fragments = 3 + rng.Below(6);
  fragments = std::max<std::uint64_t>(1, std::min(fragments, total / 16));
  std::vector<double> weights(fragments);
  double sum = 0;
  for (double& w : weights) sum += w = 1 + 2 * rng.Unit();
  std::vector<std::uint64_t> sizes(fragments);
  std::uint64_t given = 0;
  for (std::size_t i = 0; i + 1 < fragments; ++i) {
    // The first fragment must hold the system records; every later one at least a cluster.
    const std::uint64_t share = static_cast<std::uint64_t>(static_cast<double>(total) * weights[i] / sum);
    const std::uint64_t most = total - given - (fragments - 1 - i);
    sizes[i] = std::min(std::max<std::uint64_t>(i == 0 ? 16 : 1, share), most);
    given += sizes[i];
  }
  sizes[fragments - 1] = total - given;
  // Data lands between the fragments, as on a volume whose $MFT grew while it filled.
  const double expectedData = meanFileClusters * static_cast<double>(c.Records);
  std::uint64_t lcn = l.MftBitmapLcn + l.MftBitmapClusters;
  std::uint64_t first = 0;
  for (std::size_t i = 0; i < fragments; ++i) {
    l.MftRuns.push_back({static_cast<std::int64_t>(lcn), sizes[i]});
    l.FragmentFirstRecord.push_back(first);
    first += sizes[i] * kRecordsPerCluster;
    const double gap = expectedData / static_cast<double>(fragments) * (0.5 + rng.Unit());
    lcn += sizes[i] + 1 + static_cast<std::uint64_t>(gap);
  }
  return l;
}

std::uint64_t BitmapBytesFor(std::uint64_t clusters) { return Align8(CeilDiv(clusters, 8)); }

struct SystemFile {
  std::uint32_t Record;
  std::u16string_view Name;
  bool Folder;
};

constexpr std::array<SystemFile, 12> kSystemFiles = {{
    {0, u"$MFT", false},
    {1, u"$MFTMirr", false},
    {2, u"$LogFile", false},
    {3, u"$Volume", false},
    {4, u"$AttrDef", false},
    {5, u".", true},
    {6, u"$Bitmap", false},
    {7, u"$Boot", false},
    {8, u"$BadClus", false},
    {9, u"$Secure", false},
    {10, u"$UpCase", false},
    {11, u"$Extend", true},
}};

std::uint16_t SystemSeq(std::uint32_t record) { return static_cast<std::uint16_t>(record == 0 ? 1 : record); }

struct SystemSizes {
  std::uint64_t Allocated = 0, Size = 0;
};

SystemSizes SystemFileSizes(const Layout& l, std::uint32_t record) {
  auto bytes = [](std::uint64_t clusters, std::uint64_t size) { return SystemSizes{clusters * kClusterBytes, size}; };
  switch (record) {
    case 0: return bytes(CeilDiv(l.Records, kRecordsPerCluster), l.Records * kRecordBytes);
    case 1: return bytes(1, kClusterBytes);
    case 2: return bytes(kLogFileClusters, kLogFileClusters * kClusterBytes);
    case 4: return bytes(1, MakeAttrDef().size());
    case 6: return bytes(l.VolumeBitmapClusters, l.VolumeBitmapBytes);
    case 7: return bytes(2, 2 * kClusterBytes);
    case 10: return bytes(kUpCaseClusters, kUpCaseClusters * kClusterBytes);
    default: return {};
  }
}

void SystemNameAttributes(RecordWriter& w, const Layout& l, std::uint32_t record, const Times& t) {
  const SystemFile& f = kSystemFiles[record];
  StandardInformation(w, t, kAttrReadOnlyHiddenSystem);
  const SystemSizes s = SystemFileSizes(l, record);
  FileName(w, MakeRef(kRootRecord, kRootSeq), t, s.Allocated, s.Size,
           kAttrReadOnlyHiddenSystem | (f.Folder ? kAttrHasI30 : 0), f.Name);
}

void EmptyIndexRoot(RecordWriter& w, std::u16string_view name, std::uint32_t type, std::uint32_t collation) {
  std::uint8_t* v = w.Resident(0x90, name, 0x30);
  Put32(v + 0x00, type);
  Put32(v + 0x04, collation);
  Put32(v + 0x08, kIndexBlockBytes);
  v[0x0C] = 1;
  Put32(v + 0x10, 0x10);
  Put32(v + 0x14, 0x20);
  Put32(v + 0x18, 0x20);
  Put16(v + 0x28, 0x10);
  Put16(v + 0x2C, 2);
}

void BuildSystemRecord(std::uint8_t* buffer, const Layout& l, std::uint32_t record, const Times& t,
                       std::uint64_t seed) {
  const bool named = record < kSystemFiles.size();
  const std::uint16_t flags = kRecordInUse | (record == 11 ? kRecordIsFolder : 0);
  RecordWriter w(buffer, record, SystemSeq(record), flags, named ? 1 : 0);
  if (named) SystemNameAttributes(w, l, record, t);
  else StandardInformation(w, t, kAttrReadOnlyHiddenSystem);
  switch (record) {
    case 0: {
      w.NonResident(0x80, {}, l.MftRuns, l.Records * kRecordBytes, l.Records * kRecordBytes);
      w.NonResident(0xB0, {}, {{static_cast<std::int64_t>(l.MftBitmapLcn), l.MftBitmapClusters}}, l.MftBitmapBytes,
                    l.MftBitmapBytes);
      break;
    }
    case 1: w.NonResident(0x80, {}, {{static_cast<std::int64_t>(l.MftMirrLcn), 1}}, kClusterBytes, kClusterBytes); break;
    case 2:
      w.NonResident(0x80, {}, {{static_cast<std::int64_t>(l.LogFileLcn), kLogFileClusters}},
                    kLogFileClusters * kClusterBytes, kLogFileClusters * kClusterBytes);
      break;
    case 3: {
      constexpr std::u16string_view kLabel = u"Synth";
      std::uint8_t* name = w.Resident(0x60, {}, 2 * kLabel.size());
      for (std::size_t i = 0; i < kLabel.size(); ++i) Put16(name + 2 * i, kLabel[i]);
      std::uint8_t* info = w.Resident(0x70, {}, 12);
      info[8] = 3;
      info[9] = 1;
      w.Resident(0x80, {}, 0);
      break;
    }
    case 4: {
      const std::uint64_t size = MakeAttrDef().size();
      w.NonResident(0x80, {}, {{static_cast<std::int64_t>(l.AttrDefLcn), 1}}, size, size);
      break;
    }
    case 6:
      w.NonResident(0x80, {}, {{static_cast<std::int64_t>(l.VolumeBitmapLcn), l.VolumeBitmapClusters}},
                    l.VolumeBitmapBytes, l.VolumeBitmapBytes);
      break;
    case 7: w.NonResident(0x80, {}, {{0, 2}}, 2 * kClusterBytes, 2 * kClusterBytes); break;
    case 8:
      w.Resident(0x80, {}, 0);
      w.NonResident(0x80, u"$Bad", {{-1, l.Clusters}}, l.Clusters * kClusterBytes, l.Clusters * kClusterBytes);
      break;
    case 9:
      w.Resident(0x80, u"$SDS", 0);
      EmptyIndexRoot(w, u"$SDH", 0, 0x12);
      EmptyIndexRoot(w, u"$SII", 0, 0x10);
      break;
    case 10:
      w.NonResident(0x80, {}, {{static_cast<std::int64_t>(l.UpCaseLcn), kUpCaseClusters}},
                    kUpCaseClusters * kClusterBytes, kUpCaseClusters * kClusterBytes);
      break;
    case 11: EmptyIndexRoot(w, u"$I30", 0x30, 1); break;
    default: w.Resident(0x80, {}, 0); break;
  }
  w.Finish(UsnFor(seed, record));
}

void WriteBootSector(std::uint8_t* b, const Layout& l, std::uint64_t totalSectors, std::uint64_t serial) {
  std::memset(b, 0, kSectorBytes);
  b[0] = 0xEB;
  b[1] = 0x52;
  b[2] = 0x90;
  std::memcpy(b + 3, "NTFS    ", 8);
  Put16(b + 0x0B, kSectorBytes);
  b[0x0D] = static_cast<std::uint8_t>(kSectorsPerCluster);
  b[0x15] = 0xF8;
  Put16(b + 0x18, 63);
  Put16(b + 0x1A, 255);
  Put32(b + 0x24, 0x00800080);
  Put64(b + 0x28, totalSectors);
  Put64(b + 0x30, static_cast<std::uint64_t>(l.MftRuns[0].Lcn));
  Put64(b + 0x38, l.MftMirrLcn);
  b[0x40] = 0xF6;  // 2^10 bytes per record
  b[0x44] = static_cast<std::uint8_t>(kIndexBlockBytes / kClusterBytes);
  Put64(b + 0x48, serial);
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
}

struct Stats {
  std::uint64_t Files = 0, DeletedFiles = 0, Folders = 0, DeletedFolders = 0, Resident = 0;
  std::uint64_t ReusedRuns = 0, Tagged = 0, IndexBlocks = 0;
};

class Manifest {
 public:
  explicit Manifest(const std::string& path) {
    F = std::fopen(path.c_str(), "w");
    if (F == nullptr) Die(("cannot create " + path).c_str());
    std::setvbuf(F, nullptr, _IOFBF, 1 << 20);
    std::fputs("record\tpath\tsize\tdeleted\n", F);
  }
  ~Manifest() {
    if (F != nullptr) std::fclose(F);
  }
  Manifest(const Manifest&) = delete;
  Manifest& operator=(const Manifest&) = delete;
  void Add(std::uint64_t record, const std::string& folder, std::u16string_view name, std::uint64_t size,
           bool deleted) {
    Line.clear();
    char number[24];
    Line.append(number, std::to_chars(number, number + sizeof number, record).ptr);
    Line += '\t';
    if (!folder.empty()) {
      Line += folder;
      Line += '/';
    }
    AppendUtf8(Line, name);
    Line += '\t';
    Line.append(number, std::to_chars(number, number + sizeof number, size).ptr);
    Line += deleted ? "\t1\n" : "\t0\n";
    std::fwrite(Line.data(), 1, Line.size(), F);
  }
  void Close() {
    if (std::fclose(F) != 0) Die("cannot write the manifest");
    F = nullptr;
  }

 private:
  std::FILE* F = nullptr;
  std::string Line;
};

void FillResidentContent(std::uint8_t* out, std::uint64_t record, std::uint64_t size) {
  char line[64];
  const int n = std::snprintf(line, sizeof line, "restovo synth record %llu\n",
                              static_cast<unsigned long long>(record));
  const auto length = static_cast<std::uint64_t>(n);
  for (std::uint64_t at = 0; at < size; at += length) std::memcpy(out + at, line, std::min(length, size - at));
}

// Splits a file into one to three runs, from fresh clusters or from clusters that deleted files
// gave back, with free holes between fresh pieces so that the runs really are apart.
std::vector<Run> PlaceFile(Rng& rng, std::uint64_t clusters, bool deleted, Allocator& alloc,
                           std::deque<Run>& freed, Stats& stats) {
  std::vector<Run> runs;
  std::uint64_t left = clusters;
  if (!deleted && !freed.empty() && rng.Chance(0.25)) {
    for (int i = 0; i < 2 && left > 0 && !freed.empty(); ++i) {
      Run& r = freed.front();
      const std::uint64_t n = std::min(left, r.Length);
      runs.push_back({r.Lcn, n});
      r.Lcn += static_cast<std::int64_t>(n);
      r.Length -= n;
      if (r.Length == 0) freed.pop_front();
      left -= n;
      ++stats.ReusedRuns;
    }
  }
  if (left == 0) return runs;
  std::uint64_t pieces = 1;
  if (left > 1 && runs.empty()) {
    const double u = rng.Unit();
    pieces = u < 0.7 ? 1 : u < 0.9 ? 2 : 3;
    pieces = std::min(pieces, left);
  }
  std::vector<Run> fresh;
  for (std::uint64_t i = 0; i < pieces; ++i) {
    const std::uint64_t n = i + 1 == pieces ? left : 1 + rng.Below(left - (pieces - i - 1));
    left -= n;
    fresh.push_back({static_cast<std::int64_t>(alloc.Take(n)), n});
    if (i + 1 < pieces) alloc.Skip(1 + rng.Below(8));
  }
  // Some files start behind where they continue, giving run lists negative steps.
  if (fresh.size() > 1 && rng.Chance(0.5)) std::swap(fresh[0], fresh[1]);
  runs.insert(runs.end(), fresh.begin(), fresh.end());
  return runs;
}

int Generate(Config c) {
  const auto started = std::chrono::steady_clock::now();
  const std::vector<Folder> folders = PlanFolders(c);
  const double inDeleted = folders.empty() ? 0.0
      : 0.995 * static_cast<double>(std::count_if(folders.begin(), folders.end(), [](const Folder& f) { return f.Deleted; })) /
            static_cast<double>(folders.size());
  c.FileDeleteChance = std::clamp((c.DeletedPercent / 100.0 - inDeleted) / (1.0 - inDeleted), 0.0, 1.0);
  const std::uint64_t volumeCreated = kFileTimeOfUnixEpoch + 1420070400ull * kTicksPerSecond;  // 2015-01-01
  Layout layout = PlanLayout(c, 50.0);

  Image image(c.Output);
  Manifest manifest(c.Output + ".manifest.tsv");
  VolumeBitmap bitmap;
  std::vector<std::uint8_t> mftBitmap(layout.MftBitmapBytes);
  auto markRecord = [&](std::uint64_t r) { mftBitmap[r >> 3] |= static_cast<std::uint8_t>(1u << (r & 7)); };
  for (std::uint32_t r = 0; r < kFirstUserRecord; ++r) markRecord(r);
  const std::uint64_t firstDataLcn = static_cast<std::uint64_t>(layout.MftRuns[0].Lcn) + layout.MftRuns[0].Length;
  Allocator alloc(firstDataLcn, layout.MftRuns);
  std::deque<Run> freed;
  Stats stats;

  // Children of each folder, slot 0 being the root; a set high bit marks a folder index.
  constexpr std::uint32_t kFolderChild = 0x80000000u;
  std::vector<std::vector<std::uint32_t>> children(folders.size() + 1);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const Folder& f = folders[i];
    ++stats.Folders;
    if (f.Deleted) {
      ++stats.DeletedFolders;
      continue;
    }
    markRecord(f.Record);
    children[static_cast<std::size_t>(f.Parent + 1)].push_back(static_cast<std::uint32_t>(i) | kFolderChild);
  }

  // Two buffers, so that the kernel copies one into the page cache on the other core while
  // the records of the next one are built.
  constexpr std::uint64_t kChunkRecords = 16384;
  std::array<std::vector<std::uint8_t>, 2> buffers;
  for (auto& b : buffers) b.resize(kChunkRecords * kRecordBytes);
  std::future<void> pending;
  std::size_t current = 0;
  FilePlan plan;
  std::uint8_t tag[kTagBytes];
  for (std::uint64_t chunkFirst = kFirstUserRecord; chunkFirst < c.Records;) {
    const std::uint64_t count =
        std::min({kChunkRecords, c.Records - chunkFirst, layout.ContiguousFrom(chunkFirst)});
    std::vector<std::uint8_t>& chunk = buffers[current];
    std::memset(chunk.data(), 0, count * kRecordBytes);
    for (std::uint64_t r = chunkFirst; r < chunkFirst + count; ++r) {
      if (IsFolderRecord(c, r)) continue;
      PlanFile(c, folders, r, plan);
      const Times t = RecordTimes(c.Seed, r, volumeCreated);
      const auto recordNo = static_cast<std::uint32_t>(r);
      const std::uint16_t flags = plan.Deleted ? 0 : kRecordInUse;
      RecordWriter w(chunk.data() + (r - chunkFirst) * kRecordBytes, recordNo, HeaderSeq(plan.LiveSeq, plan.Deleted),
                     flags, 1);
      StandardInformation(w, t, kAttrArchive);
      FileName(w, ParentRef(folders, plan.Parent), t, FileNameAllocated(plan), plan.Size, kAttrArchive, plan.Name);
      if (plan.Resident) {
        FillResidentContent(w.Resident(0x80, {}, plan.Size), r, plan.Size);
        ++stats.Resident;
      } else {
        Rng rng = RecordRng(c.Seed, r, kSaltPlace);
        const std::uint64_t clusters = ClustersFor(plan.Size);
        std::vector<Run> runs = PlaceFile(rng, clusters, plan.Deleted, alloc, freed, stats);
        w.NonResident(0x80, {}, runs, plan.Size, plan.Size);
        if (plan.Deleted) {
          for (const Run& run : runs) {
            bitmap.Set(static_cast<std::uint64_t>(run.Lcn), run.Length, false);
            if (freed.size() < 65536) freed.push_back(run);
          }
        } else {
          for (const Run& run : runs) bitmap.Set(static_cast<std::uint64_t>(run.Lcn), run.Length, true);
        }
        if (r % kTagEvery == 0 && plan.Size >= kTagBytes) {
          std::memset(tag, ' ', sizeof tag);
          const int n = std::snprintf(reinterpret_cast<char*>(tag), sizeof tag, "RESTOVO-SYNTH record=%llu size=%llu",
                                      static_cast<unsigned long long>(r), static_cast<unsigned long long>(plan.Size));
          tag[n] = ' ';
          tag[kTagBytes - 1] = '\n';
          image.Write(tag, sizeof tag, static_cast<std::uint64_t>(runs[0].Lcn) * kClusterBytes);
          ++stats.Tagged;
        }
      }
      w.Finish(UsnFor(c.Seed, r));
      ++stats.Files;
      if (plan.Deleted) {
        ++stats.DeletedFiles;
      } else {
        markRecord(r);
        children[static_cast<std::size_t>(plan.Parent + 1)].push_back(recordNo);
      }
      manifest.Add(r, plan.Parent >= 0 ? folders[plan.Parent].Path : std::string(), plan.Name, plan.Size,
                   plan.Deleted);
    }
    if (pending.valid()) pending.get();
    pending = std::async(std::launch::async, [&image, &chunk, count, offset = layout.RecordOffset(chunkFirst)] {
      image.Write(chunk.data(), count * kRecordBytes, offset);
    });
    current ^= 1;
    chunkFirst += count;
  }
  if (pending.valid()) pending.get();
  manifest.Close();
  const auto filesDone = std::chrono::steady_clock::now();

  // Folder records come last: their indexes need every child, and their blocks need clusters.
  IndexSet set;
  IndexTree tree;
  std::uint8_t record[kRecordBytes];
  const Times systemTimes{volumeCreated, volumeCreated, volumeCreated, volumeCreated};
  auto addChildren = [&](const std::vector<std::uint32_t>& list) {
    for (const std::uint32_t child : list) {
      if (child & kFolderChild) {
        const Folder& f = folders[child & ~kFolderChild];
        set.Add(MakeRef(f.Record, f.LiveSeq), ParentRef(folders, f.Parent), RecordTimes(c.Seed, f.Record, volumeCreated), 0,
                0, kAttrHasI30, f.Name);
      } else {
        PlanFile(c, folders, child, plan);
        set.Add(MakeRef(child, plan.LiveSeq), ParentRef(folders, plan.Parent), RecordTimes(c.Seed, child, volumeCreated),
                FileNameAllocated(plan), plan.Size, kAttrArchive, plan.Name);
      }
    }
  };
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const Folder& f = folders[i];
    set.Clear();
    addChildren(children[i + 1]);
    set.Sort();
    const Times t = RecordTimes(c.Seed, f.Record, volumeCreated);
    RecordWriter w(record, f.Record, HeaderSeq(f.LiveSeq, f.Deleted),
                   static_cast<std::uint16_t>(kRecordIsFolder | (f.Deleted ? 0 : kRecordInUse)), 1);
    StandardInformation(w, t, 0);
    FileName(w, ParentRef(folders, f.Parent), t, 0, 0, kAttrHasI30, f.Name);
    WriteFolderIndex(w, set, tree, alloc, bitmap, image, c.Seed, f.Record);
    stats.IndexBlocks += tree.BlockCount;
    w.Finish(UsnFor(c.Seed, f.Record));
    image.Write(record, kRecordBytes, layout.RecordOffset(f.Record));
  }

  set.Clear();
  for (const SystemFile& s : kSystemFiles) {
    // The size of $Bitmap is not settled yet, so its entry keeps zero sizes: entries of
    // system files go stale on real volumes as well, and readers take sizes from the records.
    const SystemSizes sizes = SystemFileSizes(layout, s.Record);
    set.Add(MakeRef(s.Record, SystemSeq(s.Record)), MakeRef(kRootRecord, kRootSeq), systemTimes, sizes.Allocated,
            sizes.Size, kAttrReadOnlyHiddenSystem | (s.Folder ? kAttrHasI30 : 0), s.Name);
  }
  addChildren(children[0]);
  set.Sort();
  {
    RecordWriter w(record, kRootRecord, kRootSeq, kRecordInUse | kRecordIsFolder, 1);
    SystemNameAttributes(w, layout, kRootRecord, systemTimes);
    WriteFolderIndex(w, set, tree, alloc, bitmap, image, c.Seed, kRootRecord);
    stats.IndexBlocks += tree.BlockCount;
    w.Finish(UsnFor(c.Seed, kRootRecord));
    image.Write(record, kRecordBytes, layout.RecordOffset(kRootRecord));
  }

  // The volume bitmap sits behind everything else and must cover itself and some free space.
  const std::uint64_t slack = std::max<std::uint64_t>(256, alloc.End() / 50);
  layout.VolumeBitmapClusters = ClustersFor(BitmapBytesFor(alloc.End() + slack + (1u << 18)));
  layout.VolumeBitmapLcn = alloc.Take(layout.VolumeBitmapClusters);
  layout.Clusters = alloc.End() + slack;
  layout.VolumeBitmapBytes = BitmapBytesFor(layout.Clusters);

  bitmap.Set(0, layout.MftBitmapLcn + layout.MftBitmapClusters, true);
  for (const Run& r : layout.MftRuns) bitmap.Set(static_cast<std::uint64_t>(r.Lcn), r.Length, true);
  bitmap.Set(layout.VolumeBitmapLcn, layout.VolumeBitmapClusters, true);
  const std::vector<std::uint8_t> volumeBits = bitmap.Take(layout.VolumeBitmapBytes);
  image.Write(volumeBits.data(), volumeBits.size(), layout.VolumeBitmapLcn * kClusterBytes);
  image.Write(mftBitmap.data(), mftBitmap.size(), layout.MftBitmapLcn * kClusterBytes);

  std::vector<std::uint8_t> system(kFirstUserRecord * kRecordBytes);
  for (std::uint32_t r = 0; r < kFirstUserRecord; ++r) {
    if (r == kRootRecord) continue;
    BuildSystemRecord(system.data() + r * kRecordBytes, layout, r, systemTimes, c.Seed);
    image.Write(system.data() + r * kRecordBytes, kRecordBytes, layout.RecordOffset(r));
  }
  // The mirror holds the first four records exactly as the $MFT does, root excluded.
  image.Write(system.data(), kClusterBytes, layout.MftMirrLcn * kClusterBytes);

  const std::vector<std::uint8_t> attrDef = MakeAttrDef();
  image.Write(attrDef.data(), attrDef.size(), layout.AttrDefLcn * kClusterBytes);
  std::vector<std::uint8_t> upCase(kUpCaseClusters * kClusterBytes);
  const std::vector<char16_t>& up = UpCase();
  for (std::size_t i = 0; i < up.size(); ++i) Put16(upCase.data() + 2 * i, up[i]);
  image.Write(upCase.data(), upCase.size(), layout.UpCaseLcn * kClusterBytes);
  // An all-0xFF log is an empty one: nothing to replay.
  const std::vector<std::uint8_t> log(kLogFileClusters * kClusterBytes, 0xFF);
  image.Write(log.data(), log.size(), layout.LogFileLcn * kClusterBytes);

  // The volume ends one sector short of a whole cluster past its last one, where the copy of
  // the boot sector lives.
  const std::uint64_t imageBytes = (layout.Clusters + 1) * kClusterBytes;
  const std::uint64_t totalSectors = imageBytes / kSectorBytes - 1;
  std::uint8_t boot[kSectorBytes];
  WriteBootSector(boot, layout, totalSectors, Mix(c.Seed ^ 0x5EED));
  image.Resize(imageBytes);
  image.Write(boot, sizeof boot, 0);
  image.Write(boot, sizeof boot, imageBytes - kSectorBytes);
  image.Close();

  const auto done = std::chrono::steady_clock::now();
  auto seconds = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
  std::printf(
      "image %s: %llu records (%llu files, %llu deleted; %llu folders, %llu deleted), %llu resident files,\n"
      "  %llu clusters of %llu bytes (%.1f GiB), $MFT in %zu fragments, %llu index blocks,\n"
      "  %llu runs on reused clusters, %llu tagged files; %.1f s (files %.1f s, folders and system %.1f s)\n",
      c.Output.c_str(), static_cast<unsigned long long>(c.Records), static_cast<unsigned long long>(stats.Files),
      static_cast<unsigned long long>(stats.DeletedFiles), static_cast<unsigned long long>(stats.Folders),
      static_cast<unsigned long long>(stats.DeletedFolders), static_cast<unsigned long long>(stats.Resident),
      static_cast<unsigned long long>(layout.Clusters), static_cast<unsigned long long>(kClusterBytes),
      static_cast<double>(imageBytes) / (1u << 30), layout.MftRuns.size(),
      static_cast<unsigned long long>(stats.IndexBlocks), static_cast<unsigned long long>(stats.ReusedRuns),
      static_cast<unsigned long long>(stats.Tagged), seconds(started, done), seconds(started, filesDone),
      seconds(filesDone, done));
  return 0;
}

const char* const kUsage =
    "Usage: restovo-synth-ntfs OUTPUT RECORDS [--seed N] [--deleted-percent P]\n"
    "\n"
    "Writes a sparse NTFS image OUTPUT with RECORDS MFT records (64 to 100000000) and\n"
    "OUTPUT.manifest.tsv listing every file: record, path, size, deleted (0 or 1).\n"
    "The same seed gives the same image. P defaults to 20.\n";

bool ParseUnsigned(const char* text, std::uint64_t& out) {
  const char* end = text + std::strlen(text);
  const auto [ptr, ec] = std::from_chars(text, end, out);
  return ec == std::errc() && ptr == end && ptr != text;
}

}  // namespace

int main(int argc, char** argv) {
  Config c;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if ((a == "--seed" || a == "--deleted-percent") && i + 1 < argc) {
      const char* value = argv[++i];
      if (a == "--seed") {
        if (!ParseUnsigned(value, c.Seed)) {
          std::fprintf(stderr, "restovo-synth-ntfs: bad seed '%s'\n", value);
          return 2;
        }
      } else {
        char* end = nullptr;
        c.DeletedPercent = std::strtod(value, &end);
        if (end == value || *end != '\0' || !(c.DeletedPercent >= 0 && c.DeletedPercent <= 100)) {
          std::fprintf(stderr, "restovo-synth-ntfs: the deleted percentage must be 0 to 100\n");
          return 2;
        }
      }
      continue;
    }
    if (a.starts_with("--")) {
      std::fprintf(stderr, "restovo-synth-ntfs: unknown option '%s'\n\n%s", argv[i], kUsage);
      return 2;
    }
    positional.emplace_back(a);
  }
  if (positional.size() != 2 || !ParseUnsigned(positional[1].c_str(), c.Records) || c.Records < kMinRecords ||
      c.Records > kMaxRecords) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  c.Output = positional[0];
  return Generate(c);
}
