#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SECONDS FIXTURE_DIR [SEED_IMAGE ...]
# Runs a libFuzzer target for a fixed time from a fresh corpus seeded with the first
# 64 KiB of each seed image that exists and with the inputs under regressions/FUZZER/.
# Any crash, leak or sanitizer report fails.
set -euo pipefail
fuzzer=$1 seconds=$2 fixtures=$3
shift 3
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for seed in "$@"; do
  if [[ -f "$fixtures/$seed" ]]; then
    head -c 65536 "$fixtures/$seed" >"$corpus/$(basename "$seed")"
    # Past the table: the volume boot sectors of the partitions.
    for off in 1048576 116391936 158334976 200278016; do
      dd if="$fixtures/$seed" bs=65536 count=1 iflag=skip_bytes skip=$off status=none \
        >"$corpus/$(basename "$seed").$off" 2>/dev/null || true
      [[ -s "$corpus/$(basename "$seed").$off" ]] || rm -f "$corpus/$(basename "$seed").$off"
    done
  fi
done
# Inputs that once broke the parser start every run.
regressions="$(dirname "$0")/regressions/$(basename "$fuzzer")"
if [[ -d $regressions ]]; then
  cp "$regressions"/* "$corpus"/
fi
exec "$fuzzer" -max_total_time="$seconds" -max_len=131072 -print_final_stats=1 \
  -artifact_prefix="$corpus/" "$corpus"
