#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SECONDS FIXTURE_DIR [--max-len BYTES] [SEED_IMAGE ...]
# Runs a libFuzzer target for a fixed time from a fresh corpus seeded with the start of
# each seed image that exists (and of the partitions in it), with the inputs under
# seeds/FUZZER/ and with those under regressions/FUZZER/. Any crash, leak or sanitizer
# report fails; the input that caused it is kept in ./fuzz-artifacts/FUZZER/.
# --max-len: the longest input (default 131072). Seeds of images are cut at half of it,
# so mutations have room to grow, or at all of it when it was given: a target that reads
# a whole volume needs the folders and data behind the tables.
set -euo pipefail
fuzzer=$1 seconds=$2 fixtures=$3
shift 3
max_len=131072 seed_len=65536
if [[ ${1:-} == --max-len ]]; then
  max_len=$2 seed_len=$2
  shift 2
fi
corpus=$(mktemp -d)
# Where fuzz_restore writes what it restores: in memory when there is room, and removed
# here, since a target killed by a timeout or a crash cannot clean up after itself.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
export FUZZ_RESTORE_SCRATCH=$scratch
trap 'rm -rf "$corpus" "$scratch"' EXIT
for seed in "$@"; do
  if [[ -f "$fixtures/$seed" ]]; then
    head -c "$seed_len" "$fixtures/$seed" >"$corpus/$(basename "$seed")"
    # Past the table: the volume boot sectors of the partitions.
    for off in 1048576 116391936 158334976 200278016; do
      dd if="$fixtures/$seed" bs="$seed_len" count=1 iflag=skip_bytes skip=$off status=none \
        >"$corpus/$(basename "$seed").$off" 2>/dev/null || true
      [[ -s "$corpus/$(basename "$seed").$off" ]] || rm -f "$corpus/$(basename "$seed").$off"
    done
  fi
done
# Inputs made by real tools for targets that read no volume, and inputs that once broke
# the parser, start every run.
for dir in seeds regressions; do
  from="$(dirname "$0")/$dir/$(basename "$fuzzer")"
  if [[ -d $from ]]; then
    for f in "$from"/*; do
      # Whole volumes are kept packed: mostly zeros, and git is no place for megabytes.
      if [[ $f == *.xz ]]; then xz -dc "$f" >"$corpus/$dir-$(basename "$f" .xz)"
      else cp "$f" "$corpus/$dir-$(basename "$f")"; fi
    done
  fi
done
# Not exec'd, so the corpus (megabytes for the volume targets) goes away afterwards; what
# broke the target is kept beside the build for the person reading the report.
rc=0
# An input that takes half a minute hangs: stop there and keep it, rather than waiting
# for the test's own timeout, which keeps nothing.
"$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -print_final_stats=1 \
  -artifact_prefix="$corpus/" "$corpus" || rc=$?
if ((rc != 0)); then
  kept=$PWD/fuzz-artifacts/$(basename "$fuzzer")
  mkdir -p "$kept"
  for f in "$corpus"/crash-* "$corpus"/leak-* "$corpus"/timeout-* "$corpus"/oom-* "$corpus"/slow-unit-*; do
    [[ -e $f ]] && cp "$f" "$kept/" && echo "run-fuzzer: kept $kept/$(basename "$f")"
  done
fi
exit "$rc"
