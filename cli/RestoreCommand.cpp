#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "Commands.h"
#include "recovery/Destination.h"
#include "Interrupt.h"
#include "recovery/RecoveryHelper.h"
#include "ResultPrinter.h"
#include "Source.h"
#include "recovery/Wildcard.h"

namespace restovo::cli {

namespace {

const char* const kRestoreUsage =
    "Usage: restovo-cli restore SOURCE --to DIR [--partition N] [--match PATTERN ...]\n"
    "                           [--path PREFIX] [--existing rename|skip|overwrite]\n"
    "  SOURCE            a disk image or a block device\n"
    "  --to DIR          the folder to write into (on another drive than SOURCE)\n"
    "  --partition N     the partition to use when SOURCE holds several volumes\n"
    "  --match PATTERN   only files whose name matches (* and ?), may be repeated\n"
    "  --path PREFIX     only what lies below this folder of the volume (\"DCIM/100CANON\")\n"
    "  --existing WHAT   when a file exists already: rename (keep both, the default),\n"
    "                    skip, or overwrite\n"
    "Exit codes: 0 all written, 1 bad arguments or unreadable source, 2 stopped,\n"
    "            3 some files could not be written (the reasons are listed).\n";

constexpr int exIncomplete = 3;

// The path below the volume root: "DCIM/100CANON/IMG_0001.JPG".
std::string RelativePath(const TFileInfo* item) {
  std::string path;
  for (const TFileInfo* p = item; p != nullptr && p->Parent != nullptr; p = p->Parent)
    path = p->Name + (path.empty() ? "" : "/" + path);
  return path;
}

bool UnderPrefix(const std::string& path, std::string prefix) {
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  while (!prefix.empty() && prefix.front() == '/') prefix.erase(0, 1);
  if (prefix.empty()) return true;
  return path == prefix || path.rfind(prefix + "/", 0) == 0;
}

bool RunScanToEnd(TRecoveryHelper& helper, TQueueBridge& bridge, int index, TInterruptGuard& interrupt,
                  bool& stopped, std::string& error) {
  bool finished = false;
  helper.OnScanDone = [&](TRecoveryHelper*) { finished = true; };
  helper.OnScanStopped = [&](TRecoveryHelper*) { finished = stopped = true; };
  helper.OnScanError = [&](TRecoveryHelper*, const std::string& m) { finished = true, error = m; };
  std::fprintf(stderr, "Scanning %s ...\n", helper.Disks[static_cast<std::size_t>(index)]->Name.c_str());
  helper.StartScan(index);
  bridge.WaitServing([&] { return finished || interrupt.Requested(); });
  if (!finished) helper.Stop();
  return error.empty() && !stopped;
}

}  // namespace

int RunRestore(const std::vector<std::string>& args) {
  std::string source, destination, prefix;
  std::vector<std::string> patterns;
  int partition = 0;
  std::uint8_t existing = eaKeepBoth;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--to" && hasValue) {
      destination = args[++i];
    } else if (a == "--match" && hasValue) {
      patterns.push_back(args[++i]);
    } else if (a == "--path" && hasValue) {
      prefix = args[++i];
    } else if (a == "--partition" && hasValue) {
      if (!ParsePartition("restore", args[++i], partition)) return exBadInput;
    } else if (a == "--existing" && hasValue) {
      const std::string& v = args[++i];
      if (v == "rename") existing = eaKeepBoth;
      else if (v == "skip") existing = eaSkip;
      else if (v == "overwrite") existing = eaOverwrite;
      else {
        std::fprintf(stderr, "restovo-cli restore: --existing takes rename, skip or overwrite\n");
        return exBadInput;
      }
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "restovo-cli restore: unknown option or missing value '%s'\n%s", a.c_str(),
                   kRestoreUsage);
      return exBadInput;
    } else if (source.empty()) {
      source = a;
    } else {
      std::fprintf(stderr, "restovo-cli restore: one SOURCE only\n%s", kRestoreUsage);
      return exBadInput;
    }
  }
  if (source.empty() || destination.empty()) {
    std::fputs(kRestoreUsage, stderr);
    return exBadInput;
  }

  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  const int index = SelectDrive(helper, source, partition);
  if (index < 0) return exBadInput;
  TDiskObject* disk = helper.Disks[static_cast<std::size_t>(index)].get();
  // Refused before the scan, so nobody waits for a scan only to hear this.
  if (const std::string why = CheckRestoreDestination(*disk, destination); !why.empty()) {
    std::fprintf(stderr, "restovo-cli: %s\n", why.c_str());
    return exBadInput;
  }

  TInterruptGuard interrupt;
  bool stopped = false;
  std::string error;
  if (!RunScanToEnd(helper, bridge, index, interrupt, stopped, error)) {
    if (!error.empty()) std::fprintf(stderr, "restovo-cli: %s: %s\n", disk->Name.c_str(), error.c_str());
    else std::fprintf(stderr, "restovo-cli: stopped during the scan; nothing was restored\n");
    return error.empty() ? exStopped : exBadInput;
  }

  // What is asked for: matching files, and the folders above them.
  const TDiskScaner* scaner = disk->Scaner.get();
  auto selection = std::make_shared<std::unordered_set<const TFileInfo*>>();
  const TNamePatterns wanted(patterns);
  std::int64_t wantedFiles = 0;
  for (const TFileInfo* item : CollectTree(scaner->RootItem)) {
    if (item->IsFolder) continue;
    if (!wanted.Matches(item->Name) || !UnderPrefix(RelativePath(item), prefix)) continue;
    ++wantedFiles;
    for (const TFileInfo* p = item; p != nullptr && selection->insert(p).second; p = p->Parent) {
    }
  }
  if (wantedFiles == 0) {
    std::fprintf(stderr, "restovo-cli: no deleted file matches; nothing to restore\n");
    return exDone;
  }
  TFileItems top;
  for (TFileInfo* child : scaner->RootItem->Children ? *scaner->RootItem->Children : TFileItems())
    if (selection->count(child)) top.push_back(child);

  const bool showProgress = ::isatty(STDERR_FILENO) != 0;
  std::atomic<int> percent{0};
  bool finished = false;
  bool restoreStopped = false;
  std::string restoreError;
  helper.OnFileExists = [existing](TRecoveryHelper*, std::uint8_t& answer, const std::string&, bool& all) {
    answer = existing;
    all = true;
  };
  helper.OnRestoreProgress = [&](TRecoveryHelper*, const std::string&, std::int32_t p) { percent = p; };
  helper.OnRestoreDone = [&](TRecoveryHelper*) { finished = true; };
  helper.OnRestoreStopped = [&](TRecoveryHelper*) { finished = restoreStopped = true; };
  helper.OnRestoreError = [&](TRecoveryHelper*, const std::string& m) { finished = true, restoreError = m; };
  std::fprintf(stderr, "Restoring %" PRId64 " file%s into %s ...\n", wantedFiles, wantedFiles == 1 ? "" : "s",
               destination.c_str());
  helper.Restore(top, destination, selection);
  int shown = -1;
  bridge.WaitServing([&] {
    if (showProgress && percent != shown) {
      shown = percent;
      std::fprintf(stderr, "\rRestoring %3d%%", shown);
      std::fflush(stderr);
    }
    return finished || interrupt.Requested();
  });
  if (!finished) helper.Stop();
  if (showProgress) std::fprintf(stderr, "\r\033[K");

  const TRestoreReport& report = helper.LastRestore;
  std::printf("%d file%s written (%s), %d skipped, %zu failed.\n", report.Written,
              report.Written == 1 ? "" : "s", FormatFileSize(report.Bytes).c_str(), report.Skipped,
              report.Failures.size());
  for (const TRestoreFailure& f : report.Failures)
    std::printf("  failed: %s\n          %s\n", f.Destination.c_str(), f.Reason.c_str());
  if (!restoreError.empty()) {
    std::fprintf(stderr, "restovo-cli: %s\n", restoreError.c_str());
    return exIncomplete;
  }
  if (restoreStopped) {
    std::fprintf(stderr, "restovo-cli: the restore was stopped; the files not listed above were not written\n");
    return exStopped;
  }
  return report.Failures.empty() ? exDone : exIncomplete;
}

}  // namespace restovo::cli
