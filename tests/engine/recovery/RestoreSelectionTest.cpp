#include "recovery/RestoreSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "recovery/RecycleBin.h"

namespace restovo {
namespace {

// A found tree built from paths: "DCIM/100/a.jpg" makes the folders on the way. A path
// ending in '/' is a folder; "+" before a name marks a live file.
class Tree {
 public:
  explicit Tree(std::initializer_list<const char*> paths) {
    Root.Name = "card.img";
    Root.IsFolder = true;
    for (std::string path : paths) {
      TFileInfo* parent = &Root;
      std::string done;
      for (std::size_t at = 0; at < path.size();) {
        const std::size_t slash = path.find('/', at);
        const bool folder = slash != std::string::npos;
        std::string name = path.substr(at, folder ? slash - at : std::string::npos);
        done += name + (folder ? "/" : "");
        at = folder ? slash + 1 : path.size();
        TFileInfo*& record = ByPath[done];
        if (!record) {
          Records.push_back(NewFileInfo());
          record = Records.back().get();
          record->InUse = name.starts_with("+");
          record->Name = record->InUse ? name.substr(1) : name;
          record->IsFolder = folder;
          record->Parent = parent;
          if (!parent->Children) parent->Children = std::make_unique<TFileItems>();
          parent->Children->push_back(record);
        }
        parent = record;
      }
    }
  }
  TFileInfo* operator[](const std::string& path) const { return ByPath.at(path); }
  std::vector<std::string> Paths(const TFileItems& items) const {
    std::vector<std::string> out;
    for (const TFileInfo* i : items) out.push_back(RelativePath(i));
    return out;
  }

  TFileInfo Root;

 private:
  std::vector<std::unique_ptr<TFileInfo>> Records;
  std::map<std::string, TFileInfo*> ByPath;
};

TEST(RestoreSelection, MatchingFilesBringTheirFoldersAndNothingElse) {
  const Tree t{"DCIM/100/a.jpg", "DCIM/100/b.txt", "DCIM/101/c.JPG", "DCIM/101/+live.jpg", "top.jpg",
               "docs/x.txt"};
  struct Case {
    std::vector<std::string> patterns;
    std::string prefix;
    std::int64_t files;
    std::vector<std::string> top;
  } cases[] = {
      {{"*.jpg"}, "", 3, {"DCIM", "top.jpg"}},  // the live file is not counted
      {{"*.jpg"}, "/DCIM/101/", 1, {"DCIM"}},
      {{}, "DCIM/100", 2, {"DCIM"}},
      {{"*.png"}, "", 0, {}},
      {{"*.txt"}, "DCI", 0, {}},  // a prefix is a folder, not the start of a name
  };
  for (const Case& c : cases) {
    const TRestoreSelection s = SelectMatching(&t.Root, TNamePatterns(c.patterns), c.prefix);
    SCOPED_TRACE(c.prefix);
    EXPECT_EQ(s.Files, c.files);
    EXPECT_EQ(t.Paths(s.Top), c.top);
  }
  const TRestoreSelection s = SelectMatching(&t.Root, TNamePatterns({"*.jpg"}), "DCIM/101");
  EXPECT_TRUE(s.Only->count(t["DCIM/"]) && s.Only->count(t["DCIM/101/"]) && s.Only->count(t["DCIM/101/c.JPG"]));
  EXPECT_FALSE(s.Only->count(t["DCIM/100/"]) || s.Only->count(t["DCIM/101/+live.jpg"]));
}

TEST(RestoreSelection, APickedFileBelowAPickedFolderIsWrittenOnce) {
  const Tree t{"DCIM/100/a.jpg", "DCIM/100/b.jpg", "DCIM/101/c.jpg", "top.jpg"};
  // The file ticked in "All Files" and its folder ticked in the tree, in either order.
  for (const TFileItems& picked : {TFileItems{t["DCIM/100/a.jpg"], t["DCIM/"], t["top.jpg"]},
                                   TFileItems{t["DCIM/"], t["DCIM/100/a.jpg"], t["top.jpg"], t["top.jpg"]}}) {
    const TRestoreSelection s = SelectPicked(picked);
    auto top = t.Paths(s.Top);
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"DCIM", "top.jpg"}));
    EXPECT_EQ(s.Files, 4);
    EXPECT_EQ(s.Only, nullptr);
  }
}

TEST(RecycleBin, RecycledFilesTakeTheNameOfTheRecordInTheirOwnFolder) {
  Tree t{"$RECYCLE.BIN/S-1/$IAB.jpg", "$RECYCLE.BIN/S-1/$RAB.jpg", "$RECYCLE.BIN/S-1/$RCD.txt",
               "$RECYCLE.BIN/S-1/$IEF.txt", "$RECYCLE.BIN/S-1/$REF.txt", "OTHER/$RAB.jpg", "$RAB.jpg",
               "$IAB.jpg"};
  std::map<const TFileInfo*, std::string> names = {
      {t["$RECYCLE.BIN/S-1/$IAB.jpg"], "cat.jpg"},
      {t["$RECYCLE.BIN/S-1/$IEF.txt"], ""},  // unreadable
      {t["$IAB.jpg"], "root.jpg"}};
  const auto read = [&](TFileInfo* record, std::vector<std::byte>& out) {
    const std::string& name = names.at(record);
    if (name.empty()) return false;
    // A version 1 record: the path from offset 24.
    out.assign(24 + 2 * (name.size() + 1), std::byte{0});
    for (std::size_t i = 0; i < name.size(); ++i) out[24 + 2 * i] = static_cast<std::byte>(name[i]);
    return true;
  };
  EXPECT_EQ(NameRecycledFiles(&t.Root, read), 1u);
  EXPECT_EQ(t["$RECYCLE.BIN/S-1/$RAB.jpg"]->Name, "cat.jpg");
  EXPECT_EQ(t["$RECYCLE.BIN/S-1/$RCD.txt"]->Name, "$RCD.txt");  // no record
  EXPECT_EQ(t["$RECYCLE.BIN/S-1/$REF.txt"]->Name, "$REF.txt");  // record unreadable
  EXPECT_EQ(t["OTHER/$RAB.jpg"]->Name, "$RAB.jpg");             // the record is another folder's
  EXPECT_EQ(t["$RAB.jpg"]->Name, "$RAB.jpg");                   // the root's own children keep theirs
}

}  // namespace
}  // namespace restovo
