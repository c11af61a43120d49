#!/usr/bin/env python3
"""restovo-services started as the program starts it: a real server on a free loopback port.

Environment: RESTOVO_SERVICES (the program). The shipped data folder is served; uploads and
statistics go to a temporary state folder.
"""
import configparser
import datetime
import http.client
import json
import os
import re
import select
import shutil
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.parse

SERVER = os.environ.get("RESTOVO_SERVICES", "restovo-services")
HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.normpath(os.path.join(HERE, "..", "..", "services", "data"))

MIB = 1024 * 1024
KNOWN_GUID = "{8F0C2A3E-5B7D-4C1A-9E6F-2D4B8A1C3E5F}"
LOG_LINE = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) ([A-Z]+) (\S+) (\d{3})$")
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class Server:
    """The program on --port 0 with a temporary --state; collects what it prints after the first line."""

    def __init__(self, *extra):
        self.state = tempfile.mkdtemp(prefix="restovo-services-state-")
        self.errors = tempfile.TemporaryFile(mode="w+")
        self.process = subprocess.Popen([SERVER, "--port", "0", "--state", self.state, *extra],
                                        stdout=subprocess.PIPE, stderr=self.errors, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 20)
        self.first_line = self.process.stdout.readline().rstrip("\n") if ready else ""
        m = re.fullmatch(r"restovo-services listening on http://127\.0\.0\.1:(\d+)", self.first_line)
        if not m:
            self.stop()
            raise RuntimeError("unexpected first line %r; stderr: %s" % (self.first_line, self.stderr()))
        self.port = int(m.group(1))
        self.base = "http://127.0.0.1:%d" % self.port
        self.log = []
        self.requests = []  # (method, target) of every request the tests sent
        self.reader = threading.Thread(target=self._read_log, daemon=True)
        self.reader.start()

    def _read_log(self):
        for line in self.process.stdout:
            self.log.append(line.rstrip("\n"))

    def request(self, method, target, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            connection.request(method, target, body=body, headers=headers or {})
            response = connection.getresponse()
            data = response.read()
            self.requests.append((method, target))
            return response.status, {k.lower(): v for k, v in response.getheaders()}, data
        finally:
            connection.close()

    def get(self, target):
        return self.request("GET", target)

    def logged(self, method, target, timeout=5):
        """The log lines for one request (matched on method and decoded path with query)."""
        wanted = urllib.parse.unquote(target)
        deadline = time.monotonic() + timeout
        while True:
            found = [m for m in map(LOG_LINE.match, list(self.log))
                     if m and m.group(2) == method and urllib.parse.unquote(m.group(3)) == wanted]
            if found or time.monotonic() > deadline:
                return found
            time.sleep(0.05)

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if hasattr(self, "reader"):
            self.reader.join(5)
        self.process.stdout.close()
        self.errors.close()
        shutil.rmtree(self.state, ignore_errors=True)


server = None


def setUpModule():
    global server
    server = Server()


def tearDownModule():
    try:
        missing = [r for r in server.requests if not server.logged(*r, timeout=2)]
        if missing:
            raise AssertionError("requests missing from the log: %r" % missing)
        if server.process.poll() is not None:
            raise AssertionError("the server ended early: %s" % server.stderr())
    finally:
        server.stop()


def multipart(fields, boundary="----restovo-test-boundary-7f3a"):
    """fields: (name, file name or None, bytes); returns body and Content-Type."""
    chunks = []
    for name, file_name, data in fields:
        disposition = 'form-data; name="%s"' % name
        if file_name is not None:
            disposition += '; filename="%s"' % file_name
        chunks.append(b"--" + boundary.encode() + b"\r\nContent-Disposition: " + disposition.encode() +
                      b"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + b"\r\n")
    chunks.append(b"--" + boundary.encode() + b"--\r\n")
    return b"".join(chunks), "multipart/form-data; boundary=" + boundary


class UpdateAndNewsTests(unittest.TestCase):
    def test_update_information_for_the_product(self):
        status, headers, body = server.get("/software_update/getinfo.php?p_id=3")
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-type"], "application/json")
        self.assertEqual(headers.get("cache-control"), "no-store")
        self.assertEqual(json.loads(body), {
            "stopped": 0, "build": 1, "blog_url": server.base + "/blog/",
            "url": server.base + "/restovo/download.html", "update_info": "Faster scans\nBetter previews"})

    def test_other_products_are_stopped(self):
        for target in ["/software_update/getinfo.php?p_id=4", "/software_update/getinfo.php?p_id=",
                       "/software_update/getinfo.php", "/software_update/getinfo.php?p_id=33"]:
            with self.subTest(target=target):
                status, headers, body = server.get(target)
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], "application/json")
                self.assertEqual(json.loads(body), {"stopped": 1})

    def test_pages_named_by_the_update_exist(self):
        info = json.loads(server.get("/software_update/getinfo.php?p_id=3")[2])
        for url in (info["url"], info["blog_url"]):
            with self.subTest(url=url):
                self.assertEqual(server.get(urllib.parse.urlsplit(url).path)[0], 200)

    def test_news_descriptor(self):
        status, headers, body = server.get("/news/kplinfo.htm")
        self.assertEqual(status, 200)
        self.assertTrue(headers["content-type"].startswith("text/plain"))
        self.assertEqual(headers.get("cache-control"), "no-store")
        ini = configparser.ConfigParser()
        ini.optionxform = str
        ini.read_string(body.decode("utf-8"))
        self.assertEqual(dict(ini["Msg"]), {
            "MsgID": "1", "ShowAll": "1", "Url": server.base + "/news/msg.html",
            "FormWidth": "0", "FormHeight": "0", "LangCode": ""})
        status, headers, page = server.get(urllib.parse.urlsplit(ini["Msg"]["Url"]).path)
        self.assertEqual(status, 200)
        self.assertIn(b'class="news"', page)


class StaticPageTests(unittest.TestCase):
    PAGES = [
        # path, content type, text the answer must hold
        ("/", "text/html; charset=utf-8", "<title>Restovo</title>"),
        ("/help/", "text/html; charset=utf-8", "<h1>Help</h1>"),
        ("/forum/", "text/html; charset=utf-8", "<h1>Forum</h1>"),
        ("/restovo/", "text/html; charset=utf-8", "<h1>Restovo</h1>"),
        ("/restovo/download.html", "text/html; charset=utf-8", "Download Restovo"),
        ("/translate/", "text/html; charset=utf-8", "Translate Restovo"),
        ("/zh/", "text/html; charset=utf-8", "找回已删除的文件"),
        ("/blog/", "text/html; charset=utf-8", 'id="back-up-your-photos"'),
        ("/news/msg.html", "text/html; charset=utf-8", "Restovo 1.0 is here"),
        ("/style.css", "text/css; charset=utf-8", "body.news"),
    ]

    def test_pages_and_their_content_types(self):
        for path, content_type, text in self.PAGES:
            with self.subTest(path=path):
                status, headers, body = server.get(path)
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], content_type)
                self.assertIn(text, body.decode("utf-8"))
                self.assertEqual(int(headers["content-length"]), len(body))

    def test_pictures_are_png(self):
        for path in ["/ads/ad1.png", "/ads/ad2.png"]:
            with self.subTest(path=path):
                status, headers, body = server.get(path)
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], "image/png")
                self.assertEqual(body[:8], PNG_SIGNATURE)
                width, height = struct.unpack(">II", body[16:24])
                self.assertEqual((width, height), (200, 60))
                with open(os.path.join(DATA, "www", path.lstrip("/")), "rb") as f:
                    self.assertEqual(body, f.read())

    def test_every_local_link_of_the_shipped_pages_resolves(self):
        pages = [os.path.join(root, name) for root, _, names in os.walk(DATA)
                 for name in names if name.endswith(".html")]
        self.assertGreaterEqual(len(pages), 13)
        for page in pages:
            with open(page, encoding="utf-8") as f:
                links = re.findall(r'(?:href|src|action)="([^"#]+)', f.read())
            in_feedback = os.path.basename(os.path.dirname(page)) == "feedback"
            for link in links:
                if link.startswith("index.php"):
                    self.assertTrue(in_feedback, page)
                    link = "/quillmere_feedback/" + link
                if not link.startswith("/") or "upload-file" in link:
                    continue
                with self.subTest(page=os.path.relpath(page, DATA), link=link):
                    self.assertEqual(server.get(link)[0], 200)

    def test_folder_without_slash_is_redirected(self):
        status, headers, _ = server.get("/help")
        self.assertEqual(status, 301)
        self.assertEqual(headers["location"], "/help/")

    def test_paths_out_of_the_www_folder_are_refused(self):
        with open(os.path.join(DATA, "ads.json"), "rb") as f:
            outside = f.read()
        for target in ["/../ads.json", "/%2e%2e/ads.json", "/ads/../../ads.json", "/news/..%2f..%2fads.json",
                       "/ads/%2E%2E/%2E%2E/ads.json", "/..%5cads.json"]:
            with self.subTest(target=target):
                status, _, body = server.get(target)
                self.assertIn(status, (403, 404))
                self.assertNotEqual(body, outside)
                self.assertNotIn(b"lifetime", body)

    def test_unknown_paths(self):
        for target in ["/nothing-here", "/help/missing.html", "/ads/ad3.png", "/news/", "/software_update/",
                       "/info_group/index.php?to=getinfo&pid=4",
                       "/install_statistics/index.php?p=other", "/quillmere_feedback/index.php?to=admin"]:
            with self.subTest(target=target):
                status, headers, _ = server.get(target)
                self.assertEqual(status, 404)
                self.assertEqual(headers.get("cache-control"), "no-store")


class SupportPageTests(unittest.TestCase):
    PAGES = [("home", "How can we help?"), ("question", "Common questions"),
             ("my-feedback", "<h1>My feedback</h1>"), ("write-question", 'type="file"')]

    def test_pages_by_to_ignoring_other_parameters(self):
        for to, text in self.PAGES:
            for extra in ["", "&guid=%s&lang=0409&ver=1.0.0.1" % urllib.parse.quote(KNOWN_GUID)]:
                with self.subTest(to=to, extra=extra):
                    status, headers, body = server.get("/quillmere_feedback/index.php?to=%s%s" % (to, extra))
                    self.assertEqual(status, 200)
                    self.assertEqual(headers["content-type"], "text/html; charset=utf-8")
                    self.assertEqual(headers.get("cache-control"), "no-store")
                    self.assertIn(text, body.decode("utf-8"))

    def test_pages_link_each_other(self):
        for to, _ in self.PAGES:
            with self.subTest(to=to):
                body = server.get("/quillmere_feedback/index.php?to=" + to)[2].decode("utf-8")
                targets = set(re.findall(r'href="index\.php\?to=([a-z-]+)"', body))
                self.assertTrue(targets)
                self.assertLessEqual(targets, {p for p, _ in self.PAGES})

    def test_write_question_uploads_to_the_service(self):
        body = server.get("/quillmere_feedback/index.php?to=write-question")[2].decode("utf-8")
        self.assertIn('action="index.php?to=upload-file"', body)
        self.assertIn('enctype="multipart/form-data"', body)
        self.assertIn('name="file"', body)

    def test_unread_messages(self):
        cases = [
            (KNOWN_GUID, [{"id": 3}, {"id": 7}]),
            (KNOWN_GUID.lower(), [{"id": 3}, {"id": 7}]),
            ("{00000000-0000-0000-0000-000000000000}", []),
            ("", []),
        ]
        for guid, expected in cases:
            with self.subTest(guid=guid):
                status, headers, body = server.get(
                    "/quillmere_feedback/index.php?to=fetch-unread-message&guid=" + urllib.parse.quote(guid))
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], "application/json")
                self.assertEqual(headers.get("cache-control"), "no-store")
                self.assertEqual(json.loads(body), expected)


class UploadTests(unittest.TestCase):
    TARGET = "/quillmere_feedback/index.php?to=upload-file&guid=x"

    def uploads(self):
        folder = os.path.join(server.state, "uploads")
        return set(os.listdir(folder)) if os.path.isdir(folder) else set()

    def post(self, body, content_type):
        return server.request("POST", self.TARGET, body=body, headers={"Content-Type": content_type})

    def test_five_mib_file_is_saved_byte_for_byte(self):
        data = os.urandom(5 * MIB)
        self.assertEqual(len(data), 5242880)
        before = self.uploads()
        status, headers, answer = self.post(*multipart([("comment", None, b"see attached"),
                                                        ("file", "scan log.bin", data)]))
        self.assertEqual(status, 200, answer[:200])
        self.assertEqual(headers.get("cache-control"), "no-store")
        m = re.fullmatch(r"OK (\S+) (\d+)", answer.decode("utf-8"))
        self.assertIsNotNone(m, answer)
        self.assertEqual(int(m.group(2)), len(data))
        self.assertRegex(m.group(1), r"^\d{8}-\d{6}-\d{3}-scan_log\.bin$")
        self.assertEqual(self.uploads() - before, {m.group(1)})
        with open(os.path.join(server.state, "uploads", m.group(1)), "rb") as f:
            self.assertEqual(f.read(), data)

    def test_too_large_is_refused_and_nothing_saved(self):
        for size in [5 * MIB + 1, 6 * MIB]:
            with self.subTest(size=size):
                before = self.uploads()
                status, _, _ = self.post(*multipart([("file", "big.bin", b"\xa5" * size)]))
                self.assertEqual(status, 413)
                self.assertEqual(self.uploads(), before)

    def test_file_names_stay_inside_the_uploads_folder(self):
        cases = [("../../escape.txt", "escape.txt"), ("C:\\Users\\me\\report.txt", "report.txt"),
                 (".hidden", "hidden"), ("фото 1.jpg", "_____1.jpg"), ("", "upload")]
        for original, saved in cases:
            with self.subTest(original=original):
                status, _, answer = self.post(*multipart([("file", original, b"abc")]))
                self.assertEqual(status, 200)
                name = answer.decode("utf-8").split()[1]
                self.assertTrue(name.endswith("-" + saved), name)
                self.assertTrue(os.path.isfile(os.path.join(server.state, "uploads", name)))
        self.assertFalse(os.path.exists(os.path.join(server.state, "escape.txt")))

    def test_requests_without_a_file(self):
        cases = [
            multipart([("comment", None, b"no attachment")]),
            multipart([("attachment", "a.txt", b"wrong field name")]),
            (b"file=abc", "application/x-www-form-urlencoded"),
            (b"--x\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nunterminated",
             "multipart/form-data; boundary=x"),
        ]
        for body, content_type in cases:
            with self.subTest(content_type=content_type, body=body[:40]):
                status, _, answer = self.post(body, content_type)
                self.assertEqual(status, 400)
                self.assertEqual(answer, b"no file")

    def test_only_post(self):
        status, headers, _ = server.get(self.TARGET)
        self.assertEqual(status, 405)
        self.assertEqual(headers.get("allow"), "POST")


class InstallStatisticsTests(unittest.TestCase):
    TARGET = "/install_statistics/index.php?p=install_statistics"

    def post(self, fields):
        return server.request("POST", self.TARGET, body=urllib.parse.urlencode(fields),
                              headers={"Content-Type": "application/x-www-form-urlencoded"})

    @staticmethod
    def lines(path):
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def test_each_post_appends_one_line(self):
        path = os.path.join(server.state, "install-statistics.tsv")
        posts = [
            ({"product_ver": "1.0.0.1", "product_id": "3", "gu_id": KNOWN_GUID}, ["1.0.0.1", "3", KNOWN_GUID]),
            ({"product_ver": "1.0 beta+2", "product_id": "3", "gu_id": "a\tb\nc"}, ["1.0 beta+2", "3", "a b c"]),
            ({"product_id": "3"}, ["", "3", ""]),
        ]
        for fields, expected in posts:
            with self.subTest(fields=fields):
                before = self.lines(path)
                status, headers, answer = self.post(fields)
                self.assertEqual((status, answer), (200, b"OK"))
                self.assertEqual(headers.get("cache-control"), "no-store")
                after = self.lines(path)
                self.assertEqual(after[:-1], before)
                stamp, *rest = after[-1].split("\t")
                self.assertRegex(stamp, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")
                self.assertEqual(rest, expected)

    def test_only_post(self):
        self.assertEqual(server.get(self.TARGET)[0], 405)


class AdvertisementTests(unittest.TestCase):
    def test_ads_with_server_time_and_fetchable_pictures(self):
        status, headers, body = server.get("/info_group/index.php?to=getinfonew&pid=4")
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-type"], "application/json")
        self.assertEqual(headers.get("cache-control"), "no-store")
        self.assertTrue(body.startswith(b'{"servertime":'))
        answer = json.loads(body)
        servertime = datetime.datetime.strptime(answer["servertime"], "%Y-%m-%d %H:%M:%S")
        self.assertLess(abs((servertime - datetime.datetime.now()).total_seconds()), 120)
        self.assertEqual([urllib.parse.urlsplit(ad["img"]).path for ad in answer["ads"]],
                         ["/ads/ad1.png", "/ads/ad2.png"])
        for ad in answer["ads"]:
            with self.subTest(img=ad["img"]):
                self.assertEqual(set(ad), {"title", "tip", "link", "img", "startdate", "expire", "lifetime"})
                self.assertIsInstance(ad["lifetime"], int)
                self.assertGreater(ad["lifetime"], 0)
                for key in ("title", "tip"):
                    self.assertIsInstance(ad[key], str)
                    self.assertTrue(ad[key])
                # A date is year-month-day, or all zeros for none; the ad must be on show now.
                today = servertime.date()
                for key in ("startdate", "expire"):
                    self.assertRegex(ad[key], r"^\d{4}-\d\d-\d\d$")
                if ad["startdate"] != "0000-00-00":
                    self.assertLessEqual(datetime.date.fromisoformat(ad["startdate"]), today)
                if ad["expire"] != "0000-00-00":
                    self.assertLessEqual(today, datetime.date.fromisoformat(ad["expire"]))
                self.assertRegex(ad["img"], r"^" + re.escape(server.base) + r"/ads/[^/]+\.png$")
                status, headers, picture = server.get(urllib.parse.urlsplit(ad["img"]).path)
                self.assertEqual((status, headers["content-type"]), (200, "image/png"))
                self.assertEqual(picture[:8], PNG_SIGNATURE)
                self.assertTrue(ad["link"].startswith(server.base + "/"))
                self.assertEqual(server.get(urllib.parse.urlsplit(ad["link"]).path)[0], 200)

    def test_other_products_get_no_ads(self):
        answer = json.loads(server.get("/info_group/index.php?to=getinfonew&pid=5")[2])
        self.assertEqual(answer["ads"], [])
        self.assertIn("servertime", answer)


class LogTests(unittest.TestCase):
    def test_one_line_per_request_with_its_status(self):
        cases = [("GET", "/software_update/getinfo.php?p_id=3&probe=log", 200),
                 ("GET", "/no/such/page?probe=log", 404),
                 ("GET", "/%2e%2e/ads.json?probe=log", 403),
                 ("GET", "/news/..%2F..%2Fads.json?probe=%25s%2B", 403),
                 ("GET", "/install_statistics/index.php?p=install_statistics&probe=log", 405),
                 ("POST", "/quillmere_feedback/index.php?to=upload-file&probe=log", 400)]
        for method, target, expected in cases:
            with self.subTest(method=method, target=target):
                status = server.request(method, target, body=b"" if method == "POST" else None)[0]
                self.assertEqual(status, expected)
                lines = server.logged(method, target)
                self.assertEqual(len(lines), 1)
                self.assertEqual(int(lines[0].group(4)), expected)
                logged_at = datetime.datetime.strptime(lines[0].group(1), "%Y-%m-%d %H:%M:%S")
                self.assertLess(abs((logged_at - datetime.datetime.now()).total_seconds()), 120)


class CommandLineTests(unittest.TestCase):
    def test_first_line_names_the_port(self):
        self.assertEqual(server.first_line, "restovo-services listening on " + server.base)

    def test_state_folder_is_created(self):
        state = os.path.join(tempfile.mkdtemp(prefix="restovo-services-"), "new", "state")
        try:
            with subprocess.Popen([SERVER, "--port", "0", "--state", state], stdout=subprocess.PIPE, text=True) as other:
                try:
                    self.assertTrue(other.stdout.readline().startswith("restovo-services listening on "))
                    self.assertTrue(os.path.isdir(state))
                finally:
                    other.terminate()
        finally:
            shutil.rmtree(os.path.dirname(os.path.dirname(state)), ignore_errors=True)

    def test_explicit_data_folder(self):
        data = tempfile.mkdtemp(prefix="restovo-services-data-")
        try:
            with open(os.path.join(data, "update.json"), "w") as f:
                f.write('{"stopped":0,"build":7}')
            other = Server("--data", data)
            try:
                self.assertEqual(json.loads(other.get("/software_update/getinfo.php?p_id=3")[2]),
                                 {"stopped": 0, "build": 7})
                self.assertEqual(other.get("/")[0], 404)
            finally:
                other.stop()
        finally:
            shutil.rmtree(data, ignore_errors=True)

    def test_bad_options_are_refused(self):
        for args in [["--port", "http"], ["--port", "70000"], ["--data", "/nonexistent/restovo-data"]]:
            with self.subTest(args=args):
                result = subprocess.run([SERVER, *args], capture_output=True, text=True, timeout=20)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("restovo-services:", result.stderr)
                self.assertEqual(result.stdout, "")

    def test_port_in_use(self):
        result = subprocess.run([SERVER, "--port", str(server.port), "--state", server.state], capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot listen", result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
