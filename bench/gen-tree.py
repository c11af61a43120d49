#!/usr/bin/env python3
"""Fills the benchmark volumes and records what a perfect recovery returns.

usage: gen-tree.py plan  PROFILE FS
       gen-tree.py ntfs  PROFILE MOUNTPOINT MANIFEST
       gen-tree.py fat32 PROFILE IMAGE STAGING MANIFEST NOTES
       gen-tree.py check PROFILE FS IMAGE MANIFEST STATUS [NOTES]

PROFILE is small or large, FS is ntfs or fat32. Everything (folder tree, names,
sizes, bytes, which files get deleted) follows from the seed, so every run
writes the same files with the same content; only where the drivers place them
may differ.

The volumes go through four rounds, the same on both file systems:
  base      the folder tree and most files, tiny to several MiB
  checker   files written back to back, every other one deleted, then bigger
            "frag" files written that only fit by spanning several holes
  delete    single files and whole folder trees, about 15 % in all
  reuse     new files written into the freed space, which partly or fully
            overwrites some deleted files

Manifest lines are  path<TAB>size<TAB>sha256<TAB>deleted  for every file ever
written, in write order; a deleted file's sha256 is that of its content when
it was deleted (the NTFS fillers are emptied first, so they are empty files).

`check` then reads the finished image and writes STATUS, one line
path<TAB>data<TAB>entry<TAB>layout  per deleted file:
  data    intact, partly-overwritten or overwritten: whether each of its
          sectors still exists somewhere on the volume, or for an NTFS
          MFT-resident file whether some record still holds it
  entry   whether walking the deleted folders reaches the file: "listed", or
          on FAT "orphaned" when a deleted folder above it had a cluster of
          its listing reused, or "split-folder" when such a folder's listing
          took more than one cluster, whose chain the FAT no longer records
  layout  on FAT "contiguous" or "fragmented" (its clusters before deletion:
          only a contiguous one comes back whole from its first cluster and
          size); "-" on NTFS, whose records keep their run lists

Deleted FAT entries without a long name lose their first character on disk, so
a recovered name may differ from the manifest's in that one place.
"""
from __future__ import annotations

import errno
import hashlib
import itertools
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import time
from dataclasses import dataclass, field
from hashlib import blake2b

SEED = "restovo-bench-1"
SECTOR = 512
CLUSTER = 4096  # NTFS, as make-images.sh formats it
MAX_PATH = 180
MAX_DEPTH = 6


@dataclass(frozen=True)
class Profile:
    files: int
    large: int
    checker: int
    files_per_dir: int
    dir_slots: int  # 32-byte directory entries in one FAT cluster


PROFILES = {
    ("small", "ntfs"): Profile(files=5_000, large=4, checker=200, files_per_dir=30, dir_slots=64),
    ("small", "fat32"): Profile(files=5_000, large=4, checker=200, files_per_dir=30, dir_slots=64),
    ("large", "ntfs"): Profile(files=300_000, large=100, checker=4_000, files_per_dir=45, dir_slots=128),
    ("large", "fat32"): Profile(files=100_000, large=40, checker=2_000, files_per_dir=45, dir_slots=128),
}

TOP = ["Documents", "Pictures", "Music", "Videos", "Downloads", "Projects", "Backups",
       "Users", "Shared", "Archiv 2019–2023", "Program Data"]
FOLDER_WORDS = [
    "Invoices", "Taxes", "Receipts", "Contracts", "Holiday", "Family", "Work", "School",
    "Letters", "Scans", "Drafts", "Old", "New folder", "Misc", "Reports", "Presentations",
    "Photos", "Screenshots", "Exports", "Templates", "Client Files", "Meeting Notes",
    "Research", "Source", "Assets", "Build", "Recordings", "Podcasts", "Wallpapers",
    "Travel", "Recipes", "Medical", "Insurance", "Bank Statements", "Car", "House",
    "Garden", "Wedding", "Birthday", "Camera Roll", "Thesis", "Homework", "Budget",
    "Marketing", "Sales", "HR", "Legal", "Design", "Mockups", "Release", "Logs", "Data",
]
FOLDER_WORDS_INTL = [
    "Übersicht", "Fotos München", "Résumés", "Café Plans", "Señales", "Mødereferater",
    "Документы", "Фотографии", "Проекты", "資料", "写真", "Ελληνικά", "Kraków 2021",
    "Straße", "Été 2022", "Årsrapport", "Çalışma", "Zürich Umzug", "Ćwiczenia", "Déjà vu",
]
WORDS = [
    "annual", "report", "budget", "draft", "final", "summary", "meeting", "notes",
    "invoice", "contract", "project", "plan", "review", "proposal", "letter", "memo",
    "schedule", "minutes", "agenda", "presentation", "analysis", "forecast", "quarterly",
    "results", "customer", "supplier", "order", "offer", "travel", "expenses", "holiday",
    "photos", "family", "garden", "kitchen", "renovation", "insurance", "claim", "policy",
    "tax", "return", "statement", "account", "salary", "pension", "school", "homework",
    "essay", "chapter", "thesis", "lecture", "exam", "recipe", "shopping", "list",
    "inventory", "backup", "export", "import", "config", "settings", "readme", "manual",
    "guide", "handbook", "checklist", "timeline", "roadmap", "design", "sketch", "mockup",
]
WORDS_INTL = ["Übersicht", "café", "Jürgen", "Müller", "naïve", "Straße", "Größe",
              "résumé", "año", "Kraków", "Ørsted", "Δοκιμή", "отчёт", "Москва", "東京", "会議"]
PLACES = ["Berlin", "Lisbon", "Oslo", "Rome", "Vienna", "Prague", "Kyoto", "Boston",
          "Crete", "Provence", "Tromsø", "Málaga", "Kraków", "Zürich"]

TEXT_EXT = ["txt", "md", "log", "csv", "ini", "json", "xml", "html", "url", "cfg"]
TINY_EXT = ["txt", "ini", "json", "url", "md", "csv", "xml", "cfg", "txt", "txt"]
SMALL_EXT = ["txt", "txt", "md", "log", "csv", "xml", "html", "json", "png", "jpg", "ico"]
MEDIUM_EXT = ["jpg"] * 7 + ["pdf"] * 4 + ["docx"] * 2 + ["xlsx", "pptx"] + ["png"] * 2 + \
             ["mp3"] * 2 + ["zip", "log", "csv"]
LARGE_EXT = ["mp4", "mov", "zip", "wav", "pdf", "7z"]
FRAG_EXT = ["zip", "pdf", "mp3", "jpg", "docx"]

MAGIC = {
    "jpg": (b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", b"\xff\xd9"),
    "png": (b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR", b"\x00\x00\x00\x00IEND\xaeB`\x82"),
    "ico": (b"\x00\x00\x01\x00\x01\x00\x10\x10", b""),
    "pdf": (b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n", b"\n%%EOF\n"),
    "docx": (b"PK\x03\x04\x14\x00\x06\x00\x08\x00", b"PK\x05\x06"),
    "xlsx": (b"PK\x03\x04\x14\x00\x06\x00\x08\x00", b"PK\x05\x06"),
    "pptx": (b"PK\x03\x04\x14\x00\x06\x00\x08\x00", b"PK\x05\x06"),
    "zip": (b"PK\x03\x04\x14\x00\x00\x00\x08\x00", b"PK\x05\x06"),
    "7z": (b"7z\xbc\xaf\x27\x1c\x00\x04", b""),
    "mp3": (b"ID3\x04\x00\x00\x00\x00\x00\x00", b""),
    "mp4": (b"\x00\x00\x00\x20ftypisom\x00\x00\x02\x00isomiso2avc1mp41", b""),
    "mov": (b"\x00\x00\x00\x14ftypqt  \x00\x00\x02\x00qt  ", b""),
    "wav": (b"RIFF\x00\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00", b""),
}
TEXT_HEAD = {
    "xml": b'<?xml version="1.0" encoding="UTF-8"?>\n',
    "html": b"<!DOCTYPE html>\n<html><body>\n",
    "json": b'{"generated": true, "lines": [\n',
    "ini": b"[General]\n",
    "cfg": b"# settings\n",
    "url": b"[InternetShortcut]\nURL=",
    "csv": b"id,date,description,amount\n",
}


@dataclass(slots=True)
class File:
    path: str
    size: int
    phase: str  # base | checker | frag | reuse | filler
    deleted: bool = False


@dataclass
class Plan:
    profile: Profile
    seed: str
    dirs: list[str] = field(default_factory=list)
    base: list[File] = field(default_factory=list)
    checker: list[File] = field(default_factory=list)
    checker_deleted: list[File] = field(default_factory=list)
    frag: list[File] = field(default_factory=list)
    delete_files: list[File] = field(default_factory=list)
    delete_trees: list[str] = field(default_factory=list)
    reuse: list[File] = field(default_factory=list)
    reuse_dirs: list[str] = field(default_factory=list)
    checker_dirs: list[str] = field(default_factory=list)

    def written(self) -> list[File]:
        return self.base + self.checker + self.frag + self.reuse


def log(msg: str) -> None:
    print(f"gen-tree: {msg}", file=sys.stderr, flush=True)


def parent_of(path: str) -> str:
    return path.rsplit("/", 1)[0] or "/"


def join(parent: str, name: str) -> str:
    return ("" if parent == "/" else parent) + "/" + name


class Namer:
    """Names unique per folder the way FAT compares them, so mtools never
    stops to ask about a clash; mtools also globs, so no * ? [ ]."""

    def __init__(self, rng: random.Random):
        self.rng = rng
        self.taken: dict[str, set[str]] = {}

    def claim(self, parent: str, name: str) -> str | None:
        name = name.strip(" .")
        if not name:
            return None
        taken = self.taken.setdefault(parent, set())
        stem, dot, ext = name.rpartition(".")
        if not dot:
            stem, ext = name, ""
        candidate, n = name, 1
        while candidate.casefold() in taken:
            n += 1
            candidate = f"{stem} ({n}).{ext}" if ext else f"{stem} ({n})"
        if len(join(parent, candidate)) > MAX_PATH:
            return None
        taken.add(candidate.casefold())
        return candidate

    def words(self, count: int, intl: float = 0.07) -> list[str]:
        rng = self.rng
        return [rng.choice(WORDS_INTL) if rng.random() < intl else rng.choice(WORDS)
                for _ in range(count)]

    def folder(self) -> str:
        rng = self.rng
        r = rng.random()
        if r < 0.12:
            return rng.choice(FOLDER_WORDS_INTL)
        if r < 0.22:
            return str(rng.randrange(2012, 2025))
        if r < 0.30:
            return f"{rng.randrange(2016, 2025)}-{rng.randrange(1, 13):02d}"
        if r < 0.35:
            return f"Q{rng.randrange(1, 5)} {rng.randrange(2018, 2025)}"
        if r < 0.40:
            return f"{rng.choice(PLACES)} {rng.randrange(2010, 2025)}"
        if r < 0.43:
            # Long enough to need several long-name slots on FAT.
            return " ".join(w.capitalize() for w in self.words(rng.randrange(7, 12), 0.1))
        base = rng.choice(FOLDER_WORDS)
        if rng.random() < 0.2:
            base += rng.choice([" (copy)", " v2", " old", " 2", " – final", "_backup"])
        return base

    def file(self, ext: str) -> str:
        rng = self.rng
        y, mo, d = rng.randrange(2012, 2025), rng.randrange(1, 13), rng.randrange(1, 29)
        hh, mm, ss = rng.randrange(24), rng.randrange(60), rng.randrange(60)
        r = rng.random()
        if ext in ("jpg", "mp4") and r < 0.6:
            prefix = "IMG" if ext == "jpg" else "VID"
            return f"{prefix}_{y}{mo:02d}{d:02d}_{hh:02d}{mm:02d}{ss:02d}.{ext}"
        if ext == "jpg" and r < 0.75:
            return f"DSC{rng.randrange(10000):05d}.JPG"
        if ext == "png" and r < 0.5:
            return f"Screenshot {y}-{mo:02d}-{d:02d} at {hh:02d}.{mm:02d}.{ss:02d}.png"
        if ext == "mp3":
            return f"{rng.randrange(1, 20):02d} - {' '.join(self.words(rng.randrange(1, 5))).title()}.mp3"
        if ext == "pdf" and r < 0.3:
            return f"Invoice {y}-{rng.randrange(1, 9999):04d} {rng.choice(WORDS_INTL + PLACES)}.pdf"
        if ext in TEXT_EXT and r < 0.08:
            return rng.choice(["README", "NOTES", "CONFIG", "SETUP", "INDEX", "DATA"]) + \
                f"{rng.randrange(100) if rng.random() < 0.5 else ''}.{ext.upper()[:3]}"
        if r < 0.04:
            return " ".join(self.words(rng.randrange(9, 16), 0.15)) + f".{ext}"
        sep = rng.choice([" ", " ", "_", "-"])
        stem = sep.join(self.words(rng.randrange(1, 4)))
        if rng.random() < 0.5:
            stem = stem.title() if rng.random() < 0.5 else stem.capitalize()
        tail = rng.random()
        if tail < 0.15:
            stem += f"{sep}{y}-{mo:02d}-{d:02d}"
        elif tail < 0.25:
            stem += f"{sep}v{rng.randrange(1, 9)}"
        elif tail < 0.30:
            stem += " (final)"
        return f"{stem}.{ext}"


def draw_size(rng: random.Random, cls: str) -> int:
    u = rng.random()
    if cls == "tiny":
        return 0 if u < 0.02 else rng.randrange(1, 600)
    if cls == "small":
        return int(600 * (10240 / 600) ** u)
    if cls == "medium":
        return int(10240 * 102.4 ** (u ** 2.5))
    return int((3 << 20) * (16 / 3) ** u)


def draw_file(rng: random.Random) -> tuple[str, int]:
    r = rng.random()
    if r < 0.38:
        return rng.choice(TINY_EXT), draw_size(rng, "tiny")
    if r < 0.90:
        return rng.choice(SMALL_EXT), draw_size(rng, "small")
    return rng.choice(MEDIUM_EXT), draw_size(rng, "medium")


def build_plan(size: str, fs: str, seed: str = SEED) -> Plan:
    prof = PROFILES[(size, fs)]
    # Both small volumes share one plan, so their manifests can be compared;
    # only the last round is cut shorter on FAT.
    rng = random.Random(f"{seed}/{size}/{fs if size == 'large' else 'any'}")
    plan = Plan(prof, seed)
    namer = Namer(rng)

    reuse_total = max(50, prof.files // 25)
    frag_total = prof.checker // 5
    base_total = prof.files - prof.checker - frag_total - reuse_total

    depth = {"/": 0}
    for name in TOP:
        path = join("/", namer.claim("/", name))
        plan.dirs.append(path)
        depth[path] = 1
    wanted_dirs = max(len(TOP) + 5, base_total // prof.files_per_dir)
    while len(plan.dirs) < wanted_dirs:
        parent = rng.choice(plan.dirs)
        if depth[parent] >= MAX_DEPTH:
            continue
        name = namer.claim(parent, namer.folder())
        if name is None:
            continue
        path = join(parent, name)
        plan.dirs.append(path)
        depth[path] = depth[parent] + 1

    def new_file(parent: str, ext: str, size: int, phase: str) -> File | None:
        name = namer.claim(parent, namer.file(ext))
        return None if name is None else File(join(parent, name), size, phase)

    # A few folders hold many files and most hold few, as on a real disk.
    homes = ["/"] + plan.dirs
    weights = [0.5] + [min(rng.paretovariate(1.3), 40.0) for _ in plan.dirs]
    cum = list(itertools.accumulate(weights))
    by_dir: dict[str, list[File]] = {}
    large_left, placed = prof.large, 0
    while placed < base_total:
        parent = rng.choices(homes, cum_weights=cum)[0]
        if large_left and rng.random() < prof.large / base_total:
            ext, size_ = rng.choice(LARGE_EXT), draw_size(rng, "large")
            large_left -= 1
        else:
            ext, size_ = draw_file(rng)
        f = new_file(parent, ext, size_, "base")
        if f:
            by_dir.setdefault(parent, []).append(f)
            placed += 1
    while large_left:
        f = new_file(rng.choice(plan.dirs), rng.choice(LARGE_EXT), draw_size(rng, "large"), "base")
        if f:
            by_dir.setdefault(parent_of(f.path), []).append(f)
            large_left -= 1
    # Written folder by folder, as a copy of a whole tree would.
    for d in homes:
        plan.base.extend(by_dir.get(d, []))

    ordinary = list(plan.dirs)
    shallow = [d for d in ordinary if depth[d] <= 4]

    per_checker_dir = 250
    for i in range((prof.checker + per_checker_dir - 1) // per_checker_dir):
        parent = rng.choice(shallow)
        name = namer.claim(parent, f"Render Cache {i + 1}")
        path = join(parent, name)
        plan.dirs.append(path)
        plan.checker_dirs.append(path)
    for i in range(prof.checker):
        d = plan.checker_dirs[i // per_checker_dir]
        size_ = rng.randrange(48 << 10, 64 << 10)
        plan.checker.append(File(join(d, f"frame_{i:05d}.png"), size_, "checker"))
    plan.checker_deleted = plan.checker[1::2]
    for f in plan.checker_deleted:
        f.deleted = True

    # Holes of 48-64 KiB and files of at least 1.6 times the mean hole: no
    # hole takes one whole, and all of them together fill 80 % of the holes.
    hole_mean = sum(f.size for f in plan.checker_deleted) / len(plan.checker_deleted)
    while len(plan.frag) < frag_total:
        f = new_file(rng.choice(ordinary), rng.choice(FRAG_EXT),
                     int(hole_mean * rng.uniform(1.6, 2.4)), "frag")
        if f:
            plan.frag.append(f)

    # New folders for the files of the last round: new entries in a folder that
    # has deleted entries would take their slots and hide them.
    reuse_dir_count = max(3, reuse_total // 20)
    while len(plan.reuse_dirs) < reuse_dir_count:
        parent = rng.choice(shallow)
        name = namer.claim(parent, rng.choice(["New folder", "Imported", "Camera Upload",
                                               "Downloads", "Inbox", "Neu"]) +
                           f" {rng.randrange(2024, 2026)}-{rng.randrange(1, 13):02d}")
        if name:
            path = join(parent, name)
            plan.dirs.append(path)
            plan.reuse_dirs.append(path)

    protected = set()
    for d in plan.checker_dirs + plan.reuse_dirs:
        while d != "/":
            protected.add(d)
            d = parent_of(d)
    files_under: dict[str, int] = {}
    for f in plan.base + plan.frag:
        d = parent_of(f.path)
        while d != "/":
            files_under[d] = files_under.get(d, 0) + 1
            d = parent_of(d)

    total = prof.files
    tree_target, single_target = int(total * 0.065), int(total * 0.08)
    # A deleted FAT folder is only found whole when its listing fits in one
    # cluster: the FAT no longer says where a longer one continues. Most
    # deleted trees are of such folders, the rest show the harder case.
    slots = {d: 2 for d in plan.dirs}
    for path in [f.path for f in plan.base + plan.frag] + plan.dirs:
        parent = parent_of(path)
        if parent != "/":
            slots[parent] += 1 + (len(path.rsplit("/", 1)[1].encode("utf-16-le")) // 2 + 12) // 13
    split = set()
    for d, n in slots.items():
        while n > prof.dir_slots and d != "/" and d not in split:
            split.add(d)
            d = parent_of(d)
    tree_count = 0
    candidates = [d for d in ordinary if depth[d] >= 2 and d not in protected]
    rng.shuffle(candidates)
    for share, allowed in ((0.75, lambda d: d not in split), (1.0, lambda d: True)):
        for d in candidates:
            if tree_count >= tree_target * share:
                break
            n = files_under.get(d, 0)
            if n == 0 or n > total * 0.015 or not allowed(d):
                continue
            if any(d.startswith(t + "/") or t.startswith(d + "/") or d == t for t in plan.delete_trees):
                continue
            plan.delete_trees.append(d)
            tree_count += n
    in_tree = tuple(t + "/" for t in plan.delete_trees)
    for f in plan.base + plan.frag:
        if f.path.startswith(in_tree):
            f.deleted = True

    # A third of the fragmented files go too: the hardest case to restore.
    singles = [f for f in plan.frag if not f.deleted and rng.random() < 0.33]
    pool = [f for f in plan.base if not f.deleted]
    rng.shuffle(pool)
    for f in pool:
        if len(singles) >= single_target:
            break
        singles.append(f)
    rng.shuffle(singles)
    for f in singles:
        f.deleted = True
    plan.delete_files = singles

    # mtools fills the lowest holes first, where many small deleted files lie
    # side by side; ntfs-3g takes the largest free ranges. Sized so that
    # either overwrites a modest share of the deleted files.
    freed = sum(f.size for f in plan.written() if f.deleted and f.phase != "checker")
    budget = freed * 0.5
    fat_budget = freed * 0.12
    used = 0
    while used < budget and len(plan.reuse) < reuse_total * 3:
        ext, size_ = draw_file(rng)
        if rng.random() < 0.05:
            ext, size_ = rng.choice(MEDIUM_EXT), draw_size(rng, "medium") * 4
        if len(plan.reuse) >= reuse_total and size_ < 100_000:
            continue
        f = new_file(rng.choice(plan.reuse_dirs), ext, size_, "reuse")
        if f:
            if fs == "fat32" and used + size_ > fat_budget:
                break
            plan.reuse.append(f)
            used += size_
    return plan


POOL: bytes | None = None


def text_pool() -> bytes:
    global POOL
    if POOL is None:
        rng = random.Random(f"{SEED}/text-pool")
        words = WORDS + ["the", "and", "of", "to", "in", "for", "with", "on", "is", "was",
                         "we", "will", "please", "see", "attached", "total", "amount", "due"]
        POOL = " ".join(rng.choices(words, k=200_000)).encode()
    return POOL


def content(f: File, seed: str) -> bytes:
    if f.size == 0:
        return b""
    rng = random.Random(f"{seed}:{f.path}")
    ext = f.path.rsplit(".", 1)[-1].lower()
    if ext in TEXT_EXT:
        pool = text_pool()
        span = len(pool) - 200
        parts = [TEXT_HEAD.get(ext, b"")]
        n, line = len(parts[0]), 0
        rr = rng.random
        # The line number makes every line, and so every sector, distinct.
        while n < f.size:
            off = int(rr() * span)
            s = b"%d " % line + pool[off:off + 30 + int(rr() * 90)] + b"\n"
            parts.append(s)
            n += len(s)
            line += 1
        return b"".join(parts)[:f.size]
    head, tail = MAGIC.get(ext, (b"", b""))
    body = max(0, f.size - len(head) - len(tail))
    chunks = [head]
    while body > 0:
        step = min(body, 1 << 18)
        chunks.append(rng.randbytes(step))
        body -= step
    chunks.append(tail)
    return b"".join(chunks)[:f.size]


def mtime_of(f: File, seed: str) -> int:
    h = int.from_bytes(hashlib.sha256(f"{seed}:mtime:{f.path}".encode()).digest()[:8], "little")
    start = {"base": 1_420_070_400, "checker": 1_640_995_200, "frag": 1_672_531_200}.get(
        f.phase, 1_704_067_200)
    return start + h % (1_704_067_200 - 1_420_070_400 if f.phase == "base" else 31_536_000)


class Manifest:
    def __init__(self):
        self.rows: dict[str, list] = {}

    def written(self, f: File, data: bytes) -> None:
        self.rows[f.path] = [f.path, len(data), hashlib.sha256(data).hexdigest(), 0]

    def deleted(self, f: File) -> None:
        self.rows[f.path][3] = 1

    def write(self, out: str) -> None:
        with open(out + ".tmp", "w", encoding="utf-8") as fh:
            for row in self.rows.values():
                fh.write("\t".join(map(str, row)) + "\n")
        os.replace(out + ".tmp", out)


class Progress:
    def __init__(self, what: str, total: int):
        self.what, self.total, self.done = what, total, 0
        self.start = self.last = time.monotonic()

    def tick(self, n: int = 1) -> None:
        self.done += n
        now = time.monotonic()
        if now - self.last >= 10:
            self.last = now
            log(f"  {self.what}: {self.done}/{self.total} ({now - self.start:.0f} s)")

    def end(self) -> None:
        count = f" {self.done}" if self.total else ""
        log(f"{self.what}:{count} in {time.monotonic() - self.start:.1f} s")


def build_ntfs(plan: Plan, mnt: str, manifest_path: str) -> None:
    man = Manifest()

    def put(f: File, fresh: bool = True) -> None:
        data = content(f, plan.seed)
        with open(mnt + f.path, "wb" if fresh else "r+b") as fh:
            fh.write(data)
        os.utime(mnt + f.path, (mtime_of(f, plan.seed),) * 2)
        man.written(f, data)

    p = Progress("folders", len(plan.dirs))
    for d in plan.dirs:
        os.mkdir(mnt + d)
        p.tick()
    p.end()

    zeros = bytes(1 << 20)

    def fill(path: str, limit: int | None) -> None:
        with open(path, "wb", buffering=0) as fh:
            for step in (1 << 20, CLUSTER):
                try:
                    while limit is None or fh.tell() < limit:
                        fh.write(zeros[:step if limit is None else min(step, limit - fh.tell())])
                except OSError as e:
                    if e.errno != errno.ENOSPC:
                        raise

    # One contiguous stretch, taken while the volume is empty, for the
    # checker files (see below).
    head = File("/filler 1.bin", 0, "filler")
    head_path = mnt + head.path
    fill(head_path, sum(-(-f.size // CLUSTER) * CLUSTER for f in plan.checker))
    man.written(head, b"")

    p = Progress("base files", len(plan.base))
    for f in plan.base:
        put(f)
        p.tick()
    p.end()

    # ntfs-3g looks for room bitmap block by bitmap block from a moving
    # position, so a hole is only reused once nothing else is free: the volume
    # is filled up, and room is freed only where the next files are meant to
    # go. Names of every
    # later file exist before the volume is full: no MFT record of a deleted
    # file is handed out again, and no record or index block has to be found
    # on a full volume.
    for f in plan.checker + plan.frag + plan.reuse:
        open(mnt + f.path, "wb").close()
    filler = File("/filler 2.bin", 0, "filler")
    fill_path = mnt + filler.path
    p = Progress("filler", 0)
    fill(fill_path, None)
    st = os.statvfs(mnt)
    p.what = f"filler ({os.path.getsize(fill_path) >> 20} MiB, {st.f_bavail * st.f_frsize} bytes left)"
    p.end()

    def put_or_make_room(f: File) -> None:
        for attempt in range(4):
            try:
                put(f, fresh=False)
                return
            except OSError as e:
                if e.errno != errno.ENOSPC or attempt == 3:
                    raise
            # Only if the holes were not enough: free room at the filler's end.
            need = -(-f.size // CLUSTER) * CLUSTER + 16 * CLUSTER
            log(f"no room for {f.path}; shrinking the filler by {need} bytes")
            os.truncate(fill_path, max(0, os.path.getsize(fill_path) - need))

    # Each checker file gets exactly the clusters cut off the end of the
    # stretch just before it is written, which are then the only free ones:
    # so the files lie side by side whatever the driver's placement rules,
    # and every other one deleted leaves holes with live files between.
    # Now and then the freed clusters straddle a bitmap block and the driver
    # will not use them; one cluster more helps, and once the stretch is used
    # up the filler gives room instead.
    p = Progress("checker files", len(plan.checker))
    for f in plan.checker:
        need = -(-f.size // CLUSTER) * CLUSTER
        while True:
            left = os.path.getsize(head_path)
            if left == 0:
                put_or_make_room(f)
                break
            os.truncate(head_path, max(0, left - need))
            try:
                put(f, fresh=False)
                break
            except OSError as e:
                if e.errno != errno.ENOSPC:
                    raise
            need = CLUSTER
        p.tick()
    p.end()
    # Emptied before they go, so the benchmark does not restore gigabytes of
    # zeros; the records remain as deleted empty files.
    os.truncate(head_path, 0)
    os.unlink(head_path)
    man.deleted(head)

    for f in plan.checker_deleted:
        os.unlink(mnt + f.path)
        man.deleted(f)
    p = Progress("fragmented files", len(plan.frag))
    for f in plan.frag:
        put_or_make_room(f)
        p.tick()
    p.end()

    p = Progress("deletions", len(plan.delete_files) + len(plan.delete_trees))
    for f in plan.delete_files:
        os.unlink(mnt + f.path)
        man.deleted(f)
        p.tick()
    for t in plan.delete_trees:
        shutil.rmtree(mnt + t)
        p.tick()
    prefixes = tuple(t + "/" for t in plan.delete_trees)
    for f in plan.base + plan.frag:
        if f.path.startswith(prefixes):
            man.deleted(f)
    p.end()

    p = Progress("reuse files", len(plan.reuse))
    for f in plan.reuse:
        put_or_make_room(f)
        p.tick()
    p.end()

    os.truncate(fill_path, 0)
    man.written(filler, b"")
    os.unlink(fill_path)
    man.deleted(filler)
    man.write(manifest_path)


def fat_clear_next_free_hint(img: str) -> None:
    # mtools on FAT32 allocates from the FSInfo hint; without it, it starts
    # at cluster 2, so the lowest holes are filled first as on FAT12/16.
    with open(img, "r+b") as fh:
        boot = fh.read(512)
        bps = struct.unpack_from("<H", boot, 11)[0]
        fsinfo = struct.unpack_from("<H", boot, 48)[0]
        fh.seek(fsinfo * bps + 492)
        fh.write(b"\xff\xff\xff\xff")


def mtools(args: list[str], paths: list[str], batch: int = 400) -> str:
    out = []
    for i in range(0, len(paths), batch):
        r = subprocess.run(args + ["::" + p for p in paths[i:i + batch]], stdin=subprocess.DEVNULL,
                           capture_output=True, text=True)
        if r.returncode != 0:
            sys.stderr.write(r.stderr)
            raise SystemExit(f"gen-tree: {args[0]} failed")
        out.append(r.stdout)
    return "".join(out)


def cluster_runs(img: str, paths: list[str]) -> dict[str, list[range]]:
    runs = {}
    # "::/path <2-5> <9> <12-14>", one <> per run, in chain order.
    for line in mtools(["mshowfat", "-i", img], paths).splitlines():
        at = line.find(" <")
        if at >= 0:
            runs[line[2:at]] = [range(int(a), int(b or a) + 1)
                                for a, b in re.findall(r"<(\d+)(?:-(\d+))?>", line[at:])]
    return runs


def fragmented(runs: dict[str, list[range]]) -> list[str]:
    return [path for path, r in runs.items() if len(r) > 1]


def build_fat(plan: Plan, img: str, staging: str, manifest_path: str, notes_path: str) -> None:
    man = Manifest()

    def stage_and_copy(what: str, files: list[File], dirs: list[str] = ()) -> None:
        p = Progress(what, len(files))
        os.makedirs(staging, exist_ok=True)
        for d in dirs:
            os.makedirs(staging + d, exist_ok=True)
        for f in files:
            data = content(f, plan.seed)
            target = staging + f.path
            try:
                fh = open(target, "wb")
            except FileNotFoundError:
                os.makedirs(os.path.dirname(target), exist_ok=True)
                fh = open(target, "wb")
            with fh:
                fh.write(data)
            t = mtime_of(f, plan.seed)
            os.utime(target, (t, t))
            man.written(f, data)
            p.tick()
        tops = sorted(os.path.join(staging, e) for e in os.listdir(staging))
        r = subprocess.run(["mcopy", "-s", "-m", "-i", img] + tops + ["::/"],
                           stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if r.returncode != 0 or r.stderr.strip():
            sys.stderr.write(r.stderr)
            raise SystemExit(f"gen-tree: mcopy failed during {what}")
        shutil.rmtree(staging)
        p.end()

    checker_dirs = set(plan.checker_dirs)
    stage_and_copy("base files", plan.base, [d for d in plan.dirs if d not in checker_dirs])
    # A copy of its own, so these lie back to back.
    stage_and_copy("checker files", plan.checker)
    # Once deleted, a file's chain is gone from the FAT; a recovery that
    # assumes its clusters follow one another is only right if they did.
    scattered = fragmented(cluster_runs(img, [f.path for f in plan.checker_deleted]))
    mtools(["mdel", "-i", img], [f.path for f in plan.checker_deleted])
    for f in plan.checker_deleted:
        man.deleted(f)
    fat_clear_next_free_hint(img)
    stage_and_copy("fragmented files", plan.frag)

    prefixes = tuple(t + "/" for t in plan.delete_trees)
    doomed_dirs = [d for d in plan.dirs if d in plan.delete_trees or d.startswith(prefixes)]
    doomed_runs = cluster_runs(img, doomed_dirs)
    scattered += fragmented(cluster_runs(img, [f.path for f in plan.written()
                                               if f.deleted and f.phase in ("base", "frag")]))
    p = Progress("deletions", len(plan.delete_files) + len(plan.delete_trees))
    mtools(["mdel", "-i", img], [f.path for f in plan.delete_files])
    for f in plan.delete_files:
        man.deleted(f)
    mtools(["mdeltree", "-i", img], plan.delete_trees)
    for f in plan.base + plan.frag:
        if f.path.startswith(prefixes):
            man.deleted(f)
    p.done = len(plan.delete_files) + len(plan.delete_trees)
    p.end()

    fat_clear_next_free_hint(img)
    stage_and_copy("reuse files", plan.reuse)
    fresh = set()
    for runs in cluster_runs(img, [f.path for f in plan.reuse] + plan.reuse_dirs).values():
        for r in runs:
            fresh.update(r)
    lost = sorted(d for d, runs in doomed_runs.items() if any(c in fresh for r in runs for c in r))
    split = sorted(d for d, runs in doomed_runs.items() if sum(map(len, runs)) > 1)
    with open(notes_path, "w", encoding="utf-8") as fh:
        fh.writelines(f"orphaned\t{d}\n" for d in lost)
        fh.writelines(f"split-folder\t{d}\n" for d in split)
        fh.writelines(f"fragmented\t{p}\n" for p in scattered)
    log(f"deleted folders: {len(doomed_dirs)}, listing overwritten {len(lost)}, "
        f"listing in more than one cluster {len(split)}; deleted files in more than one "
        f"run {len(scattered)}")
    man.write(manifest_path)


def resident_values(record: bytearray) -> list[bytes]:
    usa_ofs, usa_count = struct.unpack_from("<HH", record, 4)
    if usa_count < 2 or usa_ofs + 2 * usa_count > len(record):
        return []
    for i in range(1, usa_count):
        end = i * SECTOR
        if end > len(record):
            return []
        record[end - 2:end] = record[usa_ofs + 2 * i:usa_ofs + 2 * i + 2]
    values = []
    off = struct.unpack_from("<H", record, 20)[0]
    while off + 24 <= len(record):
        atype, alen = struct.unpack_from("<II", record, off)
        if atype == 0xFFFFFFFF or alen < 24 or off + alen > len(record):
            break
        if atype == 0x80 and record[off + 8] == 0:
            vlen, voff = struct.unpack_from("<IH", record, off + 16)
            values.append(bytes(record[off + voff:off + voff + vlen]))
        off += alen
    return values


def check(plan: Plan, fs: str, image: str, manifest_path: str, status_path: str,
          notes_path: str | None) -> None:
    t0 = time.monotonic()
    man = {}
    with open(manifest_path, encoding="utf-8") as fh:
        for line in fh:
            path, size, sha, deleted = line.rstrip("\n").split("\t")
            man[path] = (int(size), sha, deleted == "1")
    files = {f.path: f for f in plan.written()}
    gone = [p for p, (_, _, d) in man.items() if d]
    for p in gone:
        if p not in files:
            # The NTFS filler, emptied before it was deleted.
            files[p] = File(p, man[p][0], "filler")

    # Keyed by a sector's first 16 bytes, then by the piece's length, then by
    # a digest of a whole sector or the bytes of a last, shorter piece: files
    # of one type share their first 16 bytes, and a hit on such a sector must
    # cost one look-up per length, not one per file of that type.
    want: dict[bytes, dict[int, dict[bytes, list[tuple[int, int]]]]] = {}
    found: list[bytearray] = []
    shas = []
    for i, path in enumerate(gone):
        data = content(files[path], plan.seed)
        shas.append(hashlib.sha256(data).hexdigest())
        if shas[-1] != man[path][1]:
            raise SystemExit(f"gen-tree: {path} does not match its manifest line")
        n = (len(data) + SECTOR - 1) // SECTOR
        found.append(bytearray(n))
        for s in range(n):
            piece = data[s * SECTOR:(s + 1) * SECTOR]
            key = piece[:16].ljust(16, b"\0")
            ident = hashlib.blake2b(piece, digest_size=8).digest() if len(piece) == SECTOR else piece
            want.setdefault(key, {}).setdefault(len(piece), {}).setdefault(ident, []).append((i, s))
    log(f"check: {len(gone)} deleted files, {sum(len(x) for x in found)} sectors to look for "
        f"({time.monotonic() - t0:.1f} s)")

    resident = set()
    fd = os.open(image, os.O_RDONLY)
    end = os.fstat(fd).st_size
    pos, chunk_size, scanned = 0, 8 << 20, 0
    while pos < end:
        try:
            pos = os.lseek(fd, pos, os.SEEK_DATA)
        except OSError:
            break
        hole = os.lseek(fd, pos, os.SEEK_HOLE)
        pos -= pos % 4096
        while pos < hole:
            buf = os.pread(fd, min(chunk_size, hole - pos), pos)
            scanned += len(buf)
            mv = memoryview(buf)
            lookup = want.get
            for o in range(0, len(buf) - SECTOR + 1, SECTOR):
                hits = lookup(buf[o:o + 16])
                if hits is None:
                    continue
                for length, table in hits.items():
                    ident = blake2b(mv[o:o + SECTOR], digest_size=8).digest() \
                        if length == SECTOR else buf[o:o + length]
                    for i, s in table.get(ident, ()):
                        found[i][s] = 1
            if fs == "ntfs":
                o = buf.find(b"FILE")
                while o >= 0:
                    if o % 1024 == 0:
                        for v in resident_values(bytearray(buf[o:o + 1024])):
                            resident.add(hashlib.sha256(v).hexdigest())
                    o = buf.find(b"FILE", o + 1)
            pos += len(buf)
    os.close(fd)

    # Deleted folders above a file whose listing is gone or scattered; the
    # first kind that applies names the file's entry.
    entry_kinds: list[list[str]] = []
    scattered: set[str] | None = None
    if notes_path and os.path.exists(notes_path):
        scattered = set()
        with open(notes_path, encoding="utf-8") as fh:
            for line in fh:
                kind, path = line.rstrip("\n").split("\t")
                if kind == "fragmented":
                    scattered.add(path)
                else:
                    entry_kinds.append([kind, path])

    def entry_of(path: str) -> str:
        for kind, d in entry_kinds:
            if path.startswith(d + "/"):
                return kind
        return "listed"

    counts: dict[str, int] = {}
    with open(status_path + ".tmp", "w", encoding="utf-8") as out:
        for i, path in enumerate(gone):
            got, total = sum(found[i]), len(found[i])
            if total == 0 or got == total or (fs == "ntfs" and shas[i] in resident):
                state = "intact"
            elif got == 0:
                state = "overwritten"
            else:
                state = "partly-overwritten"
            entry = entry_of(path)
            layout = "-" if scattered is None else \
                "fragmented" if path in scattered else "contiguous"
            for k in (state, entry, layout):
                counts[k] = counts.get(k, 0) + 1
            out.write(f"{path}\t{state}\t{entry}\t{layout}\n")
    os.replace(status_path + ".tmp", status_path)
    live = sum(1 for v in man.values() if not v[2])
    log(f"check: {len(man)} files written, {live} live, {len(gone)} deleted: " +
        ", ".join(f"{k} {v}" for k, v in sorted(counts.items()) if k != "-") +
        f"; scanned {scanned >> 20} MiB in {time.monotonic() - t0:.1f} s")


def describe(plan: Plan) -> None:
    written = plan.written()
    deleted = [f for f in written if f.deleted]
    log(f"{len(plan.dirs)} folders, {len(written)} files, {sum(f.size for f in written) >> 20} MiB; "
        f"base {len(plan.base)}, checker {len(plan.checker)} (half deleted), "
        f"fragmented {len(plan.frag)}, reuse {len(plan.reuse)} "
        f"({sum(f.size for f in plan.reuse) >> 20} MiB); deleted {len(deleted)} "
        f"({sum(f.size for f in deleted) >> 20} MiB) in {len(plan.delete_trees)} trees and "
        f"{len(plan.delete_files)} single files; "
        f"tiny {sum(1 for f in written if f.size < 600)}, "
        f">= 1 MiB {sum(1 for f in written if f.size >= 1 << 20)}")


def main(argv: list[str]) -> int:
    if len(argv) < 3 or argv[0] not in ("plan", "ntfs", "fat32", "check"):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    cmd, size = argv[0], argv[1]
    fs = argv[2] if cmd in ("plan", "check") else cmd
    if (size, fs) not in PROFILES:
        print(f"gen-tree: unknown profile {size} {fs}", file=sys.stderr)
        return 2
    t = time.monotonic()
    plan = build_plan(size, fs)
    log(f"plan {size}-{fs} in {time.monotonic() - t:.1f} s")
    describe(plan)
    if cmd == "ntfs":
        build_ntfs(plan, argv[2], argv[3])
    elif cmd == "fat32":
        build_fat(plan, argv[2], argv[3], argv[4], argv[5])
    elif cmd == "check":
        check(plan, fs, argv[3], argv[4], argv[5], argv[6] if len(argv) > 6 else None)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
