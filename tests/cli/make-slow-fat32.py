#!/usr/bin/env python3
"""make-slow-fat32.py IMAGE: a FAT32 volume whose scan takes many seconds.

mkfs.fat makes a 2 GiB volume with 512-byte clusters (a sparse file); then 512 deleted
entries are written into the root folder, each claiming a 4 GiB file from cluster 100.
Rating each of them walks the allocation table over the whole volume, so the scan runs
long enough to be interrupted, while the image stays small on disk.
"""
import struct
import subprocess
import sys

image = sys.argv[1]
subprocess.run(["mkfs.fat", "-F", "32", "-s", "1", "-C", image, str(2 * 1024 * 1024)],
               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
with open(image, "r+b") as f:
    boot = f.read(512)
    bps, spc = struct.unpack_from("<HB", boot, 11)
    reserved, fats = struct.unpack_from("<HB", boot, 14)
    fat_sectors, = struct.unpack_from("<I", boot, 36)
    root, = struct.unpack_from("<I", boot, 44)
    cluster_size = bps * spc
    data = (reserved + fats * fat_sectors) * bps
    entries = 512
    clusters = entries * 32 // cluster_size
    chain = list(range(root, root + clusters))
    for t in range(fats):
        base = (reserved + t * fat_sectors) * bps
        for i, k in enumerate(chain):
            f.seek(base + 4 * k)
            f.write(struct.pack("<I", chain[i + 1] if i + 1 < len(chain) else 0x0FFFFFFF))
    for i in range(entries):
        name = b"\xe5" + (b"%06d" % i).ljust(7) + b"BIN"
        entry = name + bytes([0x20]) + bytes(8) + struct.pack("<H", 0) + bytes(4) \
            + struct.pack("<HI", 100, 0xFFFFFFFF)
        assert len(entry) == 32
        f.seek(data + (root - 2) * cluster_size + 32 * i)
        f.write(entry)
