// Verdicts and the folder tree of NTFS items, on plain data.
#include "fs/ntfs/NtfsTree.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "fs/ntfs/NtfsDataInfo.h"
#include "support/MapList.h"

namespace restovo {
namespace {

// Items live here; each test's slot array points into it.
struct Items {
  TFileInfo* Add(std::int64_t record, const std::string& name, bool folder, bool inUse, std::int64_t parent = 5,
                 std::int64_t size = 100) {
    TFileInfo* i = &Store.emplace_back();
    i->RecordNo = record;
    i->Name = name;
    i->IsFolder = folder;
    i->InUse = inUse;
    i->ParentRecordNo = parent;
    i->Size = folder ? 0 : size;
    return i;
  }
  TFileInfo* New() { return &Store.emplace_back(); }
  std::deque<TFileInfo> Store;
};

// A bitmap with the given clusters in use, 200 clusters long.
TVolumeBitmap BitmapWith(std::initializer_list<std::int64_t> used) {
  std::vector<std::uint8_t> bytes(25);
  for (auto c : used) bytes[static_cast<std::size_t>(c / 8)] |= static_cast<std::uint8_t>(1u << (c % 8));
  return TVolumeBitmap(bytes);
}

TEST(NtfsRating, ShareOfClustersInUse) {
  struct Case {
    std::initializer_list<std::int64_t> used;
    TRecoverState state;
  };
  // A file of 10 clusters at 100..109.
  const Case cases[] = {
      {{}, rsGood},
      {{100}, rsPoor},                          // 90 % free
      {{100, 101}, rsPoor},                     // exactly 20 % in use
      {{100, 101, 102}, rsVeryPoor},            // 70 %
      {{100, 101, 102, 103, 104}, rsVeryPoor},  // exactly 50 %
      {{100, 101, 102, 103, 104, 105}, rsLost}, // 40 %
      {{99, 110}, rsGood},                      // neighbours do not count
  };
  for (const Case& c : cases) {
    TFileInfo f;
    f.Size = 40960;
    f.Runs = {{100, 10}};
    RateItem(&f, BitmapWith(c.used));
    EXPECT_EQ(f.State, c.state) << c.used.size();
  }
}

TEST(NtfsRating, KindsOfItems) {
  const TVolumeBitmap bitmap = BitmapWith({1});
  auto rate = [&](auto&& setup) {
    TFileInfo f;
    f.Size = 10;
    f.Runs = {{50, 2}};
    setup(f);
    RateItem(&f, bitmap);
    return f.State;
  };
  EXPECT_EQ(rate([](TFileInfo& f) { f.InUse = true; f.Runs = {{1, 1}}; }), rsGood);
  EXPECT_EQ(rate([](TFileInfo& f) { f.IsFolder = true; }), rsFolder);
  EXPECT_EQ(rate([](TFileInfo& f) { f.Resident = true; f.Runs.clear(); }), rsGood);
  EXPECT_EQ(rate([](TFileInfo& f) { f.HasAttrList = true; }), rsLost);
  EXPECT_EQ(rate([](TFileInfo& f) { f.Runs.clear(); }), rsLost);
  EXPECT_EQ(rate([](TFileInfo& f) { f.Runs = {{-1, 2}, {50, 4}}; }), rsLost);
  // A hole in a plain stream counts as lost data; in a sparse stream it is layout.
  EXPECT_EQ(rate([](TFileInfo& f) { f.Runs = {{50, 1}, {-1, 2}}; }), rsVeryPoor);  // one of two "units" lost
  EXPECT_EQ(rate([](TFileInfo& f) {
              f.Runs = {{50, 1}, {-1, 2}};
              auto info = std::make_unique<TNtfsDataInfo>();
              info->Flags = TNtfsDataInfo::kSparse;
              f.FsData = std::move(info);
            }),
            rsGood);
  // Clusters past the bitmap count as free here.
  EXPECT_EQ(rate([](TFileInfo& f) { f.Runs = {{5000, 2}}; }), rsGood);
  TFileInfo untouched;
  untouched.Runs = {{1, 1}};
  RateItem(&untouched, TVolumeBitmap());
  EXPECT_EQ(untouched.State, rsGood);
}

// The per-cluster counting the shared-cluster verdict is defined by, kept here to check
// the run-interval sweep the engine uses against it.
void RateSharedByCounting(const std::vector<TFileInfo*>& slots, std::int64_t totalBits) {
  TMapList map(0x40000);
  auto part = [](const TFileInfo* i) {
    return i && !i->IsFolder && !i->InUse && !i->Resident && !i->Runs.empty() && i->Runs.front().Lcn >= 0;
  };
  auto walk = [](const TFileInfo* i, auto&& fn) {
    std::int64_t prev = 0;
    for (const TRunNode& r : i->Runs) {
      if (r.Lcn >= 0)
        for (std::int64_t c = r.Lcn; c < r.Lcn + (r.NextVcn - prev); ++c) fn(c);
      prev = r.NextVcn;
    }
  };
  for (std::size_t n = 16; n < slots.size(); ++n)
    if (part(slots[n])) walk(slots[n], [&](std::int64_t c) { if (c < totalBits) map.IncNumber(c); });
  for (std::size_t n = 16; n < slots.size(); ++n) {
    TFileInfo* i = slots[n];
    if (!part(i)) continue;
    walk(i, [&](std::int64_t c) {
      if (c >= totalBits) i->State = rsLost;
      else if (map.CountNumber(c) > 1 && i->State == rsGood) i->State = rsPoor;
    });
  }
}

TEST(NtfsRating, SharedClustersAgreeWithPerClusterCounting) {
  Items items;
  std::vector<TFileInfo*> slots(40, nullptr);
  auto file = [&](std::int64_t rec, std::vector<TRunNode> runs, TRecoverState state = rsGood) {
    TFileInfo* f = items.Add(rec, "f" + std::to_string(rec), false, false);
    f->Runs = std::move(runs);
    f->State = state;
    slots[static_cast<std::size_t>(rec)] = f;
  };
  file(16, {{10, 5}});               // 10..14, shares 14 with 17
  file(17, {{14, 3}});               // 14..16
  file(18, {{100, 2}, {-1, 4}, {20, 6}});  // 100..101, hole, 20..21
  file(19, {{21, 1}});               // shares 21 with 18
  file(20, {{300, 10}});             // past the end (totalBits 305)
  file(21, {{50, 10}}, rsVeryPoor);  // shares with 22 but keeps its worse verdict
  file(22, {{55, 2}});
  file(23, {{60, 3}, {60, 6}});      // claims 60..62 twice itself
  file(24, {{-1, 3}, {10, 4}});      // first run sparse: takes no part
  file(25, {{200, 4}});              // alone
  TFileInfo* folder = items.Add(26, "d", true, false);
  folder->Runs = {{10, 20}};
  slots[26] = folder;
  TFileInfo* resident = items.Add(27, "r", false, false);
  resident->Resident = true;
  resident->Runs = {{10, 1}};
  slots[27] = resident;
  slots[5] = items.Add(5, "files below 16 take no part", false, false);
  slots[5]->Runs = {{10, 100}};

  std::vector<TRecoverState> before;
  for (TFileInfo* s : slots) before.push_back(s ? static_cast<TRecoverState>(s->State) : rsGood);
  RateSharedByCounting(slots, 305);
  std::vector<std::int32_t> expected;
  for (TFileInfo* s : slots) expected.push_back(s ? s->State : -1);
  for (std::size_t i = 0; i < slots.size(); ++i)
    if (slots[i]) slots[i]->State = before[i];
  RateSharedClusters(slots, 305);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i]) {
      EXPECT_EQ(slots[i]->State, expected[i]) << "record " << i;
    }
  }
  // And what the counting says, spelled out.
  EXPECT_EQ(slots[16]->State, rsPoor);
  EXPECT_EQ(slots[17]->State, rsPoor);
  EXPECT_EQ(slots[19]->State, rsPoor);
  EXPECT_EQ(slots[20]->State, rsLost);
  EXPECT_EQ(slots[21]->State, rsVeryPoor);
  EXPECT_EQ(slots[23]->State, rsPoor);
  EXPECT_EQ(slots[24]->State, rsGood);
  EXPECT_EQ(slots[25]->State, rsGood);

  // Random layouts: both definitions give the same verdict everywhere.
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    Items many;
    std::vector<TFileInfo*> s(60, nullptr);
    for (std::size_t r = 16; r < s.size(); ++r) {
      TFileInfo* f = many.Add(static_cast<std::int64_t>(r), "x", false, false);
      std::int64_t vcn = 0;
      for (int k = 0, n = static_cast<int>(rng() % 3) + 1; k < n; ++k) {
        vcn += rng() % 8 + 1;
        f->Runs.push_back({rng() % 7 == 0 ? -1 : static_cast<std::int64_t>(rng() % 400), vcn});
      }
      s[r] = f;
    }
    std::vector<std::int32_t> want;
    RateSharedByCounting(s, 380);
    for (TFileInfo* f : s) want.push_back(f ? f->State : -1);
    for (TFileInfo* f : s) if (f) f->State = rsGood;
    RateSharedClusters(s, 380);
    for (std::size_t r = 0; r < s.size(); ++r) {
      if (s[r]) {
        ASSERT_EQ(s[r]->State, want[r]) << "round " << round << " record " << r;
      }
    }
  }
}

struct Tree {
  Tree() : Slots(60, nullptr) {
    Slots[5] = I.Add(5, ".", true, true, 5);
  }
  TFileInfo* Build(bool skipEmpty = true) {
    TNtfsTreeBuilder b(Slots, [this] { return I.New(); }, nullptr, skipEmpty);
    return b.BuildTree();
  }
  TFileInfo* Set(TFileInfo* item) {
    if (item->RecordNo < static_cast<std::int64_t>(Slots.size())) Slots[static_cast<std::size_t>(item->RecordNo)] = item;
    return item;
  }
  static std::vector<std::string> Names(const TFileInfo* f) {
    std::vector<std::string> out;
    if (f->Children)
      for (const TFileInfo* c : *f->Children) out.push_back(c->Name);
    return out;
  }
  Items I;
  std::vector<TFileInfo*> Slots;
};

TEST(NtfsTree, DeletedFilesHangUnderTheirFoldersUpToTheRoot) {
  Tree t;
  TFileInfo* docs = t.Set(t.I.Add(20, "Docs", true, true));
  TFileInfo* old = t.Set(t.I.Add(21, "Old", true, false, 20));
  t.Set(t.I.Add(22, "Unused", true, false));          // deleted folder, nothing deleted below
  t.Set(t.I.Add(23, "a.txt", false, false, 21));
  t.Set(t.I.Add(24, "b.txt", false, false, 20));
  t.Set(t.I.Add(25, "empty.txt", false, false, 20, 0));  // empty: not in the tree
  t.Set(t.I.Add(26, "live.txt", false, true, 20));
  TFileInfo* root = t.Build();
  ASSERT_EQ(root, t.Slots[5]);
  EXPECT_EQ(Tree::Names(root), (std::vector<std::string>{"Docs"}));
  EXPECT_EQ(Tree::Names(docs), (std::vector<std::string>{"Old", "b.txt"}));
  EXPECT_EQ(Tree::Names(old), (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(old->Parent, docs);
  EXPECT_EQ(docs->Parent, root);
}

TEST(NtfsTree, MissingParentsGetSharedPlaceholders) {
  Tree t;
  t.Set(t.I.Add(30, "was a folder, now a file.txt", false, true));
  t.Set(t.I.Add(31, "x.txt", false, false, 30));
  t.Set(t.I.Add(32, "y.txt", false, false, 30));
  t.Set(t.I.Add(33, "z.txt", false, false, 45));     // record 45 made no item
  t.Set(t.I.Add(34, "far.txt", false, false, 9999)); // past the slots
  t.Set(t.I.Add(35, "far2.txt", false, false, 9999));
  TFileInfo* nameless = t.Set(t.I.Add(36, "", true, true));
  t.Set(t.I.Add(37, "under nameless.txt", false, false, 36));
  TFileInfo* root = t.Build();
  EXPECT_EQ(Tree::Names(root),
            (std::vector<std::string>{"Directory30", "Directory45", "Directory9999", "Directory36"}));
  EXPECT_EQ(Tree::Names(t.Slots[30]), (std::vector<std::string>{"x.txt", "y.txt"}));
  EXPECT_EQ(t.Slots.size(), 60u);
  // The nameless folder's slot now holds the placeholder its child hangs under.
  ASSERT_NE(t.Slots[36], nullptr);
  EXPECT_NE(t.Slots[36], nameless);
  EXPECT_EQ(Tree::Names(t.Slots[36]), (std::vector<std::string>{"under nameless.txt"}));
  for (const TFileInfo* p : *root->Children) {
    EXPECT_TRUE(p->IsFolder);
    EXPECT_EQ(p->Parent, root);
    EXPECT_NE(p->CreationTime, 0u);
  }
}

TEST(NtfsTree, LoopingAndDeepParentChainsEnd) {
  Tree t;
  t.Set(t.I.Add(40, "A", true, false, 41));
  t.Set(t.I.Add(41, "B", true, false, 40));
  t.Set(t.I.Add(42, "Self", true, false, 42));
  t.Set(t.I.Add(43, "in A.txt", false, false, 40));
  t.Set(t.I.Add(44, "in Self.txt", false, false, 42));
  // A chain of folders as deep as the slots allow.
  Tree deep;
  deep.Slots.assign(200000, nullptr);
  deep.Slots[5] = deep.I.Add(5, ".", true, true, 5);
  for (std::int64_t r = 16; r < 199999; ++r) deep.Set(deep.I.Add(r, "d", true, true, r == 16 ? 5 : r - 1));
  deep.Set(deep.I.Add(199999, "bottom.txt", false, false, 199998));
  EXPECT_EQ(Tree::Names(deep.Build()), (std::vector<std::string>{"d"}));

  TFileInfo* root = t.Build();
  ASSERT_TRUE(root->Children);
  // Every file is reachable from the root.
  for (const char* name : {"in A.txt", "in Self.txt"}) {
    const TFileInfo* f = nullptr;
    for (TFileInfo* s : t.Slots)
      if (s && s->Name == name) f = s;
    ASSERT_NE(f, nullptr);
    int depth = 0;
    while (f && f != root && depth < 10) f = f->Parent, ++depth;
    EXPECT_EQ(f, root) << name;
  }
}

}  // namespace
}  // namespace restovo
