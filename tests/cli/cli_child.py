"""Runs restovo-cli as a child under limits and measures its peak memory.

Shared by the tests that feed it hostile or mutated images: a forged size must fail
the run, not fill the disk or the memory of a machine other people use too.
"""
import collections
import os
import re
import resource
import shutil
import signal
import subprocess
import tempfile
import time

CLI = os.environ.get("RESTOVO_CLI", "restovo-cli")
# No fixture volume is larger than 52 MB; a restore writing a file beyond this has
# trusted a size it should not have.
WRITE_LIMIT = 256 << 20


def sanitized():
    flag = os.environ.get("RESTOVO_SANITIZE", "")
    if flag:
        return flag.upper() in ("1", "ON", "TRUE", "YES")
    try:
        with open(shutil.which(CLI) or CLI, "rb") as f:
            return b"__asan_init" in f.read()
    except OSError:
        return False


SANITIZED = sanitized()
# Peak resident memory allowed for one run. A normal image needs 25-45 MB under
# AddressSanitizer (its shadow memory and quarantine included) and far less without;
# a bitmap or a buffer sized from a forged field is gigabytes.
MEMORY_LIMIT = (400 if SANITIZED else 100) << 20
# An allocation of gigabytes would be touched page by page and could take the machine
# down before the run ends; beyond these it fails at once instead (reported by the
# sanitizer, or as std::bad_alloc).
ASAN_MAX_ALLOCATION_MB = 2048
ADDRESS_SPACE_LIMIT = 4 << 30

SANITIZER_REPORT = re.compile(r"ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:")

Run = collections.namedtuple("Run", "returncode stdout stderr maxrss timed_out")


def _limits():
    resource.setrlimit(resource.RLIMIT_FSIZE, (WRITE_LIMIT, WRITE_LIMIT))
    if not SANITIZED:
        # AddressSanitizer reserves terabytes of address space for its shadow memory.
        resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE_LIMIT, ADDRESS_SPACE_LIMIT))
    os.setsid()


def run_limited(args, timeout):
    """restovo-cli ARGS; a run past TIMEOUT seconds is killed with its process group."""
    env = dict(os.environ, TZ="UTC")
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                 "max_allocation_size_mb=%d" % ASAN_MAX_ALLOCATION_MB]))
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen([CLI, *args], stdout=out, stderr=err, env=env, preexec_fn=_limits)
        deadline = time.monotonic() + timeout
        timed_out = False
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline and not timed_out:
                timed_out = True
                os.killpg(p.pid, signal.SIGKILL)
            time.sleep(0.01)
        # os.wait4 reaped it; Popen must not wait for it again.
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return Run(p.returncode, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace"),
                   usage.ru_maxrss * 1024, timed_out)


def crash_of(r):
    """Why a finished run counts as a crash, or None."""
    if r.returncode < 0:
        return "killed by " + signal.Signals(-r.returncode).name
    m = SANITIZER_REPORT.search(r.stderr)
    if m:
        return r.stderr[m.start():].splitlines()[0]
    return None
