#!/usr/bin/env python3
"""restovo-cli on volumes prepared to break a recovery tool (tests/fixtures/make-hostile-images.sh).

Whatever a volume says, the program must finish, stay within its destination folder,
keep its memory bounded and still bring back every intact deleted file byte for byte.

Environment: RESTOVO_CLI (the program), RESTOVO_FIXTURES (the fixture folder),
RESTOVO_SANITIZE (1 when the program is built with AddressSanitizer; guessed from the
binary when unset).
"""
import collections
import json
import os
import tempfile
import unittest

from cli_child import CLI, MEMORY_LIMIT, SANITIZED, crash_of, run_limited
from cli_support import fixture, sha256

# A hang guard, not a speed test: each of these images scans in well under a second.
HANG_GUARD = 60


def manifest(image):
    with open(fixture(image.replace(".img", ".manifest.tsv"))) as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    return {path: (int(size), digest) for path, size, digest in rows}


def run(*args, timeout=HANG_GUARD):
    r = run_limited(args, timeout)
    what = "restovo-cli " + " ".join(args)
    if r.timed_out:
        raise AssertionError("%s did not end within %d s" % (what, timeout))
    crash = crash_of(r)
    if crash:
        raise AssertionError("%s: %s\n%s" % (what, crash, r.stderr[-3000:]))
    return r


def scan_json(image):
    r = run("scan", image, "--json")
    if r.returncode != 0:
        raise AssertionError("scan failed (%d): %s" % (r.returncode, r.stderr[-3000:]))
    return json.loads(r.stdout), r


def tree(root):
    """Every file, folder and link below ROOT, relative to it."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            out[os.path.relpath(path, root)] = path
    return out


def regular_files(root):
    return {rel: path for rel, path in tree(root).items()
            if os.path.isfile(path) and not os.path.islink(path)}


class RestoreChecks(unittest.TestCase):
    def assert_manifest_restored(self, image, out, skip=()):
        files = regular_files(out)
        for path, (size, digest) in manifest(image).items():
            rel = path.lstrip("/")
            if path in skip:
                continue
            self.assertIn(rel, files, "%s was not restored; written: %s" % (path, sorted(files)))
            self.assertEqual(os.path.getsize(files[rel]), size, path)
            self.assertEqual(sha256(files[rel]), digest, path)

    def assert_memory_bounded(self, r, what):
        self.assertLess(r.maxrss, MEMORY_LIMIT, "%s peaked at %d MB (bound %d MB)" % (
            what, r.maxrss >> 20, MEMORY_LIMIT >> 20))


class EscapingName(RestoreChecks):
    """A deleted NTFS file named "../../escaped.txt" in the root folder."""

    IMAGE = "ntfs-escape.img"

    def test_restore_stays_inside_the_destination_and_keeps_the_file(self):
        image = fixture(self.IMAGE)
        _, digest = manifest(self.IMAGE)["/../../escaped.txt"]
        for existing in ([], ["--existing", "overwrite"]):
            with self.subTest(existing=existing), tempfile.TemporaryDirectory() as scratch:
                # ../../ from the destination lands on "outer", where a file of that name
                # already stands: neither a new file nor a changed one may appear there.
                dest = os.path.join(scratch, "outer", "inner", "dest")
                os.makedirs(dest)
                sentinel = os.path.join(scratch, "outer", "escaped.txt")
                with open(sentinel, "w") as f:
                    f.write("not Restovo's to touch\n")
                r = run("restore", image, "--to", dest, *existing)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                outside = {rel for rel in tree(scratch) if not rel.startswith("outer/inner/dest/")}
                self.assertEqual(outside, {"outer", "outer/inner", "outer/inner/dest", "outer/escaped.txt"},
                                 "written outside the destination")
                with open(sentinel) as f:
                    self.assertTrue(f.read() == "not Restovo's to touch\n", "the file outside was overwritten")
                links = [rel for rel, path in tree(dest).items() if os.path.islink(path)]
                self.assertEqual(links, [])
                files = regular_files(dest)
                landed = [rel for rel in files if "escaped.txt" in os.path.basename(rel)]
                self.assertEqual(len(landed), 1, "restored: %s" % sorted(files))
                self.assertNotIn("..", landed[0].split(os.sep))
                self.assertEqual(sha256(files[landed[0]]), digest)
                self.assert_manifest_restored(self.IMAGE, dest, skip={"/../../escaped.txt"})


class SelfLoopingFolder(RestoreChecks):
    """A live folder's last cluster is its own successor in the FAT."""

    IMAGES = ("fat12-selfloop.img", "fat16-selfloop.img", "fat32-selfloop.img")

    def test_each_file_is_listed_and_restored_once(self):
        for name in self.IMAGES:
            with self.subTest(image=name), tempfile.TemporaryDirectory() as out:
                image = fixture(name)
                wanted = manifest(name)
                found, _ = scan_json(image)
                paths = collections.Counter(item["path"] for item in found["items"])
                repeated = {p: n for p, n in paths.items() if n > 1}
                self.assertEqual(repeated, {}, "listed more than once")
                for path in wanted:
                    self.assertIn(name + path, paths)

                r = run("restore", image, "--to", out)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertEqual(sorted(regular_files(out)), sorted(p.lstrip("/") for p in wanted))
                self.assertIn("%d files written" % len(wanted), r.stdout)
                self.assert_manifest_restored(name, out)


class ForgedSizes(RestoreChecks):
    def test_a_file_claiming_two_to_the_62_bytes(self):
        name = "ntfs-hugesize.img"
        image = fixture(name)
        found, r = scan_json(image)
        self.assert_memory_bounded(r, "the scan")
        self.assertIn(name + "/Big/huge.bin", [i["path"] for i in found["items"]])
        with tempfile.TemporaryDirectory() as out:
            r = run("restore", image, "--to", out)
            self.assert_memory_bounded(r, "the restore")
            self.assertIn(r.returncode, (0, 3), r.stdout + r.stderr)
            self.assert_manifest_restored(name, out)
            huge = os.path.join(out, "Big", "huge.bin")
            if os.path.exists(huge):
                # What its runs hold is at most the whole volume.
                self.assertLessEqual(os.path.getsize(huge), os.path.getsize(image))
            else:
                self.assertEqual(r.returncode, 3, "huge.bin was neither restored nor reported")
                self.assertIn("huge.bin", r.stdout)

    def test_a_volume_and_bitmap_claiming_two_to_the_40_sectors(self):
        name = "ntfs-hugebitmap.img"
        image = fixture(name)
        found, r = scan_json(image)
        self.assert_memory_bounded(r, "the scan")
        deleted = {i["path"] for i in found["items"] if not i["folder"]}
        self.assertEqual(deleted, {name + p for p in manifest(name)})
        with tempfile.TemporaryDirectory() as out:
            r = run("restore", image, "--to", out)
            self.assert_memory_bounded(r, "the restore")
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assert_manifest_restored(name, out)


class TruncatedImage(RestoreChecks):
    """Images cut to 60 % of their volume: a folder or deleted data lie past the end."""

    IMAGES = ("fat32-truncated.img", "ntfs-truncated.img")

    def test_the_scan_says_it_is_incomplete_and_by_how_much(self):
        for name in self.IMAGES:
            with self.subTest(image=name):
                image = fixture(name)
                found, _ = scan_json(image)
                self.assertIs(found["complete"], False)
                self.assertIn("unreadable_bytes", found)
                self.assertIs(type(found["unreadable_bytes"]), int)
                self.assertGreater(found["unreadable_bytes"], 0)
                text = run("scan", image)
                self.assertEqual(text.returncode, 0, text.stderr)
                lines = [l for l in (text.stdout + text.stderr).splitlines() if "could not be read" in l]
                self.assertTrue(lines, text.stdout + text.stderr)
                self.assertRegex(lines[0], r"\d")

    def test_what_lies_before_the_cut_still_comes_back(self):
        for name in self.IMAGES:
            with self.subTest(image=name), tempfile.TemporaryDirectory() as out:
                r = run("restore", fixture(name), "--to", out)
                self.assertIn(r.returncode, (0, 3), r.stdout + r.stderr)
                self.assert_manifest_restored(name, out)


class UnreadableMetadata(RestoreChecks):
    """Volumes whose metadata is partly or wholly gone: a scan that can go on must find
    what it found before, and one that cannot must fail with the reason, never end as an
    empty, complete scan."""

    def listing(self, image):
        found, _ = scan_json(fixture(image))
        prefix = image + "/"
        return found, {(i["path"][len(prefix):], i["size"], i["state"]) for i in found["items"]}

    def test_the_mft_mirror_stands_in_for_a_zeroed_first_record(self):
        intact, expected = self.listing("ntfs-intact.img")
        self.assertTrue(any(not i["folder"] for i in intact["items"]), "the intact image lists no file")
        found, listed = self.listing("ntfs-mft0-zeroed.img")
        self.assertEqual(listed, expected)
        self.assertIs(found["complete"], True)
        with tempfile.TemporaryDirectory() as out:
            r = run("restore", fixture("ntfs-mft0-zeroed.img"), "--to", out)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assert_manifest_restored("ntfs-mft0-zeroed.img", out)

    def test_metadata_that_cannot_be_read_fails_the_scan(self):
        cases = (("ntfs-mft0-mirror-zeroed.img", "master file table cannot be read"),
                 ("fat16-cut-in-table.img", "file allocation table cannot be read"))
        for name, reason in cases:
            for args in ([], ["--json"]):
                with self.subTest(image=name, args=args):
                    r = run("scan", fixture(name), *args)
                    self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                    self.assertIn(reason, r.stderr)
                    self.assertEqual(r.stdout.strip(), "", "a failed scan printed a result")

    def test_a_fat_volume_cut_in_its_data_area_scans_with_what_is_missing_counted(self):
        name = "fat16-cut-in-data.img"
        found, _ = scan_json(fixture(name))
        self.assertGreater(found["unreadable_bytes"], 0)
        self.assertIs(found["complete"], False)
        deleted = {i["path"] for i in found["items"] if not i["folder"]}
        self.assertEqual(deleted, {name + p for p in manifest(name)})
        with tempfile.TemporaryDirectory() as out:
            r = run("restore", fixture(name), "--to", out)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assert_manifest_restored(name, out)


if __name__ == "__main__":
    print("restovo-cli: %s (%s)" % (CLI, "sanitized" if SANITIZED else "not sanitized"))
    unittest.main(verbosity=2)
