#include "recovery/RecoveryHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>

#include "FatTestVolume.h"
#include "TestSupport.h"

namespace restovo {
namespace {

using namespace std::chrono_literals;

// Memory bytes read with a delay per read, so a scan lasts long enough to be stopped.
class SlowDevice final : public TVolumeDevice {
 public:
  explicit SlowDevice(std::vector<std::byte> bytes) : Inner(MakeMemoryDevice(std::move(bytes))) {}
  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs.load()));
    return Inner->ReadAt(buffer, count, offset);
  }
  std::uint64_t Size() const override { return Inner->Size(); }
  std::atomic<int> DelayMs{0};

 private:
  std::shared_ptr<TVolumeDevice> Inner;
};

// A FAT32 volume with `folders` live folders in the root, each holding one deleted file.
std::vector<std::byte> ManyFolders(int folders) {
  FatTestVolume v("-F 32", 40000);
  for (int i = 0; i < folders; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "DIR%05d   ", i % 100000);
    const auto cluster = static_cast<std::uint32_t>(100 + 2 * i);
    v.Entry(v.RootOffset() + 32u * static_cast<unsigned>(i), name, 0x10, cluster, 0);
    v.Chain({cluster});
    v.Entry(v.ClusterOffset(cluster), "XFILE   TXT", 0x20, cluster + 1, 10, true);
  }
  // The root needs enough clusters for its entries.
  const std::uint32_t root = v.U32(44);
  const std::uint32_t perCluster = v.ClusterSize() / 32;
  const std::uint32_t clusters = (static_cast<std::uint32_t>(folders) + perCluster - 1) / perCluster;
  std::vector<std::uint32_t> chain{root};
  for (std::uint32_t k = 1; k < clusters; ++k) chain.push_back(root + k);
  for (std::size_t k = 0; k < chain.size(); ++k)
    v.SetFat(chain[k], k + 1 < chain.size() ? chain[k + 1] : 0x0FFFFFFF);
  return v.Bytes;
}

TDriveCandidate MemoryDrive(std::shared_ptr<TVolumeDevice> device, const std::string& name) {
  TDriveCandidate c;
  c.Location.Memory = std::move(device);
  c.Name = name;
  c.Root = name + "/";
  c.Offered = true;
  return c;
}

// Records every event with the thread it ran on.
struct EventLog {
  explicit EventLog(TRecoveryHelper& h) {
    h.OnScanStart = [this](TRecoveryHelper*) { Add("start"); };
    h.OnScanDone = [this](TRecoveryHelper*) { Add("done"); };
    h.OnScanStopped = [this](TRecoveryHelper*) { Add("stopped"); };
    h.OnScanError = [this](TRecoveryHelper*, const std::string& m) { Add("error:" + m); };
    h.OnScanProgress = [this](TRecoveryHelper*, std::int64_t total, std::int64_t position) {
      std::lock_guard lock(Lock);
      ASSERT_GT(total, 0);
      Percents.push_back(position * 100 / total);
    };
  }
  void Add(const std::string& e) {
    std::lock_guard lock(Lock);
    Events.push_back(e);
    OffMain |= std::this_thread::get_id() != Main;
  }
  std::vector<std::string> Snapshot() {
    std::lock_guard lock(Lock);
    return Events;
  }
  std::size_t ProgressCount() {
    std::lock_guard lock(Lock);
    return Percents.size();
  }
  std::mutex Lock;
  std::vector<std::string> Events;
  std::vector<std::int64_t> Percents;
  bool OffMain = false;
  std::thread::id Main = std::this_thread::get_id();
};

bool Ended(const std::vector<std::string>& events) {
  for (const auto& e : events)
    if (e == "done" || e == "stopped" || e.rfind("error:", 0) == 0) return true;
  return false;
}

TEST(RecoveryHelper, OutOfRangeIndexesChangeNothing) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(ManyFolders(1)), "a"));
  helper.StartScan(-1);
  helper.StartScan(1);
  EXPECT_TRUE(log.Events.empty());
  EXPECT_EQ(helper.GetStatus(), stIdle);
  EXPECT_EQ(helper.CurrentDisk(), nullptr);
  // Stop while idle only raises the flag.
  helper.Stop();
  EXPECT_TRUE(helper.IsStopRequested());
  EXPECT_TRUE(log.Events.empty());
  EXPECT_EQ(helper.GetStatus(), stIdle);
}

TEST(RecoveryHelper, ThreadedScanReportsOnTheMainThread) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(ManyFolders(40)), "a"));
  helper.StartScan(0);
  bridge.WaitServing([&] { return Ended(log.Snapshot()); });
  EXPECT_EQ(log.Events, (std::vector<std::string>{"start", "done"}));
  EXPECT_FALSE(log.OffMain);
  EXPECT_EQ(helper.GetStatus(), stDone);
  EXPECT_EQ(helper.CurrentDisk()->Scaner->Items.size(), 40u);
  // Progress runs on the worker, never backwards, inside 0..100.
  ASSERT_FALSE(log.Percents.empty());
  EXPECT_TRUE(std::is_sorted(log.Percents.begin(), log.Percents.end()));
  EXPECT_GE(log.Percents.front(), 0);
  EXPECT_LE(log.Percents.back(), 100);
}

TEST(RecoveryHelper, UnthreadedScanRunsInTheCaller) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  helper.SetThreaded(false);
  EventLog log(helper);
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(ManyFolders(3)), "a"));
  helper.StartScan(0);
  EXPECT_EQ(log.Events, (std::vector<std::string>{"start", "done"}));
  EXPECT_FALSE(helper.WorkerRunning());
  EXPECT_EQ(helper.CurrentDisk()->Scaner->Items.size(), 3u);
}

// Starts a scan of 300 folders at 10 ms a read: three seconds and more if nothing stops it.
void StartSlowScan(TRecoveryHelper& helper) {
  auto device = std::make_shared<SlowDevice>(ManyFolders(300));
  helper.AddDrive(MemoryDrive(device, "slow"));
  device->DelayMs = 10;
  helper.StartScan(0);
}

TEST(RecoveryHelper, StopEndsARunningScanWithoutDone) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  StartSlowScan(helper);
  bridge.WaitServing([&] { return !log.Snapshot().empty() && log.ProgressCount() > 0; });
  const auto stopAt = std::chrono::steady_clock::now();
  helper.Stop();
  const auto took = std::chrono::steady_clock::now() - stopAt;
  EXPECT_LT(took, 2s) << "Stop waited for the whole scan";
  const auto events = log.Snapshot();
  EXPECT_EQ(events.front(), "start");
  EXPECT_EQ(std::count(events.begin(), events.end(), "done"), 0);
  EXPECT_GE(std::count(events.begin(), events.end(), "stopped"), 1);
  EXPECT_EQ(helper.GetStatus(), stStopped);
  EXPECT_FALSE(helper.WorkerRunning());
  // What was found before the stop stays readable.
  EXPECT_LT(helper.CurrentDisk()->Scaner->Items.size(), 300u);
}

TEST(RecoveryHelper, StopRightAfterStartEndsTheScanBeforeItRuns) {
  // The window closes just after "Search": the worker has not said it started, so the
  // status still reads as before. Stop must still end it, at once.
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  StartSlowScan(helper);
  const auto stopAt = std::chrono::steady_clock::now();
  helper.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 1s);
  const auto events = log.Snapshot();
  EXPECT_EQ(std::count(events.begin(), events.end(), "done"), 0);
  EXPECT_GE(std::count(events.begin(), events.end(), "stopped"), 1);
  EXPECT_EQ(helper.GetStatus(), stStopped);
  EXPECT_FALSE(helper.WorkerRunning());
}

TEST(RecoveryHelper, ScansStartedAndStoppedOverAndOverEndEachTimeAndTheLastRunsToTheEnd) {
  // The window's "Search" and "Stop" pressed in turn, at every moment of a scan: each
  // start frees the records of the one before while its worker may still be ending.
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  auto slow = std::make_shared<SlowDevice>(ManyFolders(60));
  helper.AddDrive(MemoryDrive(slow, "slow"));
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(ManyFolders(5)), "quick"));
  slow->DelayMs = 1;
  for (int round = 0; round < 12; ++round) {
    helper.StartScan(round % 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
    helper.Stop();
    EXPECT_FALSE(helper.WorkerRunning()) << round;
    const TRecoveryStatus status = helper.GetStatus();
    EXPECT_TRUE(status == stStopped || status == stDone) << round;
  }
  const std::size_t ends = static_cast<std::size_t>(std::count_if(
      log.Events.begin(), log.Events.end(), [](const std::string& e) { return e == "done" || e == "stopped"; }));
  EXPECT_EQ(ends, 12u) << "each scan ends once";
  slow->DelayMs = 0;
  const TScanReport& report = helper.ScanToEnd(0);
  EXPECT_FALSE(report.Stopped);
  EXPECT_TRUE(report.Error.empty());
  EXPECT_EQ(report.Volume, "slow");
  EXPECT_EQ(report.Found, 60u);
  EXPECT_EQ(helper.CurrentDisk()->Scaner->Items.size(), 60u);
}

TEST(RecoveryHelper, ScanToEndStopsWhenInterruptedAndSaysSo) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  auto slow = std::make_shared<SlowDevice>(ManyFolders(300));
  helper.AddDrive(MemoryDrive(slow, "slow"));
  slow->DelayMs = 10;
  const auto started = std::chrono::steady_clock::now();
  const TScanReport& report =
      helper.ScanToEnd(0, [&] { return std::chrono::steady_clock::now() - started > 200ms; });
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_TRUE(report.Stopped);
  EXPECT_LT(report.Found, 300u);
  EXPECT_FALSE(helper.WorkerRunning());
}

TEST(RecoveryHelper, ThreadedRestoresReportOnceWhetherTheyEndOrAreStopped) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(ManyFolders(5)), "quick"));
  ASSERT_FALSE(helper.ScanToEnd(0).Stopped);
  const TFileItems top = *helper.CurrentDisk()->Scaner->RootItem->Children;
  std::vector<std::string> ends;
  std::atomic<int> progress{0};
  helper.OnRestoreDone = [&](TRecoveryHelper*) { ends.push_back("done"); };
  helper.OnRestoreStopped = [&](TRecoveryHelper*) { ends.push_back("stopped"); };
  helper.OnRestoreError = [&](TRecoveryHelper*, const std::string& m) { ends.push_back(m); };
  helper.OnRestoreProgress = [&](TRecoveryHelper*, const std::string&, std::int32_t) { ++progress; };
  TempDir out;
  helper.Restore(top, out.Path() + "/all");
  bridge.WaitServing([&] { return !ends.empty(); });
  EXPECT_EQ(ends, std::vector<std::string>{"done"});
  EXPECT_EQ(helper.LastRestore().Written, 5);
  EXPECT_GT(progress.load(), 0);
  ends.clear();
  helper.Restore(top, out.Path() + "/stopped");
  helper.Stop();
  EXPECT_FALSE(helper.WorkerRunning());
  bridge.WaitServing([&] { return !ends.empty(); }, std::chrono::milliseconds(5));
  EXPECT_EQ(ends.size(), 1u);
  EXPECT_LE(helper.LastRestore().Written, 5);
}

// ManyFolders(folders) and a deleted folder no entry points at any more, holding one
// deleted file: only a deep scan finds it.
std::vector<std::byte> WithLostFolder(int folders) {
  FatTestVolume v("-F 32", 40000);
  v.Bytes = ManyFolders(folders);
  const std::uint32_t lost = 9000;
  v.Entry(v.ClusterOffset(lost), ".          ", 0x10, lost, 0);
  v.Entry(v.ClusterOffset(lost) + 32, "..         ", 0x10, 0, 0);
  v.Entry(v.ClusterOffset(lost) + 64, "LOSTFILEJPG", 0x20, lost + 1, 100, true);
  return v.Bytes;
}

TEST(RecoveryHelper, ADeepScanListsTheQuickResultsFirstAndHandsOverItsOwnWhenItEnds) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  std::size_t earlyItems = 0;
  bool shownThen = false;
  bool adopted = false;
  helper.OnScanEarlyResults = [&](TRecoveryHelper* h) {
    log.Add("early");
    earlyItems = h->CurrentDisk()->Scaner->Items.size();
    shownThen = h->EarlyResultsShown();
  };
  helper.OnScanDone = [&](TRecoveryHelper* h) {
    log.Add("done");
    // Until taken, the drive's records are still the quick scan's.
    if (h->EarlyResults()) {
      EXPECT_EQ(h->CurrentDisk()->Scaner->Items.size(), earlyItems);
    }
    EXPECT_FALSE(h->EarlyResultsShown());
    adopted = h->AdoptScanResults();
  };
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(WithLostFolder(3)), "a"));
  helper.SetDeepScan(true);
  helper.SetEarlyResults(true);
  helper.StartScan(0);
  bridge.WaitServing([&] { return Ended(log.Snapshot()) && !helper.WorkerRunning(); });
  EXPECT_EQ(log.Events, (std::vector<std::string>{"start", "early", "done"}));
  EXPECT_FALSE(log.OffMain);
  EXPECT_EQ(earlyItems, 3u);
  EXPECT_TRUE(shownThen);
  EXPECT_TRUE(adopted);
  EXPECT_EQ(helper.CurrentDisk()->Scaner->Items.size(), 4u);
  EXPECT_EQ(helper.ScanReport().Found, 4u);
  EXPECT_TRUE(helper.ScanReport().Deep);
  EXPECT_FALSE(helper.AdoptScanResults()) << "taken once";

  // Without early results a deep scan's records are the drive's as it ends.
  log.Events.clear();
  helper.SetEarlyResults(false);
  helper.StartScan(0);
  bridge.WaitServing([&] { return Ended(log.Snapshot()) && !helper.WorkerRunning(); });
  EXPECT_EQ(log.Events, (std::vector<std::string>{"start", "done"}));
  EXPECT_FALSE(adopted);
  EXPECT_EQ(helper.CurrentDisk()->Scaner->Items.size(), 4u);
}

TEST(RecoveryHelper, ADeepScanStoppedAfterItsQuickResultsKeepsBoth) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  auto device = std::make_shared<SlowDevice>(WithLostFolder(3));
  bool early = false;
  helper.OnScanEarlyResults = [&](TRecoveryHelper*) {
    early = true;
    device->DelayMs = 100;  // the free space is read slowly from now on
  };
  helper.AddDrive(MemoryDrive(device, "slow"));
  helper.SetDeepScan(true);
  helper.SetEarlyResults(true);
  helper.StartScan(0);
  bridge.WaitServing([&] { return early; });
  // Looked at while the pass runs: the quick records stay as they are.
  EXPECT_TRUE(helper.EarlyResultsShown());
  EXPECT_EQ(helper.CurrentDisk()->Scaner->Items.size(), 3u);
  const auto stopAt = std::chrono::steady_clock::now();
  helper.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 2s);
  const auto events = log.Snapshot();
  EXPECT_EQ(std::count(events.begin(), events.end(), "stopped"), 1);
  EXPECT_TRUE(helper.ScanReport().Stopped);
  // What the deep scan had found when stopped is there to take, with the live files.
  ASSERT_TRUE(helper.AdoptScanResults());
  EXPECT_GE(helper.CurrentDisk()->Scaner->Items.size(), 3u);
  EXPECT_LT(helper.ScanReport().DeepBytesRead, helper.ScanReport().DeepBytesToRead);
}

TEST(RecoveryHelper, ADeepScanThatFailsAfterItsQuickResultsLeavesThemTheDrives) {
  // The card gives out once the quick scan is done: the deep scan cannot read the boot
  // sector, and says so; what the quick scan found stays.
  class FailingLater final : public TVolumeDevice {
   public:
    explicit FailingLater(std::vector<std::byte> bytes) : Inner(MakeMemoryDevice(std::move(bytes))) {}
    std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) override {
      ++Reads;
      if (Reads > FailAfter) return -1;
      return Inner->ReadAt(buffer, count, offset);
    }
    std::uint64_t Size() const override { return Inner->Size(); }
    std::atomic<long> Reads{0};
    long FailAfter = LONG_MAX;

   private:
    std::shared_ptr<TVolumeDevice> Inner;
  };
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  helper.OnScanEarlyResults = [&](TRecoveryHelper*) { log.Add("early"); };
  // A quick scan of the card first, to count the reads that take.
  auto device = std::make_shared<FailingLater>(WithLostFolder(3));
  helper.AddDrive(MemoryDrive(device, "card"));
  ASSERT_EQ(helper.ScanToEnd(0).Found, 3u);
  device->FailAfter = device->Reads.load();
  device->Reads = 0;
  log.Events.clear();
  helper.SetDeepScan(true);
  helper.SetEarlyResults(true);
  helper.StartScan(0);
  bridge.WaitServing([&] { return Ended(log.Snapshot()) && !helper.WorkerRunning(); });
  const auto events = log.Snapshot();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1], "early");
  EXPECT_EQ(events[2].rfind("error:", 0), 0u) << events[2];
  EXPECT_FALSE(helper.AdoptScanResults());
  ASSERT_NE(helper.CurrentDisk()->Scaner, nullptr);
  EXPECT_EQ(helper.CurrentDisk()->Scaner->Items.size(), 3u);
}

TEST(RecoveryHelper, ANewScanFreesThePreviousScanersRecords) {
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(ManyFolders(2)), "a"));
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(ManyFolders(3)), "b"));
  helper.StartScan(0);
  bridge.WaitServing([&] { return Ended(log.Snapshot()); });
  ASSERT_NE(helper.Drives()[0]->Scaner, nullptr);
  log.Events.clear();
  helper.StartScan(1);
  EXPECT_EQ(helper.Drives()[0]->Scaner, nullptr);
  bridge.WaitServing([&] { return Ended(log.Snapshot()); });
  EXPECT_EQ(helper.Drives()[1]->Scaner->Items.size(), 3u);
}

TEST(RecoveryHelper, DrivesThatAreGoneOrCannotBeReadSayWhy) {
  TempDir dir;
  const std::string image = dir.Path() + "/card.img";
  {
    std::ofstream out(image, std::ios::binary);
    const auto bytes = ManyFolders(1);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  EventLog log(helper);
  ASSERT_EQ(helper.AddImage(image).size(), 1u);
  ASSERT_EQ(helper.AddImage(image).size(), 1u);
  EXPECT_EQ(helper.Drives().size(), 1u);  // the same volume is listed once

  std::filesystem::remove(image);
  helper.StartScan(0);
  EXPECT_EQ(log.Events, (std::vector<std::string>{"error:Invalid disk partition."}));
  EXPECT_FALSE(helper.WorkerRunning());
  EXPECT_EQ(helper.GetStatus(), stStopped);

  // A volume of an unknown file system.
  log.Events.clear();
  helper.AddDrive(MemoryDrive(MakeMemoryDevice(std::vector<std::byte>(65536)), "zeros"));
  helper.StartScan(1);
  bridge.WaitServing([&] { return Ended(log.Snapshot()); });
  EXPECT_EQ(log.Events, (std::vector<std::string>{"start", "error:Can not get disk information."}));

  // A source that exists but cannot be opened as a volume.
  log.Events.clear();
  TDriveCandidate folder;
  folder.Location.Source = dir.Path();
  folder.Name = "folder";
  folder.Root = "folder/";
  helper.AddDrive(folder);
  helper.Drives()[2]->FsKind = fkFat32;  // as if it had been a FAT volume when listed
  helper.StartScan(2);
  bridge.WaitServing([&] { return Ended(log.Snapshot()); });
  ASSERT_EQ(log.Events.size(), 2u);
  EXPECT_EQ(log.Events[1], "error:The volume can not be read: Is a directory.");
}

TEST(RecoveryHelper, SameImageNameTwiceGetsTwoRoots) {
  TempDir a, b;
  for (const TempDir* d : {&a, &b}) {
    std::ofstream out(d->Path() + "/card.img", std::ios::binary);
    const auto bytes = ManyFolders(1);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  helper.AddImage(a.Path() + "/card.img");
  helper.AddImage(b.Path() + "/card.img");
  ASSERT_EQ(helper.Drives().size(), 2u);
  EXPECT_EQ(helper.Drives()[0]->Root, "card.img/");
  EXPECT_EQ(helper.Drives()[1]->Root, "card.img (2)/");
  // Each drive opens its own image.
  EXPECT_EQ(helper.Drives()[1]->Location.Source, b.Path() + "/card.img");
  std::filesystem::remove(a.Path() + "/card.img");
  const auto scaner = CreateScaner(helper.Drives()[1].get());
  ASSERT_NE(scaner, nullptr);
  EXPECT_TRUE(scaner->Volume.IsValid());
}

}  // namespace
}  // namespace restovo
