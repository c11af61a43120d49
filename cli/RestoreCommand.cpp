#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Commands.h"
#include "recovery/Destination.h"
#include "Interrupt.h"
#include "recovery/RecoveryHelper.h"
#include "recovery/RestoreSelection.h"
#include "ResultPrinter.h"
#include "Source.h"
#include "recovery/Wildcard.h"

namespace restovo::cli {

namespace {

const char* const kRestoreUsage =
    "Usage: restovo-cli restore SOURCE --to DIR [--partition N] [--match PATTERN ...]\n"
    "                           [--path PREFIX] [--existing rename|skip|overwrite] [--deep]\n"
    "                           [--only-good]\n"
    "  SOURCE            a disk image or a block device\n"
    "  --to DIR          the folder to write into (on another drive than SOURCE)\n"
    "  --partition N     the partition to use when SOURCE holds several volumes\n"
    "  --match PATTERN   only files whose name matches (* and ?), may be repeated\n"
    "  --path PREFIX     only what lies below this folder of the volume (\"DCIM/100CANON\")\n"
    "  --existing WHAT   when a file exists already: rename (keep both, the default),\n"
    "                    skip, or overwrite\n"
    "  --deep            a deep scan: also read the free space for deleted folders the\n"
    "                    metadata lost, and for files known by their content\n"
    "  --only-good       only files whose verdict is Good\n"
    "Exit codes: 0 all written, 1 bad arguments or unreadable source, 2 stopped,\n"
    "            3 some files could not be written (the reasons are listed).\n";

constexpr int exIncomplete = 3;

}  // namespace

int RunRestore(const std::vector<std::string>& args) {
  std::string source, destination, prefix;
  std::vector<std::string> patterns;
  int partition = 0;
  std::uint8_t existing = eaKeepBoth;
  bool deep = false, onlyGood = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--deep") {
      deep = true;
    } else if (a == "--only-good") {
      onlyGood = true;
    } else if (a == "--to" && hasValue) {
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
  const TDiskObject* disk = helper.Drive(index);
  // Refused before the scan, so nobody waits for a scan only to hear this.
  if (const std::string why = CheckRestoreDestination(*disk, destination); !why.empty()) {
    std::fprintf(stderr, "restovo-cli: %s\n", why.c_str());
    return exBadInput;
  }

  helper.SetDeepScan(deep);
  TInterruptGuard interrupt;
  std::fprintf(stderr, "%s %s ...\n", deep ? "Deep scanning" : "Scanning", disk->Name.c_str());
  const TScanReport& scan = helper.ScanToEnd(index, [&] { return interrupt.Requested(); });
  if (!scan.Error.empty()) {
    std::fprintf(stderr, "restovo-cli: %s: %s\n", disk->Name.c_str(), scan.Error.c_str());
    return exBadInput;
  }
  if (scan.Stopped) {
    std::fprintf(stderr, "restovo-cli: stopped during the scan; nothing was restored\n");
    return exStopped;
  }

  // What is asked for: matching files, and the folders above them.
  const TRestoreSelection selection = SelectMatching(disk->Scaner->RootItem, TNamePatterns(patterns), prefix, onlyGood);
  const std::int64_t wantedFiles = selection.Files;
  if (wantedFiles == 0) {
    std::fprintf(stderr, "restovo-cli: no deleted file matches; nothing to restore\n");
    return exDone;
  }

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
  helper.Restore(selection.Top, destination, selection.Only);
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

  const TRestoreReport& report = helper.LastRestore();
  std::printf("%d file%s written (%s), %d skipped, %zu failed.\n", report.Written,
              report.Written == 1 ? "" : "s", FormatFileSize(report.Bytes).c_str(), report.Skipped,
              report.Failures.size());
  for (const TRestoreFailure& f : report.Failures)
    std::printf("  failed: %s\n          %s\n", f.Destination.c_str(), f.Reason.c_str());
  // Written as found, but their own bytes say they are not whole.
  if (report.ContentChecked > 0)
    std::printf("%d file%s checked by content, %zu not whole.\n", report.ContentChecked,
                report.ContentChecked == 1 ? "" : "s", report.ContentFailures.size());
  for (const TRestoreFailure& f : report.ContentFailures)
    std::printf("  not whole: %s\n          %s\n", f.Destination.c_str(), f.Reason.c_str());
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
