// restovo-stop-latency [--deep] IMAGE DEST_DIR DELAY_MS...
//
// How long Stop takes to end a running scan and a running restore: for each delay, a scan
// of the image's first volume is started and stopped after that many milliseconds; then a
// full scan is made and a restore of everything it found into DEST_DIR is stopped the same
// way. With --deep the scans are deep scans, which keep what they found on a stop (as the
// window asks), and no restore is measured. One tab-separated line per measurement: kind
// ("scan", "deep-scan", "restore"), delay, latency in ms (or "done" when the work ended
// before the delay).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recovery/RecoveryHelper.h"
#include "recovery/ThreadBridge.h"

using namespace restovo;
using Clock = std::chrono::steady_clock;

namespace {

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct TRun {
  TQueueBridge Bridge;
  TRecoveryHelper Helper{&Bridge, false};
  bool Finished = false;
  std::string Error;

  TRun(const std::string& image, bool deep) {
    Helper.AddImage(image);
    // As the window does: a stopped quick scan's partial tree is not wanted there, a deep
    // scan's is.
    Helper.SetDeepScan(deep);
    Helper.SetKeepStoppedResults(deep);
    Helper.OnScanDone = [this](TRecoveryHelper*) { Finished = true; };
    Helper.OnScanStopped = [this](TRecoveryHelper*) { Finished = true; };
    Helper.OnScanError = [this](TRecoveryHelper*, const std::string& m) { Finished = true, Error = m; };
    Helper.OnRestoreDone = [this](TRecoveryHelper*) { Finished = true; };
    Helper.OnRestoreStopped = [this](TRecoveryHelper*) { Finished = true; };
    Helper.OnRestoreError = [this](TRecoveryHelper*, const std::string& m) { Finished = true, Error = m; };
    Helper.OnFileExists = [](TRecoveryHelper*, std::uint8_t& answer, const std::string&, bool& all) {
      answer = eaKeepBoth;
      all = true;
    };
  }

  // Waits up to delay for the running work; then stops it and returns how long Stop took,
  // or a negative value when the work had ended by itself.
  double StopAfter(int delayMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(delayMs);
    Bridge.WaitServing([&] { return Finished || Clock::now() >= until; }, std::chrono::milliseconds(1));
    if (Finished) return -1;
    const auto start = Clock::now();
    Helper.Stop();
    return Millis(Clock::now() - start);
  }
};

void Report(const char* kind, int delay, double latency) {
  if (latency < 0) std::printf("%s\t%d\tdone\n", kind, delay);
  else std::printf("%s\t%d\t%.1f\n", kind, delay, latency);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const bool deep = argc > 1 && std::string(argv[1]) == "--deep";
  const int first = deep ? 2 : 1;
  if (argc < first + 3) {
    std::fprintf(stderr, "usage: %s [--deep] IMAGE DEST_DIR DELAY_MS...\n", argv[0]);
    return 2;
  }
  const std::string image = argv[first];
  const std::string dest = argv[first + 1];
  std::vector<int> delays;
  for (int i = first + 2; i < argc; ++i) delays.push_back(std::atoi(argv[i]));

  for (int delay : delays) {
    TRun run(image, deep);
    if (run.Helper.Drives().empty()) {
      std::fprintf(stderr, "%s: no FAT or NTFS volume\n", image.c_str());
      return 1;
    }
    run.Helper.StartScan(0);
    Report(deep ? "deep-scan" : "scan", delay, run.StopAfter(delay));
  }
  if (deep) return 0;

  for (int delay : delays) {
    TRun run(image, false);
    run.Helper.StartScan(0);
    run.Bridge.WaitServing([&] { return run.Finished; });
    const TDiskScaner* scaner = run.Helper.Drives()[0]->Scaner.get();
    if (!scaner || !scaner->RootItem || !scaner->RootItem->Children) {
      std::fprintf(stderr, "%s: nothing found to restore\n", image.c_str());
      return 1;
    }
    std::filesystem::remove_all(dest);
    std::filesystem::create_directories(dest);
    run.Finished = false;
    run.Helper.Restore(*scaner->RootItem->Children, dest);
    Report("restore", delay, run.StopAfter(delay));
  }
  std::filesystem::remove_all(dest);
  return 0;
}
