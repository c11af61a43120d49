#!/usr/bin/env python3
"""The deep scan of restovo-cli on volumes where the live metadata lost deleted folders:
folder trees deleted with mdeltree whose clusters lie apart, a folder whose entry was
overwritten, a long name partly overwritten, a quick-formatted card, a card formatted
with another cluster size, and NTFS files whose records new files took."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

from cli_support import fixture, sha256

CLI = os.environ.get("RESTOVO_CLI", "restovo-cli")
ENV = dict(os.environ, TZ="UTC")


def manifest(name):
    with open(fixture(name + ".manifest.tsv")) as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    return [(path, int(size), digest, status) for path, size, digest, kind, status in rows if kind == "file"]


def scan(image, *options):
    r = subprocess.run([CLI, "scan", image, "--json", *options], capture_output=True, text=True, env=ENV)
    if r.returncode != 0:
        raise AssertionError(r.stderr)
    return json.loads(r.stdout)


def restore(image, out, *options):
    r = subprocess.run([CLI, "restore", image, "--to", out, *options], capture_output=True, text=True, env=ENV)
    if r.returncode != 0:
        raise AssertionError(r.stderr)
    restored = {}
    for top, _, files in os.walk(out):
        for name in files:
            path = os.path.join(top, name)
            restored["/" + os.path.relpath(path, out)] = sha256(path)
    return restored


def tail(path, depth):
    return "/".join(path.split("/")[-depth:])


class DeletedTrees(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = fixture("fat32-deltree.img")
        cls.files = manifest("fat32-deltree")
        with tempfile.TemporaryDirectory() as quick, tempfile.TemporaryDirectory() as deep:
            cls.quick = restore(cls.image, quick)
            cls.deep = restore(cls.image, deep, "--deep")

    def test_every_file_of_a_deleted_tree_comes_back_at_its_path(self):
        # The tree's later folder clusters lie after the files written between them; a
        # scan that guesses them from the first cluster misses what they list.
        trees = [(p, d) for p, _, d, status in self.files if status == "deleted" and p.startswith("/Photos/")]
        self.assertGreater(len(trees), 15)
        for path, digest in trees:
            self.assertEqual(self.deep.get(path), digest, path)
        missed = [p for p, d in trees if self.quick.get(p) != d]
        self.assertTrue(missed, "the quick scan was expected to miss the later clusters")

    def test_a_folder_whose_entry_is_gone_is_found_by_its_contents_under_its_parent(self):
        orphans = [(p, d) for p, _, d, status in self.files if status == "deleted-orphan"]
        self.assertEqual(len(orphans), 9)
        under_work = {tail(p, 1): d for p, d in self.deep.items() if p.startswith("/Work/Directory")}
        for path, digest in orphans:
            self.assertEqual(under_work.get(tail(path, 1)), digest, path)
            self.assertNotIn(tail(path, 1), {tail(p, 1) for p in self.quick})

    def test_a_partly_overwritten_long_name_gives_the_short_name_whole(self):
        (path, _, digest, _), = [f for f in self.files if f[3] == "deleted-partname"]
        for restored in (self.quick, self.deep):
            self.assertEqual(restored.get("/Keep/STATEM~1.JPG"), digest)
            self.assertFalse([p for p in restored if p.startswith("/Keep/statement")], restored)

    def test_nothing_is_listed_twice_and_the_json_says_deep(self):
        result = scan(self.image, "--deep")
        self.assertEqual(result["scan"], "deep")
        paths = [item["path"] for item in result["items"]]
        self.assertEqual(len(paths), len(set(paths)))
        self.assertEqual(scan(self.image)["scan"], "quick")


class FormattedCard(unittest.TestCase):
    def test_the_files_from_before_the_format_come_back_in_their_folders(self):
        image = fixture("fat32-formatted.img")
        files = manifest("fat32-formatted")
        self.assertFalse(scan(image)["items"], "the quick scan of a fresh format lists nothing")
        with tempfile.TemporaryDirectory() as out:
            deep = restore(image, out, "--deep")
        # The old root is gone with the format: its folders are named after their first
        # cluster, and everything below keeps its names.
        below_top = {tail(p, len(p.split("/")) - 2): d for p, d in deep.items()}
        for path, _, digest, status in files:
            self.assertEqual(status, "formatted")
            self.assertEqual(below_top.get(tail(path, len(path.split("/")) - 2)), digest, path)


class ReformattedWithLargerClusters(unittest.TestCase):
    def test_the_older_volume_comes_back_whole_under_its_own_folder(self):
        # Formatted with 8 KiB clusters over a card of 1 KiB clusters: the old folders name
        # clusters of the old layout, which the deep scan tells from two of them.
        image = fixture("fat32-reformatted.img")
        files = manifest("fat32-reformatted")
        self.assertFalse(scan(image)["items"])
        with tempfile.TemporaryDirectory() as out:
            deep = restore(image, out, "--deep")
        top = "/Previous file system"
        self.assertEqual(deep, {top + p: d for p, _, d, status in files}, "every file, at its path, byte for byte")
        # Nothing of the new volume was written over them, and no two claim the same bytes.
        states = {i["path"]: i["state"] for i in scan(image, "--deep")["items"] if not i["folder"]}
        self.assertEqual(set(states.values()), {"Good"}, states)


class FormattedNtfs(unittest.TestCase):
    def test_the_records_of_the_previous_volume_come_back_with_their_data(self):
        image = fixture("ntfs-formatted.img")
        files = manifest("ntfs-formatted")
        self.assertFalse([i for i in scan(image)["items"] if not i["path"].endswith("/")])
        with tempfile.TemporaryDirectory() as out:
            deep = restore(image, out, "--deep")
        # Below "Previous file system": folders whose records survived keep their names and
        # places; the others are "Directory<record>" placeholders.
        top = "/Previous file system/"
        self.assertTrue(all(p.startswith(top) for p in deep), list(deep))
        by_name = {}
        for path, digest in deep.items():
            by_name.setdefault(path.rsplit("/", 1)[1], set()).add(digest)
        back = [p for p, _, d, _ in files if d in by_name.get(p.rsplit("/", 1)[1], ())]
        self.assertEqual(len(back), len(files), sorted(set(p for p, _, _, _ in files) - set(back)))
        # Files in the records of the old $MFT, and those whose data is in clusters.
        self.assertIn(top + "Documents/Letters/letter 1.txt", deep)
        self.assertIn(top + "Pictures/Holiday/beach 12.jpg", deep)


class CardWithNoStructureLeft(unittest.TestCase):
    def test_files_whose_folder_is_gone_come_back_by_their_content(self):
        # The folder's clusters were overwritten and the card formatted: only the bytes of
        # the files tell what they are.
        image = fixture("fat32-carved.img")
        files = manifest("fat32-carved")
        self.assertFalse([i for i in scan(image)["items"] if not i["folder"]])
        items = [i for i in scan(image, "--deep")["items"] if not i["folder"]]
        kinds = {"jpg": "JPEG", "png": "PNG", "gif": "GIF", "bmp": "BMP", "tif": "TIFF", "webp": "WebP",
                 "pdf": "PDF", "wav": "WAV", "sqlite": "SQLite", "zip": "ZIP", "docx": "ZIP", "odt": "ZIP",
                 "xlsx": "ZIP", "heic": "HEIF", "avif": "HEIF", "mov": "MP4", "mp4": "MP4", "mp3": "MP3",
                 "flac": "FLAC", "ogg": "Ogg", "gz": "GZIP", "7z": "7z", "doc": "OLE", "xls": "OLE",
                 "ppt": "OLE", "msi": "OLE", "rtf": "RTF", "html": "HTML", "xml": "XML", "svg": "XML"}
        for item in items:
            self.assertEqual(item["found_by"], "content", item["path"])
            self.assertEqual(item["content_check"], "whole", item["path"])
            self.assertEqual(item["state"], "Good", item["path"])
            extension = item["name"].rsplit(".", 1)[1]
            self.assertIn("/Found by content/%s/" % kinds[extension], item["path"])
        self.assertEqual(sorted(i["size"] for i in items), sorted(size for _, size, _, _ in files))
        # The photo is named by when it was taken and the camera, as its EXIF says.
        self.assertIn("Found by content/JPEG/2024-06-15 10.00.00 Restovo Camera.jpg", [i["path"].split("/", 1)[1]
                                                                                    for i in items])
        with tempfile.TemporaryDirectory() as out:
            r = subprocess.run([CLI, "restore", image, "--to", out, "--deep"], capture_output=True, text=True, env=ENV)
            restored = sorted(sha256(os.path.join(top, n)) for top, _, names in os.walk(out) for n in names)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(restored, sorted(digest for _, _, digest, _ in files))
        self.assertIn("%d files checked by content, 0 not whole." % len(files), r.stdout)

    def test_a_restored_file_whose_bytes_are_not_its_kind_is_said_so(self):
        # The deleted pictures of this card hold generated bytes, no picture's: restored as
        # they were found, each is reported with the reason.
        image = fixture("fat32-deltree.img")
        with tempfile.TemporaryDirectory() as out:
            r = subprocess.run([CLI, "restore", image, "--to", out, "--deep"], capture_output=True, text=True, env=ENV)
            pictures = sorted(os.path.join(top, n) for top, _, names in os.walk(out) for n in names
                              if n.lower().endswith(".jpg"))
        self.assertTrue(pictures)
        reported = sorted(line.split("not whole: ", 1)[1] for line in r.stdout.splitlines() if "not whole: " in line)
        self.assertEqual(reported, pictures)
        self.assertEqual(r.stdout.count("The file does not begin as a JPEG file does"), len(pictures), r.stdout)


class FilesWrittenAroundLiveOnes(unittest.TestCase):
    """Cards made by mkfs.fat and mtools whose allocator takes the first free cluster, as
    cameras' do, with files deleted and their entries overwritten."""
    ENV = dict(ENV, MTOOLS_SKIP_CHECK="1", MTOOLSRC="/dev/null")

    def mtools(self, *command):
        subprocess.run(list(command), check=True, env=self.ENV)

    def card(self, work, label):
        image = os.path.join(work, "card.img")
        subprocess.run(["mkfs.fat", "-C", "-F", "32", "-s", "1", "-n", label, image, "49152"], check=True,
                       capture_output=True)
        return image

    @staticmethod
    def search_from_the_first_cluster(image):
        # The next-free hint unknown: the allocator searches from the first cluster.
        with open(image, "r+b") as f:
            f.seek(48)
            f.seek(int.from_bytes(f.read(2), "little") * 512 + 492)
            f.write(b"\xff\xff\xff\xff")

    def delete_and_overwrite_entry(self, image, path, short11):
        self.mtools("mdel", "-i", image, "::" + path)
        with open(image, "r+b") as f:
            data = bytearray(f.read())
            at = data.find(b"\xe5" + short11[1:])
            self.assertGreater(at, 0)
            data[at:at + 32] = bytes(32)
            f.seek(0)
            f.write(data)

    def test_a_file_carved_goes_on_past_the_clusters_in_use(self):
        # The picture fills the hole a deleted file left, passes over a file still there and
        # goes on after it; then only its bytes are left.
        picture = fixture("content/picture.png")
        with tempfile.TemporaryDirectory() as work:
            image = self.card(work, "AROUND")
            for name, size in (("a.bin", 512), ("b.bin", 1536), ("c.bin", 512)):
                with open(os.path.join(work, name), "wb") as f:
                    f.write(bytes([len(name) + size % 251]) * size)
                self.mtools("mcopy", "-i", image, os.path.join(work, name), "::/" + name)
            self.mtools("mdel", "-i", image, "::/b.bin")
            self.search_from_the_first_cluster(image)
            self.mtools("mcopy", "-i", image, picture, "::/picture.png")
            self.delete_and_overwrite_entry(image, "/picture.png", b"PICTURE PNG")
            items = [i for i in scan(image, "--deep")["items"] if not i["folder"]]
            carved = [i for i in items if i.get("found_by") == "content"]
            self.assertEqual([(i["size"], i["state"], i["content_check"]) for i in carved],
                             [(os.path.getsize(picture), "Good", "whole")], items)
            restored = restore(image, os.path.join(work, "out"), "--deep")
        self.assertIn(sha256(picture), restored.values())

    def test_a_deleted_file_whose_clusters_begin_another_kind_gives_them_up(self):
        # A document deleted, then a photo written into its clusters, deleted too, and its
        # entry overwritten: the document's entry is all that names those clusters, and
        # they begin a JPEG. The document is Lost, and the photo comes back by its content.
        document, photo = fixture("content/scan.pdf"), fixture("content/photo.jpg")
        self.assertGreater(os.path.getsize(photo), os.path.getsize(document))
        with tempfile.TemporaryDirectory() as work:
            image = self.card(work, "TAKEN")
            self.mtools("mmd", "-i", image, "::/Docs")
            self.mtools("mcopy", "-i", image, document, "::/Docs/scan.pdf")
            self.mtools("mdel", "-i", image, "::/Docs/scan.pdf")
            self.search_from_the_first_cluster(image)
            self.mtools("mcopy", "-i", image, photo, "::/photo.jpg")
            self.delete_and_overwrite_entry(image, "/photo.jpg", b"PHOTO   JPG")
            items = [i for i in scan(image, "--deep")["items"] if not i["folder"]]
            named = [i for i in items if i.get("found_by") != "content"]
            # A deleted short name loses its first letter.
            self.assertEqual([(i["path"].rsplit("/", 1)[1][1:], i["state"]) for i in named], [("can.pdf", "Lost")],
                             items)
            carved = [i for i in items if i.get("found_by") == "content"]
            self.assertEqual([(i["size"], i["state"]) for i in carved], [(os.path.getsize(photo), "Good")], items)
            restored = restore(image, os.path.join(work, "out"), "--deep", "--only-good")
        self.assertEqual(list(restored.values()), [sha256(photo)])


class TwoDeletedFilesInTheSameClusters(unittest.TestCase):
    def test_the_bytes_tell_whose_they_are(self):
        # The table or the bitmap cannot: the quick scan rates both Poor. The deep scan reads
        # them: the later photo is whole there, the earlier one's place holds the later
        # one's bytes.
        for name in ("fat32-shared", "ntfs-shared"):
            with self.subTest(image=name):
                image = fixture(name + ".img")

                def states(*options):
                    return {i["path"].rsplit("/", 1)[1]: (i["state"], i.get("damage", ""))
                            for i in scan(image, *options)["items"] if i["name"].endswith(".jpg")}

                quick, deep = states(), states("--deep")
                self.assertEqual({n: s for n, (s, _) in quick.items()},
                                 {"first photo.jpg": "Poor", "second photo.jpg": "Poor"})
                self.assertEqual(deep["second photo.jpg"][0], "Good")
                self.assertEqual(deep["first photo.jpg"][0], "Lost")
                self.assertIn("not a whole file of its kind", deep["first photo.jpg"][1])
                with tempfile.TemporaryDirectory() as out:
                    restored = restore(image, out, "--deep", "--only-good")
                digest = {p: d for p, _, d, _ in manifest(name)}
                self.assertEqual({p: d for p, d in restored.items() if p.endswith(".jpg")},
                                 {"/Later/second photo.jpg": digest["/Later/second photo.jpg"]})


class NtfsRecordsTakenByNewFiles(unittest.TestCase):
    def test_deleted_files_are_listed_by_the_names_left_in_index_blocks(self):
        # Their records now hold new files: only the freed index blocks of their folders
        # still name them, with their sizes.
        image = fixture("ntfs-reused.img")
        files = {p.rsplit("/", 1)[1]: (p, size) for p, size, _, status in manifest("ntfs-reused") if status != "live"}
        self.assertFalse([i for i in scan(image)["items"] if not i["folder"]])
        found = [i for i in scan(image, "--deep")["items"] if not i["folder"]]
        items = [i for i in found if i.get("found_by") != "content"]
        self.assertGreaterEqual(len(items), 20, [i["path"] for i in items])
        # The real files among them: their bytes are still there, whole.
        by_content = sorted((i["size"], i["path"].rsplit(".", 1)[1]) for i in found if i.get("found_by") == "content")
        self.assertEqual(by_content, sorted((files[n][1], n.rsplit(".", 1)[1]) for n in
                                            ("photo.jpg", "picture.png", "letter.docx")))
        for item in items:
            name = item["path"].rsplit("/", 1)[1]
            self.assertIn(name, files, "a live file or a made-up name: " + item["path"])
            original, size = files[name]
            self.assertEqual(item["size"], size, item["path"])
            self.assertEqual(item["state"], "Lost", item["path"])
            self.assertIn("Only the file's name was found", item["damage"])
            # The subfolder's name comes from its entry in its deleted parent's index; the
            # parent's own entry was in a live folder, so it stays a placeholder. Messages
            # removed from a folder that stays are listed in it, by the names left in the
            # slack of its index block.
            parent = item["path"].split("/")[-2]
            if "/Zeta letters/" in original:
                self.assertEqual(parent, "Zeta letters", item["path"])
            elif original.startswith("/Mail/"):
                self.assertEqual(item["path"], "ntfs-reused.img" + original)
            else:
                self.assertTrue(parent.startswith("Directory"), item["path"])
        mail = sorted(i["path"].rsplit("/", 1)[1] for i in items if "/Mail/" in i["path"])
        self.assertEqual(mail, ["message from the school %d.eml" % i for i in range(40, 50)])
        self.assertEqual(len({i["path"] for i in items}), len(items), "a file listed twice")
        with tempfile.TemporaryDirectory() as out:
            r = subprocess.run([CLI, "restore", image, "--to", out, "--deep"], capture_output=True, text=True, env=ENV)
            restored = sorted(sha256(os.path.join(top, n)) for top, _, names in os.walk(out) for n in names)
        # Of those known by name only nothing of their data is known: each is refused with
        # the reason; those found by content are written byte for byte.
        self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
        self.assertIn("3 files written", r.stdout + r.stderr)
        self.assertIn("Only the file's name was found", r.stdout + r.stderr)
        self.assertEqual(restored, sorted(digest for p, _, digest, _ in manifest("ntfs-reused")
                                          if p.rsplit("/", 1)[1] in ("photo.jpg", "picture.png", "letter.docx")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
