#!/usr/bin/env python3
"""restovo-cli run as a user would run it, on real images.

Environment: RESTOVO_CLI (the program), RESTOVO_FIXTURES (the fixture folder).
"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from cli_support import FIXTURES, fixture, sha256

CLI = os.environ.get("RESTOVO_CLI", "restovo-cli")
ORIGINALS = "/usr/share/forensics-samples/original-files"
HERE = os.path.dirname(os.path.abspath(__file__))


def run(*args, **kw):
    env = dict(os.environ, TZ="UTC")
    return subprocess.run([CLI, *args], capture_output=True, text=True, env=env, timeout=300, **kw)


def scan_json(image, *extra):
    r = run("scan", image, "--json", *extra)
    if r.returncode != 0:
        raise AssertionError("scan failed (%d): %s" % (r.returncode, r.stderr))
    return json.loads(r.stdout)


def tsk_deleted_files(image):
    """Deleted files as The Sleuth Kit's fls lists them, relative to the volume root."""
    offset = []
    mmls = subprocess.run(["mmls", image], capture_output=True, text=True)
    if mmls.returncode == 0:
        for line in mmls.stdout.splitlines():
            m = re.match(r"\s*\d+:\s+\d+:\d+\s+(\d+)\s+\d+\s+\d+\s+.*(FAT|NTFS)", line)
            if m:
                offset = ["-o", str(int(m.group(1)))]
    out = subprocess.run(["fls", "-r", "-d", "-p", "-l", *offset, image], capture_output=True,
                         text=True, check=True).stdout
    files = set()
    for line in out.splitlines():
        kind, _, rest = line.partition(" ")
        fields = rest.split("\t")
        path, size = fields[1], int(fields[6])
        # Orphans have no folder, named streams are part of their file, empty files
        # have nothing to restore.
        if not kind.endswith("/r") or path.startswith("$OrphanFiles") or ":" in path or size == 0:
            continue
        files.add(path)
    return files


class Drives(unittest.TestCase):
    def test_partitioned_sample_offers_ntfs_and_says_why_not_exfat(self):
        r = run("drives", fixture("fs.multiple"))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = {l.split()[0]: l for l in r.stdout.splitlines() if l.startswith("  fs.multiple")}
        self.assertIn("NTFS", lines["fs.multiple#4"])
        self.assertIn("not offered: exFAT is not supported", lines["fs.multiple#3"])
        self.assertIn("not offered: ext4 is not supported", lines["fs.multiple#2"])

    def test_fat32_sample_is_one_drive_with_its_size(self):
        r = run("drives", fixture("fs.vfat"))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = [l for l in r.stdout.splitlines() if l.startswith("  fs.vfat")]
        self.assertEqual(len(lines), 1)
        self.assertRegex(lines[0], r"fs\.vfat#1\s+FAT32\s+image\s+-\s+48\.2 MB\s+free 39\.3 MB")

    def test_unreadable_image_fails(self):
        r = run("drives", "/nonexistent/card.img")
        self.assertEqual(r.returncode, 1)
        self.assertIn("No such file or directory", r.stdout)


class Scan(unittest.TestCase):
    def test_forensic_sample_lists_the_deleted_folders_with_original_sizes(self):
        found = scan_json(fixture("fs.vfat"))
        self.assertTrue(found["complete"])
        self.assertEqual(found["file_system"], "FAT32")
        files = {i["path"]: i for i in found["items"] if not i["folder"]}
        folders = {i["path"] for i in found["items"] if i["folder"]}
        self.assertEqual(folders, {"fs.vfat#1/%s/" % d for d in ("audio2", "movie2", "pic2", "text2")})
        self.assertEqual(len(files), 16)
        for path, item in files.items():
            folder, name = path.split("/")[1:]
            original = os.path.join(ORIGINALS, folder, name)
            self.assertTrue(os.path.exists(original), path)
            self.assertEqual(item["size"], os.path.getsize(original), path)
            self.assertEqual(item["state"], "Good", path)
            self.assertTrue(item["deleted"])
            self.assertRegex(item["modified"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")

    def test_ntfs_sample_lists_the_deleted_folders_with_original_sizes(self):
        found = scan_json(fixture("fs.ntfs"))
        self.assertEqual(found["file_system"], "NTFS")
        files = {i["path"]: i for i in found["items"] if not i["folder"]}
        self.assertEqual(len(files), 18)
        for path, item in files.items():
            folder, name = path.split("/")[1:]
            self.assertEqual(item["size"], os.path.getsize(os.path.join(ORIGINALS, folder, name)), path)
            self.assertEqual(item["state"], "Good", path)
        # The NTFS partition of the four-partition sample is chosen when named, and alone
        # offered without a name.
        for args in (("--partition", "4"), ()):
            r = run("scan", fixture("fs.multiple"), *args)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("found on fs.multiple#4 (NTFS)", r.stdout)

    def test_tree_and_json_list_the_same_items(self):
        image = fixture("fat16.img")
        tree = run("scan", image)
        self.assertEqual(tree.returncode, 0, tree.stderr)
        # Columns: state, size, modified, then the path from the 47th character.
        paths = [l[46:].replace("  (deleted folder)", "")
                 for l in tree.stdout.splitlines()[1:] if "fat16.img/" in l]
        self.assertEqual(paths, [i["path"] for i in scan_json(image)["items"]])
        self.assertRegex(tree.stdout, r"\n\d+ deleted files \([^)]*\) found on fat16\.img \(FAT\)\.\n$")

    def test_every_deleted_file_the_sleuth_kit_lists_is_found(self):
        for name in ("fat12.img", "fat16.img", "fat32.img", "fs.vfat", "ntfs.img", "fs.ntfs"):
            with self.subTest(image=name):
                image = fixture(name)
                ours = set()
                for item in scan_json(image)["items"]:
                    if not item["folder"]:
                        # The Sleuth Kit writes a lost first character as "_", Restovo as "$".
                        ours.add(re.sub(r"(^|/)\$", r"\1_", item["path"].split("/", 1)[1]))
                missing = tsk_deleted_files(image) - ours
                self.assertEqual(missing, set())

    def test_the_source_is_never_written(self):
        image = fixture("fat32.img")
        before = sha256(image), os.stat(image).st_mtime_ns
        scan_json(image)
        run("scan", image)
        self.assertEqual((sha256(image), os.stat(image).st_mtime_ns), before)

    def test_bad_input(self):
        cases = [
            ((), 1, "Usage"),
            (("scan",), 1, "Usage: restovo-cli scan"),
            (("scan", "/nonexistent.img"), 1, "no such file"),
            (("scan", fixture("fs.vfat"), "--bogus"), 1, "unknown option"),
            (("scan", fixture("fs.multiple"), "--partition", "3"), 1, "exFAT is not supported"),
            (("scan", fixture("fs.multiple"), "--partition", "9"), 1, "has no partition 9"),
            (("scan", fixture("fs.vfat"), "--partition", "x"), 1, "partition number"),
            (("frobnicate",), 1, "unknown command"),
        ]
        for args, code, text in cases:
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(text, r.stderr)

    def test_a_volume_without_a_file_system_is_refused(self):
        with tempfile.NamedTemporaryFile(suffix=".img") as f:
            f.write(os.urandom(1 << 20))
            f.flush()
            r = run("scan", f.name)
            self.assertEqual(r.returncode, 1)
            self.assertIn("no FAT or NTFS volume", r.stderr)


def tree_files(root):
    out = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            out[os.path.relpath(path, root)] = path
    return out


class Restore(unittest.TestCase):
    def restore(self, *args):
        return run("restore", *args)

    def test_forensic_sample_comes_back_byte_for_byte_with_its_times(self):
        image = fixture("fs.vfat")
        with tempfile.TemporaryDirectory() as out:
            r = self.restore(image, "--to", out)
            self.assertEqual(r.returncode, 0, r.stderr + r.stdout)
            self.assertIn("16 files written", r.stdout)
            restored = tree_files(out)
            self.assertEqual(len(restored), 16)
            times = {i["path"].split("/", 1)[1]: i["modified"] for i in scan_json(image)["items"]}
            for rel, path in restored.items():
                if rel == "pic2/d-debian.png":
                    # The package's copy differs from the one written into the image: compare
                    # with what The Sleuth Kit extracts.
                    listing = subprocess.run(["fls", "-r", "-p", "-o", "2048", image],
                                             capture_output=True, text=True).stdout
                    inode = re.search(r"(\d+):\tpic2/d-debian\.png$", listing, re.M).group(1)
                    expected = subprocess.run(["icat", "-o", "2048", image, inode], capture_output=True).stdout
                    with open(path, "rb") as f:
                        self.assertEqual(f.read(), expected)
                else:
                    self.assertEqual(sha256(path), sha256(os.path.join(ORIGINALS, rel)), rel)
                mtime = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(os.stat(path).st_mtime))
                self.assertEqual(mtime, times[rel], rel)

    def test_every_deleted_file_of_the_fixtures_that_is_intact_comes_back(self):
        # On FAT a deleted file's clusters are guessed: from its first cluster on, passing
        # over clusters other files hold; NTFS keeps the runs of every kind of file.
        intact = {"fat": {"deleted", "fragmented-deleted"},
                  "ntfs": {"deleted", "resident-deleted", "compressed-deleted", "sparse-deleted",
                           "fragmented-deleted"}}
        for name in ("fat12", "fat16", "fat32", "ntfs"):
            with self.subTest(image=name), tempfile.TemporaryDirectory() as out:
                image = fixture(name + ".img")
                r = self.restore(image, "--to", out)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                restored = tree_files(out)
                with open(os.path.join(FIXTURES, name + ".manifest.tsv")) as f:
                    manifest = [l.rstrip("\n").split("\t") for l in f if l.strip()]
                checked = 0
                for path, size, digest, kind, status in manifest:
                    wanted = intact["ntfs" if name == "ntfs" else "fat"]
                    if kind != "file" or status not in wanted or size == "0" or ":" in path:
                        continue
                    # A deleted 8.3 name lost its first character ("$").
                    folder, base = os.path.split(path[1:])
                    candidates = [os.path.join(folder, base), os.path.join(folder, "$" + base[1:])]
                    found = [restored[c] for c in candidates if c in restored]
                    self.assertTrue(found, path)
                    self.assertEqual(sha256(found[0]), digest, path)
                    checked += 1
                self.assertGreater(checked, 5)

    def test_only_good_writes_just_the_files_rated_good(self):
        # The images hold overwritten and fragmented deleted files, rated below Good.
        for name in ("fat32", "ntfs"):
            with self.subTest(image=name), tempfile.TemporaryDirectory() as out:
                image = fixture(name + ".img")
                items = [i for i in scan_json(image)["items"] if not i["folder"] and i["deleted"]]
                good = sorted(i["path"].split("/", 1)[1] for i in items if i["state"] == "Good")
                self.assertTrue(good)
                self.assertLess(len(good), len(items), "the image holds no file rated below Good")
                r = self.restore(image, "--to", out, "--only-good")
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertEqual(sorted(tree_files(out)), good)

    def test_ntfs_sample_comes_back_byte_for_byte(self):
        image = fixture("fs.ntfs")
        with tempfile.TemporaryDirectory() as out:
            r = self.restore(image, "--to", out)
            self.assertEqual(r.returncode, 0, r.stderr + r.stdout)
            restored = tree_files(out)
            self.assertEqual(len(restored), 18)
            listing = subprocess.run(["fls", "-r", "-p", "-o", "2048", image], capture_output=True, text=True).stdout
            for rel, path in restored.items():
                if rel == "pic2/d-debian.png":
                    inode = re.search(r"(\S+):\tpic2/d-debian\.png$", listing, re.M).group(1)
                    expected = subprocess.run(["icat", "-o", "2048", image, inode], capture_output=True).stdout
                    with open(path, "rb") as f:
                        self.assertEqual(f.read(), expected)
                else:
                    self.assertEqual(sha256(path), sha256(os.path.join(ORIGINALS, rel)), rel)

    def test_match_path_and_existing_files(self):
        image = fixture("fat16.img")
        with tempfile.TemporaryDirectory() as out:
            r = self.restore(image, "--to", out, "--match", "*.TXT", "--path", "Old Projects")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(set(tree_files(out)),
                             {"Old Projects/Project Plan.txt", "Old Projects/Drafts/First Draft.txt",
                              "Old Projects/Drafts/$OTES.TXT"})
            again = self.restore(image, "--to", out, "--match", "first*", "--path", "Old Projects/Drafts")
            self.assertEqual(again.returncode, 0, again.stderr)
            self.assertIn("Old Projects/Drafts/First Draft(1).txt", tree_files(out))
            skip = self.restore(image, "--to", out, "--match", "first*", "--existing", "skip")
            self.assertIn("0 files written", skip.stdout)
            self.assertIn("1 skipped", skip.stdout)
            none = self.restore(image, "--to", out, "--match", "*.nothing")
            self.assertEqual(none.returncode, 0)
            self.assertIn("no deleted file matches", none.stderr)

    def test_a_read_only_destination_gives_reasons_and_fails(self):
        image = fixture("fat16.img")
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "ro")
            os.mkdir(target)
            # A read-only file system, mounted in a private namespace of this test alone.
            probe = subprocess.run(["unshare", "-m", "sh", "-c", "mount -t tmpfs -o ro tmpfs " + target],
                                   capture_output=True)
            if probe.returncode != 0:
                self.skipTest("no private mount namespace here: " + probe.stderr.decode())
            script = 'mount -t tmpfs -o ro tmpfs "$1" && exec "$2" restore "$3" --to "$1"'
            r = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", target, CLI, image],
                               capture_output=True, text=True)
            self.assertNotEqual(r.returncode, 0)
            self.assertIn("Read-only file system", r.stdout + r.stderr)

    def test_a_full_destination_ends_the_run_with_an_error(self):
        image = fixture("fat16.img")
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "small")
            os.mkdir(target)
            # A 16 KiB file system, mounted in a private namespace of this test alone.
            script = 'mount -t tmpfs -o size=16k tmpfs "$1" && exec "$2" restore "$3" --to "$1"'
            r = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", target, CLI, image],
                               capture_output=True, text=True)
            if "mount" in r.stderr and "restovo-cli" not in r.stderr:
                self.skipTest("no private mount namespace here: " + r.stderr)
            self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
            self.assertIn("The destination is full (No space left on device).", r.stderr)
            self.assertIn("Writing failed: No space left on device.", r.stdout)

    def test_per_file_failures_are_listed_and_the_exit_code_says_so(self):
        image = fixture("fat16.img")
        with tempfile.TemporaryDirectory() as out:
            # Files stand where two of the folders must go.
            for blocker in ("Documents", "Old Projects"):
                open(os.path.join(out, blocker), "w").close()
            r = self.restore(image, "--to", out)
            self.assertEqual(r.returncode, 3, r.stderr)
            # Every file below a folder that cannot be made is a failure of its own, listed
            # with its path, and the counts add up to the files asked for.
            wanted = int(re.search(r"Restoring (\d+) files?", r.stderr).group(1))
            m = re.search(r"(\d+) files? written .*, (\d+) skipped, (\d+) failed", r.stdout)
            written, skipped, failed = map(int, m.groups())
            self.assertEqual(written + skipped + failed, wanted, r.stdout)
            blocked = r.stdout.count("The folder cannot be created: Not a directory.")
            self.assertEqual(blocked, failed)
            for line in r.stdout.splitlines():
                if line.strip().startswith("failed: "):
                    self.assertRegex(line, r"/(Documents|Old Projects)/")

    def test_the_source_is_never_written(self):
        image = fixture("fat12.img")
        before = sha256(image)
        with tempfile.TemporaryDirectory() as out:
            self.restore(image, "--to", out)
        self.assertEqual(sha256(image), before)


def recycle_record(version, path):
    """A recycle-bin information record as the system writes it: version, size, time, path."""
    text = (path + "\0").encode("utf-16-le")
    head = version.to_bytes(8, "little") + (4096).to_bytes(8, "little") + (0x01DA << 48).to_bytes(8, "little")
    if version == 2:
        return head + (len(text) // 2).to_bytes(4, "little") + text
    return head + text.ljust(520, b"\0")


def make_recycled_image(tmp):
    """A FAT volume whose recycle bin was emptied, and a folder elsewhere holding a "$R"
    file whose record lies in the bin: it must keep its name."""
    image = os.path.join(tmp, "recycled.img")
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1", MTOOLSRC="/dev/null")
    def tool(*args):
        subprocess.run(args, check=True, capture_output=True, env=env)
    tool("mkfs.fat", "-C", image, "4096")
    user = "::/$RECYCLE.BIN/S-1-5-21-1001"
    for d in ("::/$RECYCLE.BIN", user, "::/OTHER"):
        tool("mmd", "-i", image, d)
    files = [(user, "$I1A2B3C.jpg", recycle_record(1, "C:\\Users\\x\\Pictures\\cat.jpg")),
             (user, "$R1A2B3C.jpg", b"j" * 3000),
             (user, "$I7Q9W2E.docx", recycle_record(2, "C:\\Users\\x\\Documents\\Brief an M\u00fcller.docx")),
             (user, "$R7Q9W2E.docx", b"d" * 5000),
             (user, "$RZZZZZZ.png", b"p" * 2000),
             ("::/OTHER", "$R7Q9W2E.docx", b"o" * 1000)]
    for folder, name, content in files:
        local = os.path.join(tmp, name)
        with open(local, "wb") as f:
            f.write(content)
        tool("mcopy", "-o", "-i", image, local, folder + "/" + name)
    tool("mdel", "-i", image, user + "/*", "::/OTHER/*")
    return image


class RecycledFiles(unittest.TestCase):
    def test_recycled_files_are_listed_and_restored_by_their_original_names(self):
        with tempfile.TemporaryDirectory() as tmp:
            image = make_recycled_image(tmp)
            found = scan_json(image)
            names = {i["path"].split("/", 1)[1] for i in found["items"] if not i["folder"]}
            bin_ = "$RECYCLE.BIN/S-1-5-21-1001/"
            self.assertIn(bin_ + "cat.jpg", names)
            self.assertIn(bin_ + "Brief an M\u00fcller.docx", names)
            self.assertIn(bin_ + "$RZZZZZZ.png", names)  # its record is gone
            self.assertIn("OTHER/$R7Q9W2E.docx", names)  # the record of another folder
            out = os.path.join(tmp, "out")
            r = run("restore", image, "--to", out, "--match", "cat.jpg")
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(os.path.join(out, "$RECYCLE.BIN", "S-1-5-21-1001", "cat.jpg"), "rb") as f:
                self.assertEqual(f.read(), b"j" * 3000)


def catches_sigint(pid):
    """Whether the process has a handler for SIGINT (its caught-signals mask, bit 2)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("SigCgt:"):
                    return int(line.split()[1], 16) & (1 << (signal.SIGINT - 1)) != 0
    except OSError:
        pass
    return False


class Interrupt(unittest.TestCase):
    def test_ctrl_c_stops_the_scan_and_prints_what_was_found(self):
        with tempfile.TemporaryDirectory() as tmp:
            image = os.path.join(tmp, "slow.img")
            subprocess.run([sys.executable, os.path.join(HERE, "make-slow-fat32.py"), image], check=True)
            p = subprocess.Popen([CLI, "scan", image], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True, env=dict(os.environ, TZ="UTC"))
            # Ctrl-C only once the scan catches it: a slow start (sanitizers, a busy
            # machine) would otherwise see the default action kill the process.
            deadline = time.monotonic() + 60
            while not catches_sigint(p.pid) and p.poll() is None and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(0.5)
            self.assertIsNone(p.poll(), "the scan ended before it could be interrupted")
            sent = time.monotonic()
            p.send_signal(signal.SIGINT)
            out, err = p.communicate(timeout=60)
            waited = time.monotonic() - sent
            self.assertEqual(p.returncode, 2, err)
            self.assertLess(waited, 5.0, "the scan did not stop promptly")
            self.assertIn("the scan was stopped", err)
            self.assertIn("Stopped early:", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
