#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Commands.h"
#include "Interrupt.h"
#include "recovery/RecoveryHelper.h"
#include "ResultPrinter.h"
#include "Source.h"
#include "recovery/TimeLeft.h"

namespace restovo::cli {

namespace {

const char* const kScanUsage =
    "Usage: restovo-cli scan SOURCE [--partition N] [--deep] [--json]\n"
    "  SOURCE          a disk image or a block device\n"
    "  --partition N   the partition to scan when SOURCE holds several volumes\n"
    "  --deep          also read the free space for deleted folders the metadata lost\n"
    "  --json          print the found items as JSON\n";

void DrawProgress(int percent, const std::string& volume, std::int64_t secondsLeft) {
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  std::string left;
  if (secondsLeft >= 60) left = "  about " + std::to_string((secondsLeft + 30) / 60) + " min left";
  else if (secondsLeft > 0) left = "  under a minute left";
  std::fprintf(stderr, "\rScanning %s [%s%s] %3d%%%s\033[K", volume.c_str(), std::string(filled, '#').c_str(),
               std::string(kWidth - filled, '.').c_str(), percent, left.c_str());
  std::fflush(stderr);
}

}  // namespace

int RunScan(const std::vector<std::string>& args) {
  std::string source;
  int partition = 0;
  bool json = false, deep = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      json = true;
    } else if (a == "--deep") {
      deep = true;
    } else if (a == "--partition" && i + 1 < args.size()) {
      if (!ParsePartition("scan", args[++i], partition)) return exBadInput;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "restovo-cli scan: unknown option '%s'\n%s", a.c_str(), kScanUsage);
      return exBadInput;
    } else if (source.empty()) {
      source = a;
    } else {
      std::fprintf(stderr, "restovo-cli scan: one SOURCE only\n%s", kScanUsage);
      return exBadInput;
    }
  }
  if (source.empty()) {
    std::fputs(kScanUsage, stderr);
    return exBadInput;
  }

  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  const int index = SelectDrive(helper, source, partition);
  if (index < 0) return exBadInput;
  const TDiskObject* disk = helper.Drive(index);
  helper.SetDeepScan(deep);

  const bool showProgress = ::isatty(STDERR_FILENO) != 0;
  std::atomic<int> percent{-1};
  helper.OnScanProgress = [&](TRecoveryHelper*, std::int64_t total, std::int64_t position) {
    if (total > 0) percent = static_cast<int>(std::clamp<std::int64_t>(position * 100 / total, 0, 100));
  };

  TInterruptGuard interrupt;
  int shown = -1;
  TTimeLeft timeLeft;
  timeLeft.Start(TTimeLeft::TClock::now());
  const TScanReport& report = helper.ScanToEnd(index, [&] {
    if (showProgress && percent > shown) {
      shown = percent;
      DrawProgress(shown, disk->Name, timeLeft.SecondsLeft(shown, 100, TTimeLeft::TClock::now()));
    }
    return interrupt.Requested();
  });
  if (showProgress && shown >= 0) std::fprintf(stderr, "\r\033[K");

  if (!report.Error.empty()) {
    std::fprintf(stderr, "restovo-cli: %s: %s\n", disk->Name.c_str(), report.Error.c_str());
    return exBadInput;
  }
  const TDiskScaner* scaner = disk->Scaner.get();
  const auto items = CollectTree(scaner ? scaner->RootItem : nullptr);
  TScanSummary summary{disk->Name, disk->FileSystem, report.Stopped};
  summary.FailedReads = report.FailedReads;
  summary.UnreadBytes = report.UnreadBytes;
  summary.MissingTail = report.MissingTail;
  summary.Deep = report.Deep;
  summary.DeepBytesRead = report.DeepBytesRead;
  summary.DeepSeconds = report.DeepSeconds;
  if (json) PrintJson(stdout, items, summary);
  else PrintTree(stdout, items, summary);
  if (report.Stopped) std::fprintf(stderr, "restovo-cli: the scan was stopped; the list above is partial\n");
  return report.Stopped ? exStopped : exDone;
}

}  // namespace restovo::cli
