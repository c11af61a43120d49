#!/usr/bin/env bash
# Makes the large-file restore images: a FAT32 volume (mtools) and an NTFS volume (mkntfs,
# filled through ntfs-3g) each holding four deleted files of 256 MiB of seeded random data,
# 1 GiB in all, with a manifest (path, size, sha256, deleted) beside each image.
#
#   bench/make-bigfiles.sh OUTDIR
#
# Images that exist with the manifest are kept. The NTFS image needs FUSE; without it only
# the FAT32 image is made (exit 77 when nothing could be made).
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
mkdir -p "$1"
outdir=$(cd "$1" && pwd)
python=${PYTHON:-$(command -v /usr/bin/python3 || command -v python3)}
export LC_ALL=C.UTF-8 TZ=UTC MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null

staging_root=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && staging_root=/dev/shm
work=$(mktemp -d "$staging_root/restovo-bigfiles.XXXXXX")
mnt=$work/mnt
mounted=
cleanup() {
  if [[ -n $mounted ]]; then
    umount "$mnt" 2>/dev/null || fusermount3 -u "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Four files of 256 MiB, the same bytes on every machine.
"$python" - "$work/files" <<'EOF'
import hashlib, os, random, sys
out = sys.argv[1]
os.makedirs(out)
with open(os.path.join(out, "manifest"), "w") as m:
    for i in range(4):
        rng, digest = random.Random(20261210 + i), hashlib.sha256()
        name = "video-%d.mts" % (i + 1)
        with open(os.path.join(out, name), "wb") as f:
            for _ in range(256):
                piece = rng.randbytes(1 << 20)
                digest.update(piece)
                f.write(piece)
        m.write("/big/%s\t%d\t%s\t1\n" % (name, 256 << 20, digest.hexdigest()))
EOF

made=0
if [[ -f $outdir/bigfiles-fat32.img && -f $outdir/bigfiles-fat32.manifest.tsv ]]; then
  made=1
else
  img=$work/bigfiles-fat32.img
  truncate -s 1280M "$img"
  mkfs.fat -F 32 -s 8 -n BIGFILES --invariant "$img" >/dev/null
  mmd -i "$img" ::/big
  for f in "$work"/files/*.mts; do mcopy -i "$img" "$f" ::/big/; done
  mdel -i "$img" '::/big/*.mts'
  cp "$work/files/manifest" "$outdir/bigfiles-fat32.manifest.tsv"
  mv "$img" "$outdir/bigfiles-fat32.img"
  made=1
fi

if [[ -f $outdir/bigfiles-ntfs.img && -f $outdir/bigfiles-ntfs.manifest.tsv ]]; then
  made=1
elif [[ -e /dev/fuse ]]; then
  img=$work/bigfiles-ntfs.img
  truncate -s 1280M "$img"
  mkntfs -F -Q -q -L BIGFILES "$img" 2>/dev/null
  mkdir -p "$mnt"
  if ntfs-3g "$img" "$mnt" 2>/dev/null; then
    mounted=1
    mkdir "$mnt/big"
    cp "$work"/files/*.mts "$mnt/big/"
    sync
    rm "$mnt"/big/*.mts
    umount "$mnt" 2>/dev/null || fusermount3 -u "$mnt" 2>/dev/null || fusermount -u "$mnt"
    mounted=
    cp "$work/files/manifest" "$outdir/bigfiles-ntfs.manifest.tsv"
    mv "$img" "$outdir/bigfiles-ntfs.img"
    made=1
  else
    echo "make-bigfiles: ntfs-3g could not mount (no FUSE here); NTFS image skipped" >&2
  fi
fi
((made)) || exit 77
