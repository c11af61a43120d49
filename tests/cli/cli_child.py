"""Runs restovo-cli as a child under limits and measures its peak memory.

Shared by the tests that feed it hostile or mutated images: a forged size must fail
the run, not fill the disk or the memory of a machine other people use too.
"""
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

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


# The child is started by a small launcher of its own, which waits for it and writes its
# exit status and peak memory to a file. Measured from here, a child forked from this
# (large) test process would count this process's memory as its own: the kernel keeps
# the peak of the memory a process had before exec.
_LAUNCHER = """
import os, resource, sys
fsize, address_space, report = (int(sys.argv[1]), int(sys.argv[2]), sys.argv[3])
resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
if address_space:
    resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
pid = os.fork()
if pid == 0:
    try:
        os.execvp(sys.argv[4], sys.argv[4:])
    finally:
        os._exit(127)
_, status, usage = os.wait4(pid, 0)
with open(report, "w") as f:
    f.write("%d %d" % (os.waitstatus_to_exitcode(status), usage.ru_maxrss))
"""


def run_limited(args, timeout):
    """restovo-cli ARGS; a run past TIMEOUT seconds is killed with its process group."""
    env = dict(os.environ, TZ="UTC")
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                 "max_allocation_size_mb=%d" % ASAN_MAX_ALLOCATION_MB]))
    # AddressSanitizer reserves terabytes of address space for its shadow memory.
    address_space = 0 if SANITIZED else ADDRESS_SPACE_LIMIT
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile("r") as report:
        launcher = [sys.executable, "-S", "-c", _LAUNCHER, str(WRITE_LIMIT), str(address_space), report.name]
        p = subprocess.Popen(launcher + [CLI, *args], stdout=out, stderr=err, env=env, start_new_session=True)
        timed_out = False
        try:
            p.wait(timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
        text = report.read().split()
        returncode, maxrss = (int(text[0]), int(text[1]) * 1024) if len(text) == 2 else (-signal.SIGKILL, 0)
        out.seek(0)
        err.seek(0)
        return Run(returncode, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace"),
                   maxrss, timed_out)


def crash_of(r):
    """Why a finished run counts as a crash, or None."""
    if r.returncode < 0:
        return "killed by " + signal.Signals(-r.returncode).name
    m = SANITIZER_REPORT.search(r.stderr)
    if m:
        return r.stderr[m.start():].splitlines()[0]
    return None
