#!/usr/bin/env bash
# make-seeds.sh [SEEDDIR]
# Writes seeds made by the real tools into SEEDDIR (default: seeds/ beside this script),
# one folder per fuzz target, from one small NTFS volume (2 MiB, 1 KiB clusters) that
# mkntfs makes and ntfs-3g fills through FUSE:
#   fuzz_lznt1/    real compression units: a compressed folder gets text, log lines, one
#                  repeated letter and random bytes followed by zeros; after the unmount
#                  the allocated clusters of each compressed unit are copied out of the
#                  image, joined in VCN order, which is exactly what the engine hands to
#                  the decompressor. A unit is 16 KiB, so every seed stays a few KiB.
#   fuzz_restore/  the whole volume, xz-compressed (run-fuzzer.sh unpacks it): unlike
#                  the fixture volumes it holds the data of its deleted files (plain,
#                  compressed, sparse, resident, in a deleted folder, a named stream)
#                  within the first 2 MiB a fuzz input may have.
# Needs root (or fusermount), /dev/fuse, mkntfs, ntfs-3g, setfattr, xz and python3; the
# seeds are committed, so this only runs again when they should change.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
seeddir=${1:-$here/seeds}
outdir=$seeddir/fuzz_lznt1
python=${PYTHON:-$(command -v /usr/bin/python3 || command -v python3)}
for tool in mkntfs ntfs-3g setfattr getfattr xz "$python"; do
  command -v "$tool" >/dev/null || { echo "$0: missing $tool; run scripts/install-deps.sh" >&2; exit 1; }
done
[[ -c /dev/fuse ]] || { echo "$0: /dev/fuse is missing" >&2; exit 1; }

export LC_ALL=C.UTF-8 TZ=UTC
work=$(mktemp -d)
img=$work/ntfs-small.img
mnt=$work/mnt
ntfs_pid=
cleanup() {
  if [[ -n $ntfs_pid ]]; then
    mountpoint -q "$mnt" && { umount "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null || umount -l "$mnt"; }
    wait "$ntfs_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 2M "$img"
mkntfs -F -Q -q -c 1024 -s 512 "$img" >"$work/mkntfs.log" 2>&1 || { cat "$work/mkntfs.log" >&2; exit 1; }
mkdir "$mnt"
ntfs-3g -o no_detach,compression,streams_interface=windows "$img" "$mnt" >"$work/ntfs-3g.log" 2>&1 &
ntfs_pid=$!
for _ in $(seq 100); do
  mountpoint -q "$mnt" && break
  kill -0 "$ntfs_pid" 2>/dev/null || { cat "$work/ntfs-3g.log" >&2; exit 1; }
  sleep 0.1
done
mountpoint -q "$mnt" || { echo "$0: the volume did not mount" >&2; exit 1; }

mkdir "$mnt/c"
setfattr -h -v 0x00000800 -n system.ntfs_attrib_be "$mnt/c"
# Deterministic contents, so running this again gives the same seeds.
"$python" - "$mnt" "$here/../../README.md" <<'EOF'
import os, random, sys
root, readme = sys.argv[1], sys.argv[2]
out = f"{root}/c"
with open(readme, "rb") as f:
    text = f.read()
open(f"{out}/text", "wb").write((text * 3)[:32768])
lines = "".join(f"2024-07-01 10:{i // 60 % 60:02}:{i % 60:02} INFO block {i * 37 % 1000} written, {i % 7} retries\n"
                for i in range(600))
open(f"{out}/log", "wb").write(lines.encode()[:32768])
open(f"{out}/letter", "wb").write(b"A" * 16384)
rnd = random.Random(20240701)
open(f"{out}/random", "wb").write(rnd.randbytes(6000) + bytes(10384))
# For the restore: files of every kind of storage, most of them deleted below.
open(f"{root}/plain.txt", "wb").write(text[:9000])
open(f"{root}/small.txt", "wb").write(b"Resident: the data lives in the MFT record.\n")
with open(f"{root}/sparse.bin", "wb") as f:
    f.write(rnd.randbytes(2048))
    f.seek(40960)
    f.write(rnd.randbytes(1024))
open(f"{root}/host.txt", "wb").write(text[9000:12000])
open(f"{root}/host.txt:notes", "wb").write(text[:3000])
os.makedirs(f"{root}/Old Folder/Inner")
open(f"{root}/Old Folder/report.txt", "wb").write(text[:5000])
open(f"{root}/Old Folder/Inner/übersicht.txt", "wb").write(text[5000:5600])
open(f"{root}/kept.txt", "wb").write(text[:2000])
EOF
for f in text log letter random; do
  attrib=$(getfattr -h --absolute-names --only-values -n system.ntfs_attrib_be "$mnt/c/$f" | od -An -tx1 | tr -d ' \n')
  (((16#$attrib & 0x800) != 0)) || { echo "$0: $f was not stored compressed" >&2; exit 1; }
done
# Every file but kept.txt and two compressed ones is deleted; ntfs-3g leaves their
# records and clusters as they were.
rm -r "$mnt/c/log" "$mnt/c/random" "$mnt/plain.txt" "$mnt/small.txt" "$mnt/sparse.bin" \
  "$mnt/host.txt" "$mnt/Old Folder"
umount "$mnt" 2>/dev/null || fusermount -u "$mnt"
# ntfs-3g writes the last metadata after the unmount returns.
wait "$ntfs_pid" || true
ntfs_pid=

mkdir -p "$outdir"
"$python" - "$img" "$outdir" text log letter random <<'EOF'
import struct, sys

img_path, outdir, names = sys.argv[1], sys.argv[2], sys.argv[3:]
img = open(img_path, "rb").read()
sector = struct.unpack_from("<H", img, 0x0B)[0]
cluster = sector * img[0x0D]
mft_lcn = struct.unpack_from("<Q", img, 0x30)[0]
cpr = struct.unpack_from("<b", img, 0x40)[0]
record_size = cpr * cluster if cpr > 0 else 1 << -cpr

def fixed(raw):
    if raw[:4] != b"FILE":
        return None
    rec = bytearray(raw)
    usa_ofs, usa_count = struct.unpack_from("<HH", rec, 4)
    for i in range(1, usa_count):
        end = i * sector - 2
        if rec[end:end + 2] != rec[usa_ofs:usa_ofs + 2]:
            return None
        rec[end:end + 2] = rec[usa_ofs + 2 * i:usa_ofs + 2 * i + 2]
    return bytes(rec)

def attributes(rec):
    at = struct.unpack_from("<H", rec, 0x14)[0]
    while at + 8 <= len(rec):
        kind, length = struct.unpack_from("<II", rec, at)
        if kind == 0xFFFFFFFF or length == 0:
            return
        yield kind, rec[at:at + length]
        at += length

def runs(attr):
    """(lcn or None, clusters) in VCN order."""
    at = struct.unpack_from("<H", attr, 32)[0]
    lcn, out = 0, []
    while attr[at]:
        lsize, osize = attr[at] & 15, attr[at] >> 4
        count = int.from_bytes(attr[at + 1:at + 1 + lsize], "little")
        if osize:
            lcn += int.from_bytes(attr[at + 1 + lsize:at + 1 + lsize + osize], "little", signed=True)
            out.append((lcn, count))
        else:
            out.append((None, count))
        at += 1 + lsize + osize
    return out

def record_at(runlist, number):
    """The bytes of MFT record `number` through the $MFT run list."""
    vcn_byte, offset = number * record_size, 0
    for lcn, count in runlist:
        if vcn_byte < offset + count * cluster:
            return img[lcn * cluster + vcn_byte - offset:][:record_size]
        offset += count * cluster
    return None

mft = fixed(img[mft_lcn * cluster:][:record_size])
mft_runs = next(runs(a) for k, a in attributes(mft) if k == 0x80)
total = sum(c for _, c in mft_runs) * cluster // record_size

found = {}
for number in range(16, total):
    raw = record_at(mft_runs, number)
    rec = fixed(raw) if raw else None
    if not rec:
        continue
    name = data = None
    for kind, a in attributes(rec):
        if kind == 0x30 and a[8] == 0:
            value = a[struct.unpack_from("<H", a, 20)[0]:]
            name = value[0x42:0x42 + 2 * value[0x40]].decode("utf-16-le")
        elif kind == 0x80 and a[8] == 1 and a[9] == 0:
            data = a
    if name in names and data is not None:
        found[name] = data

for name in names:
    data = found.get(name)
    if data is None or struct.unpack_from("<H", data, 34)[0] == 0:
        sys.exit(f"{name}: no compressed data stream found")
    unit = 1 << struct.unpack_from("<H", data, 34)[0]
    clusters = [lcn + k if lcn is not None else None for lcn, count in runs(data) for k in range(count)]
    written = 0
    for u in range(0, len(clusters), unit):
        piece = clusters[u:u + unit]
        allocated = [c for c in piece if c is not None]
        # Raw (all allocated) and sparse units hold no compressed chunks.
        if not allocated or len(allocated) == len(piece) or written == 2:
            continue
        path = f"{outdir}/{name}-unit{u // unit}"
        open(path, "wb").write(b"".join(img[c * cluster:(c + 1) * cluster] for c in allocated))
        print(f"{path}: {len(allocated)} of {unit} clusters")
        written += 1
    if not written:
        sys.exit(f"{name}: no unit was stored compressed")
EOF
mkdir -p "$seeddir/fuzz_restore"
xz -9 -c "$img" >"$seeddir/fuzz_restore/ntfs-small.img.xz"
echo "$seeddir/fuzz_restore/ntfs-small.img.xz: $(stat -c %s "$seeddir/fuzz_restore/ntfs-small.img.xz") bytes"
