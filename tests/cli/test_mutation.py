#!/usr/bin/env python3
"""restovo-cli on a few hundred mutated copies of the fixture images.

Each copy changes one structure a scanner trusts: bytes of a boot sector, of the
allocation table, of a folder, of an MFT record or of a run list (records are fixed up
again, so the change reaches the parser), a FAT chain made cyclic, or the image cut
short. Every copy is scanned (`scan --json`) and restored (`restore --to`). A run fails
the test when it crashes (a signal or a sanitizer report), hangs, exits outside 0-3,
creates anything outside its destination, or peaks beyond the memory bound.

Deterministic: copy N of seed S is the same on every machine. To reproduce a failure:
    RESTOVO_MUTATION_SEED=S RESTOVO_MUTATION_ONLY=N test_mutation.py
Failing copies are kept in RESTOVO_MUTATION_FAILURES with a note of what was changed.

Environment: RESTOVO_CLI, RESTOVO_FIXTURES, RESTOVO_SANITIZE as for the other CLI tests;
RESTOVO_MUTATION_SEED, RESTOVO_MUTATION_COUNT, RESTOVO_MUTATION_ONLY (a list of copy
numbers), RESTOVO_MUTATION_WORKERS, RESTOVO_MUTATION_FAILURES.
"""
import collections
import concurrent.futures
import importlib.util
import os
import random
import shutil
import struct
import sys
import tempfile
import time
import unittest

from cli_child import MEMORY_LIMIT, SANITIZED, crash_of, run_limited
from cli_support import FIXTURES

HERE = os.path.dirname(os.path.abspath(__file__))
SEED = int(os.environ.get("RESTOVO_MUTATION_SEED", "20240615"))
COUNT = int(os.environ.get("RESTOVO_MUTATION_COUNT", "300"))
ONLY = [int(n) for n in os.environ.get("RESTOVO_MUTATION_ONLY", "").replace(",", " ").split()]
WORKERS = int(os.environ.get("RESTOVO_MUTATION_WORKERS", "2"))
KEEP = os.environ.get("RESTOVO_MUTATION_FAILURES", os.path.join(os.getcwd(), "mutation-failures"))
# A hang guard: an unmutated fixture scans and restores in well under a second.
TIME_LIMIT = 20

_spec = importlib.util.spec_from_file_location(
    "layout", os.path.join(HERE, "..", "fixtures", "make-hostile-images.py"))
layout = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(layout)

# Base images: (file, byte offset of the volume). The forensics samples hold one
# partition at sector 2048.
BASES = [("fat12.img", 0), ("fat16.img", 0), ("fat32.img", 0), ("ntfs.img", 0),
         ("fs.vfat", 2048 * 512), ("fs.ntfs", 2048 * 512)]
BLOCK = 1 << 16
ZERO_BLOCK = bytes(BLOCK)

# Values that sit on the edges parsers get wrong.
INTERESTING = [0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
               0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x0FFFFFF7, 0x0FFFFFF8, 1 << 40,
               (1 << 62), (1 << 63) - 1, (1 << 64) - 1]


class Base:
    """One fixture image read once, with the places its mutations aim at."""

    def __init__(self, name, origin):
        self.name = name
        with open(os.path.join(FIXTURES, name), "rb") as f:
            self.data = f.read()
        self.origin = origin
        vol = memoryview(bytearray(self.data))[origin:]
        self.ntfs = vol[3:11] == b"NTFS    "
        if self.ntfs:
            self._locate_ntfs(layout.Ntfs(vol))
        else:
            self._locate_fat(layout.Fat(vol))

    def _locate_fat(self, fat):
        self.fat_bits = fat.bits
        self.boot = [(0, 90)] + ([(fat.backup_boot_sector * fat.bytes_per_sector, 90),
                                  (fat.fsinfo_sector * fat.bytes_per_sector, 512)] if fat.bits == 32 else [])
        used = max(c for c in range(2, fat.clusters + 2) if fat.entry(c)) + 1
        table = (used * fat.bits + 7) // 8
        self.tables = [(fat.fat_offset + i * fat.fat_size, table) for i in range(fat.fat_count)]
        self.folders = [r for c in fat.all_folders() for r in fat.folder_regions(c)]
        # Chains of folders and live files, to be closed into loops.
        self.chains = []
        for c in fat.all_folders():
            first = fat.root_cluster if c == 0 else c
            if first:
                self.chains.append(fat.chain(first))
            for _, attr, start, _, deleted in fat.entries(c):
                if not deleted and not attr & 0x10 and start >= 2:
                    self.chains.append(fat.chain(start))

    def _locate_ntfs(self, vol):
        self.boot = [(0, 84)]
        self.records, self.runs = [], []
        for offset, rec, n in vol.records():
            if not rec[22] & 1:
                continue
            self.records.append(offset)
            for a in layout.attributes(rec):
                if a["nonresident"]:
                    self.runs.append((offset, a["runs"], a["runs_end"], a["offset"]))
            if n > 256:
                break

    def categories(self):
        if self.ntfs:
            return ["boot", "mft-record", "mft-values", "run-list", "truncate"]
        return ["boot", "fat-table", "directory", "fat-cycle", "truncate"]


def flip(rng, buf, start, length, count):
    """Flips COUNT random bytes of BUF[start:start+length]; returns what was done."""
    done = []
    for _ in range(count):
        at = start + rng.randrange(length)
        value = buf[at] ^ (1 << rng.randrange(8)) if rng.random() < 0.5 else rng.randrange(256)
        done.append("%#x:%02x->%02x" % (at, buf[at], value))
        buf[at] = value
    return done


def mutate(base, index):
    """The bytes of copy INDEX and a description of its change."""
    rng = random.Random("%d:%d" % (SEED, index))
    category = rng.choice(base.categories())
    if category == "truncate":
        # Mostly within the volume's metadata, where a cut hurts a scan most.
        whole = len(base.data)
        limit = whole if rng.random() < 0.3 else min(whole, base.origin + (4 << 20))
        size = rng.randrange(base.origin + 512, limit)
        return base.data[:size], "truncate to %d bytes" % size
    image = bytearray(base.data)
    vol = memoryview(image)[base.origin:]
    what = category
    if category == "boot":
        start, length = rng.choice(base.boot)
        what += " " + " ".join(flip(rng, vol, start, length, rng.randint(1, 3)))
    elif category == "fat-table":
        start, length = rng.choice(base.tables)
        what += " " + " ".join(flip(rng, vol, start, length, rng.randint(1, 6)))
    elif category == "directory":
        start, length = rng.choice(base.folders)
        # Aim at the fields of one entry now and then: attributes, clusters, size.
        if rng.random() < 0.5:
            entry = start + 32 * rng.randrange(max(1, length // 32))
            field, width = rng.choice([(11, 1), (20, 2), (26, 2), (28, 4), (0, 1)])
            value = rng.choice(INTERESTING) & ((1 << 8 * width) - 1)
            vol[entry + field:entry + field + width] = value.to_bytes(width, "little")
            what += " entry %#x field +%d = %#x" % (entry, field, value)
        else:
            what += " " + " ".join(flip(rng, vol, start, length, rng.randint(1, 4)))
    elif category == "fat-cycle":
        fat = layout.Fat(vol)
        chain = rng.choice(base.chains)
        at = rng.randrange(len(chain))
        target = chain[rng.randrange(at + 1)]
        fat.set_entry(chain[at], target)
        what += " cluster %d -> %d (chain of %d from %d)" % (chain[at], target, len(chain), chain[0])
    else:
        ntfs = layout.Ntfs(vol)
        if category == "run-list":
            offset, runs, runs_end, attr = rng.choice(base.runs)
            rec = ntfs.fixed_record(offset)
            if rng.random() < 0.3:
                # The header of the run list: start and last VCN, sizes.
                field = rng.choice([16, 24, 40, 48, 56])
                value = rng.choice(INTERESTING)
                struct.pack_into("<Q", rec, attr + field, value)
                what += " record %#x attribute +%d = %#x" % (offset, field, value)
            else:
                what += " record %#x runs " % offset + " ".join(
                    flip(rng, rec, runs, max(1, runs_end - runs), rng.randint(1, 3)))
        else:
            offset = rng.choice(base.records)
            rec = ntfs.fixed_record(offset)
            if category == "mft-values":
                # A 16-, 32- or 64-bit field of the record or an attribute header.
                at = rng.randrange(0, len(rec) - 8, 2)
                width = rng.choice([2, 4, 8])
                value = rng.choice(INTERESTING) & ((1 << 8 * width) - 1)
                rec[at:at + width] = value.to_bytes(width, "little")
                what += " record %#x +%d = %#x" % (offset, at, value)
            else:
                # Most changes land in the record's first half, where the attributes are.
                length = rng.choice([len(rec) // 2, len(rec)])
                what += " record %#x " % offset + " ".join(flip(rng, rec, 0, length, rng.randint(1, 8)))
        if rng.random() < 0.85:
            vol[offset:offset + len(rec)] = ntfs.protected(rec)
        else:
            # Now and then the sector ends are left as changed, so the fixup check sees it.
            vol[offset:offset + len(rec)] = rec
            what += " (fixups left broken)"
    vol.release()
    return bytes(image), what


def write_sparse(path, data):
    """Writes DATA leaving its all-zero blocks as holes: the copies cost little disk."""
    with open(path, "wb") as f:
        for o in range(0, len(data), BLOCK):
            block = data[o:o + BLOCK]
            if block != ZERO_BLOCK[:len(block)]:
                f.seek(o)
                f.write(block)
        f.truncate(len(data))


def entries_below(root):
    out = set()
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            out.add(os.path.relpath(os.path.join(folder, name), root))
    return out


def check_copy(base, index, scratch):
    """Scans and restores copy INDEX; returns (what, problems, exit codes)."""
    data, what = mutate(base, index)
    work = os.path.join(scratch, "copy%d" % index)
    os.mkdir(work)
    image = os.path.join(work, base.name)
    write_sparse(image, data)
    dest = os.path.join(work, "inner", "dest")
    os.makedirs(dest)
    problems, codes = [], []
    for args in (["scan", image, "--json"], ["restore", image, "--to", dest]):
        r = run_limited(args, TIME_LIMIT)
        codes.append(r.returncode)
        step = args[0]
        if r.timed_out:
            problems.append("%s hung (no end within %d s)" % (step, TIME_LIMIT))
            continue
        crash = crash_of(r)
        if crash:
            problems.append("%s crashed: %s\n%s" % (step, crash, r.stderr[-4000:]))
        elif not 0 <= r.returncode <= 3:
            problems.append("%s exited with %d\n%s" % (step, r.returncode, r.stderr[-2000:]))
        if r.maxrss > MEMORY_LIMIT:
            problems.append("%s peaked at %d MB (bound %d MB)" % (step, r.maxrss >> 20, MEMORY_LIMIT >> 20))
    outside = entries_below(work) - {base.name, "inner", "inner/dest"}
    outside = {p for p in outside if not p.startswith("inner/dest/")}
    if outside:
        problems.append("created outside the destination: %s" % sorted(outside))
    links = [p for p in entries_below(dest) if os.path.islink(os.path.join(dest, p))]
    if links:
        problems.append("created links: %s" % sorted(links))
    if problems:
        os.makedirs(KEEP, exist_ok=True)
        kept = os.path.join(KEEP, "seed%d-copy%d-%s" % (SEED, index, base.name))
        shutil.copyfile(image, kept)
        with open(kept + ".txt", "w") as f:
            f.write("seed %d copy %d of %s: %s\n\n%s\n" % (SEED, index, base.name, what, "\n".join(problems)))
    shutil.rmtree(work, ignore_errors=True)
    return what, problems, codes


class Mutation(unittest.TestCase):
    def test_mutated_images_neither_crash_hang_escape_nor_blow_up(self):
        bases = []
        for name, origin in BASES:
            if os.path.exists(os.path.join(FIXTURES, name)):
                bases.append(Base(name, origin))
        if not bases:
            self.skipTest("no fixture images in " + FIXTURES)
        indices = ONLY or list(range(COUNT))
        print("mutation seed %d, %d copies of %s, %d workers, %s binary" % (
            SEED, len(indices), ", ".join(b.name for b in bases), WORKERS,
            "sanitized" if SANITIZED else "unsanitized"), flush=True)
        started = time.monotonic()
        failures, codes = [], collections.Counter()
        with tempfile.TemporaryDirectory(prefix="restovo-mutation-") as scratch, \
                concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
            jobs = {pool.submit(check_copy, bases[i % len(bases)], i, scratch): i for i in indices}
            for job in concurrent.futures.as_completed(jobs):
                i = jobs[job]
                what, problems, exits = job.result()
                base = bases[i % len(bases)].name
                codes[(base, what.split()[0], tuple(exits))] += 1
                if problems:
                    failures.append((i, base, what, problems))
        print("%d copies in %.0f s" % (len(indices), time.monotonic() - started))
        for (base, category, exits), n in sorted(codes.items()):
            print("  %-10s %-11s exit codes %-8s x%d" % (base, category, "/".join(map(str, exits)), n))
        if failures:
            failures.sort()
            report = ["%d of %d copies failed (seed %d; kept in %s):" % (len(failures), len(indices), SEED, KEEP)]
            for i, base, what, problems in failures:
                report.append("\ncopy %d of %s: %s\n  reproduce: RESTOVO_MUTATION_SEED=%d RESTOVO_MUTATION_ONLY=%d\n  %s"
                              % (i, base, what, SEED, i, "\n  ".join(p[:1500] for p in problems)))
            self.fail("\n".join(report))


if __name__ == "__main__":
    unittest.main(verbosity=2)
