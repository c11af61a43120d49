"""What the CLI test programs share: where the fixture images are, and file digests."""
import hashlib
import os
import unittest

FIXTURES = os.environ.get("RESTOVO_FIXTURES", "fixtures")


def fixture(name):
    path = os.path.join(FIXTURES, name)
    if not os.path.exists(path):
        raise unittest.SkipTest("fixture missing: " + path)
    return path


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()
