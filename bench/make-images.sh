#!/usr/bin/env bash
# Builds the benchmark volumes in OUTDIR:
#   SIZE-fat32.img   mkfs.fat -F 32, filled with mtools only (no mount)
#   SIZE-ntfs.img    mkntfs, filled through ntfs-3g mounted with FUSE
# each with SIZE-FS.manifest.tsv (path, size, sha256, deleted: every file ever
# written, the sha256 of deleted files being their content when deleted) and
# SIZE-FS.deleted.tsv (path, data, entry, layout: what is left of each deleted
# file, found by reading the finished image back). bench/gen-tree.py decides
# the content and describes both files.
#
#   small  256 MiB volumes, about 5,000 files each
#   large  NTFS 8 GiB with about 300,000 files, FAT32 4 GiB with about 100,000
#
# Images whose stamp holds the hash of this script and gen-tree.py are kept, so
# a second call returns at once. Exits 77 when FUSE is not usable for the NTFS
# volume; the FAT32 one is still built.
set -euo pipefail

if [[ $# -ne 2 || ! $1 =~ ^(small|large)$ ]]; then
  echo "usage: $0 small|large OUTDIR" >&2
  exit 2
fi
size=$1
outdir=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The distribution interpreter: a version-manager shim costs time per call.
python=${PYTHON:-$(command -v /usr/bin/python3 || command -v python3)}

missing=()
for tool in mkfs.fat mcopy mdel mdeltree mshowfat fsck.fat mkntfs ntfs-3g ntfsfix fallocate "$python"; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "make-images: missing ${missing[*]}; run scripts/install-deps.sh" >&2
  exit 1
fi

export LC_ALL=C.UTF-8 TZ=UTC MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null
export SOURCE_DATE_EPOCH=1718444400

case $size in
  small) ntfs_bytes=256M fat_bytes=256M fat_sectors_per_cluster=4 ;;
  large) ntfs_bytes=8G fat_bytes=4G fat_sectors_per_cluster=8 ;;
esac

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
stamp=$(cat "$here/make-images.sh" "$here/gen-tree.py" | sha256sum | cut -d' ' -f1)
work=$(mktemp -d "$outdir/.make-images.XXXXXX")
mnt=$work/mnt
ntfs_pid=
staging=
child=

note() { echo "make-images: $*" >&2; }

# In the background and waited for, so that a signal reaches the traps at
# once instead of after the child has finished writing to the mount.
run() {
  "$@" &
  child=$!
  wait "$child"
  child=
}

unmount() {
  [[ -n $ntfs_pid ]] || return 0
  if mountpoint -q "$mnt"; then
    umount "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null || fusermount3 -u "$mnt" 2>/dev/null ||
      umount -l "$mnt" || true
  fi
  # ntfs-3g writes its last metadata after the unmount returns; the image is
  # complete only once it has exited.
  wait "$ntfs_pid" 2>/dev/null || true
  ntfs_pid=
}
cleanup() {
  if [[ -n $child ]]; then
    kill "$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  unmount
  [[ -z $staging ]] || rm -rf "$staging"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

up_to_date() {
  local name=$1 f
  for f in "$name.img" "$name.manifest.tsv" "$name.deleted.tsv" "$name.stamp"; do
    [[ -f $outdir/$f ]] || return 1
  done
  [[ $(cat "$outdir/$name.stamp") == "$stamp" ]]
}

# Moves the finished files into OUTDIR; the stamp comes last, so an
# interrupted build is never taken for a finished one.
publish() {
  local name=$1 f
  for f in "$name.img" "$name.manifest.tsv" "$name.deleted.tsv"; do
    mv "$work/$f" "$outdir/$f"
  done
  echo "$stamp" >"$outdir/$name.stamp"
}

report() {
  local name=$1 started=$2
  note "$name: built in $((SECONDS - started)) s," \
    "$(du -k --apparent-size "$outdir/$name.img" | cut -f1) KiB apparent," \
    "$(du -k "$outdir/$name.img" | cut -f1) KiB on disk"
}

build_fat32() {
  local name=$size-fat32 started=$SECONDS img
  if up_to_date "$name"; then
    note "$name: up to date"
    return 0
  fi
  rm -f "$outdir/$name.stamp"
  note "$name: building"
  img=$work/$name.img
  truncate -s "$fat_bytes" "$img"
  mkfs.fat -F 32 -s "$fat_sectors_per_cluster" -n BENCHFAT32 --invariant -i 32323232 "$img" >/dev/null
  # Staged in memory when there is room: the files are read back once by
  # mcopy and then thrown away.
  staging=$work/staging
  if [[ -d /dev/shm && -w /dev/shm ]] &&
    (($(df --output=avail -B1 /dev/shm | tail -1) > 2 * $(numfmt --from=iec "$fat_bytes"))); then
    staging=$(mktemp -d /dev/shm/restovo-bench.XXXXXX)
  fi
  run "$python" "$here/gen-tree.py" fat32 "$size" "$img" "$staging/tree" \
    "$work/$name.manifest.tsv" "$work/$name.notes"
  rm -rf "$staging"
  staging=
  if ! fsck.fat -n "$img" >"$work/fsck.log" 2>&1; then
    cat "$work/fsck.log" >&2
    note "$name: fsck.fat found errors"
    exit 1
  fi
  run "$python" "$here/gen-tree.py" check "$size" fat32 "$img" "$work/$name.manifest.tsv" \
    "$work/$name.deleted.tsv" "$work/$name.notes"
  fallocate --dig-holes "$img"
  publish "$name"
  report "$name" "$started"
}

fuse_unusable=

build_ntfs() {
  local name=$size-ntfs started=$SECONDS img
  if up_to_date "$name"; then
    note "$name: up to date"
    return 0
  fi
  if [[ ! -c /dev/fuse ]]; then
    fuse_unusable="/dev/fuse is missing, so ntfs-3g cannot mount the image"
    return 0
  fi
  rm -f "$outdir/$name.stamp"
  note "$name: building"
  img=$work/$name.img
  truncate -s "$ntfs_bytes" "$img"
  # It complains that a file has no disk geometry, which does not matter here.
  mkntfs -F -Q -q -L BENCHNTFS -c 4096 -s 512 "$img" >"$work/mkntfs.log" 2>&1 ||
    { cat "$work/mkntfs.log" >&2; exit 1; }
  mkdir -p "$mnt"
  # big_writes: without it every write reaches the driver in 4 KiB pieces,
  # which makes the volume several times slower to fill.
  ntfs-3g -o no_detach,big_writes "$img" "$mnt" >"$work/ntfs-3g.log" 2>&1 &
  ntfs_pid=$!
  for _ in $(seq 100); do
    mountpoint -q "$mnt" && break
    if ! kill -0 "$ntfs_pid" 2>/dev/null; then
      wait "$ntfs_pid" || true
      ntfs_pid=
      cat "$work/ntfs-3g.log" >&2
      if grep -qi -E 'fuse|permission|not permitted' "$work/ntfs-3g.log"; then
        fuse_unusable="ntfs-3g could not mount through FUSE (see the messages above)"
        return 0
      fi
      note "$name: ntfs-3g failed to mount the image"
      exit 1
    fi
    sleep 0.1
  done
  mountpoint -q "$mnt" || { note "$name: the mount did not appear"; exit 1; }
  run "$python" "$here/gen-tree.py" ntfs "$size" "$mnt" "$work/$name.manifest.tsv"
  unmount
  if ! ntfsfix -n "$img" >"$work/ntfsfix.log" 2>&1; then
    cat "$work/ntfsfix.log" >&2
    note "$name: ntfsfix -n reports a problem"
    exit 1
  fi
  # The filler's zeros went to disk; they read the same as holes.
  fallocate --dig-holes "$img"
  run "$python" "$here/gen-tree.py" check "$size" ntfs "$img" "$work/$name.manifest.tsv" \
    "$work/$name.deleted.tsv"
  publish "$name"
  report "$name" "$started"
}

build_fat32
build_ntfs

if [[ -n $fuse_unusable ]]; then
  note "SKIPPED $size-ntfs: $fuse_unusable (run where FUSE is available, e.g. a container started with --device /dev/fuse)"
  exit 77
fi
note "$size: done in $SECONDS s"
