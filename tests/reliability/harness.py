"""Shared pieces of the reliability runs: the simulated radio as a process,
running tolvan with a deadline, archives, the radio's memory dump, the time
bounds that follow from the protocol's limits, and process hygiene checks."""

import os
import re
import select
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

# ---- time bounds ------------------------------------------------------------
#
# One character on the line is 10 bits at 9600 baud. Every wait of the
# exchange is a number of character times without a new byte:
#   echo of the first byte   10     (kEchoIdleLimit)
#   acknowledgement         250     (kAckIdleLimit)
#   reply                   250     (kReplyIdleLimit)
#   memory write reply     1919     (2.0 s / character time, truncated)
#   recovery pause           10     (at most, counted from the transmission)
# A transmission of L bytes takes at least L character times, then 30 ms.
# One attempt that runs into every limit therefore takes at most
#   attempt(L, R) = L*CHAR + 30 ms + (10 + 250 + R + 10) * CHAR
# with R the reply limit of the request. A request is sent at most 4 times.
# A command's failure must come within
#   bound = 4 * attempt(L, R) + frames * normal + MARGIN
# where `frames` are all the command's exchanges (each may have gone through
# normally before the failing one), normal(L, n) = (L + n) * CHAR + 30 ms +
# 20 * CHAR is an exchange answered at once with an n-byte reply, and MARGIN
# covers starting the process and opening the port.
# A memory read or write waits, before each of its 3 retries, until the line
# has been quiet for 2.0 s (1919 character times); a late reply arriving in
# that wait starts it once more, so a memory command adds
#   3 * 2 * 1919 * CHAR.

CHAR = 10.0 / 9600.0
PAUSE = 0.030
ECHO_IDLE = 10
ACK_IDLE = 250
REPLY_IDLE = 250
WRITE_REPLY_IDLE = 1919  # 2.0 s in character times, truncated as the tool computes it (extended precision)
RECOVERY = 10
ATTEMPTS = 4
MARGIN = 1.5


def attempt_time(request_len, reply_limit):
    return request_len * CHAR + PAUSE + (ECHO_IDLE + ACK_IDLE + reply_limit + RECOVERY) * CHAR


def normal_time(request_len, reply_len):
    return (request_len + reply_len) * CHAR + PAUSE + 20 * CHAR


QUIET_BEFORE_RETRY = 1919  # memory requests, character times


def retry_quiet_time():
    return (ATTEMPTS - 1) * 2 * QUIET_BEFORE_RETRY * CHAR


def failure_bound(request_len, reply_limit, exchanges, memory=False):
    """exchanges: (request_len, reply_len) of every exchange the command makes."""
    quiet = retry_quiet_time() if memory else 0.0
    return ATTEMPTS * attempt_time(request_len, reply_limit) + quiet + sum(normal_time(q, r) for q, r in exchanges) + MARGIN


# ---- archives -----------------------------------------------------------------

MAX_DATA_PER_FRAME = 64


@dataclass
class Record:
    address: int
    data: bytes


def format_archive(records):
    lines = [str(len(records))]
    for r in records:
        lines += [str(r.address), str(len(r.data)), r.data.hex().upper()[::-1]]
    return "\n".join(lines) + "\n"


@dataclass(frozen=True)
class Chunk:
    record: int  # 1-based
    address: int
    data: bytes


def frames_of(records):
    """The memory write frames a record list is sent as, in order."""
    chunks = []
    for k, r in enumerate(records, 1):
        for off in range(0, max(len(r.data), 1), MAX_DATA_PER_FRAME):
            chunks.append(Chunk(k, r.address + off, r.data[off:off + MAX_DATA_PER_FRAME]))
    return chunks


def write_frame_len(n):
    # header, extended opcode, [two size bytes,] 3 address bytes, data, checksum
    return n + (6 if n <= 10 else 8)


def read_frame_len():
    return 7  # F5 11 n a a a checksum


# ---- the radio's dump ------------------------------------------------------------


@dataclass
class Dump:
    serial: str = ""
    tempcomp: str = ""
    memory: dict = field(default_factory=dict)


def parse_dump(text):
    d = Dump()
    for line in text.splitlines():
        if line.startswith("# serial "):
            d.serial = line[len("# serial "):]
        elif line.startswith("# tempcomp "):
            d.tempcomp = line[len("# tempcomp "):]
        elif line.strip():
            addr, _, rest = line.partition(":")
            base = int(addr, 16)
            for i, b in enumerate(rest.split()):
                d.memory[base + i] = int(b, 16)
    return d


def memory_matches(memory, records):
    want = {}
    for r in records:
        for i, b in enumerate(r.data):
            want[r.address + i] = b
    return memory == want


CAUSE_WHERE = re.compile(r"record (\d+) of \d+, address 0x([0-9A-Fa-f]+)")


def whole_frame_problems(memory, records, cause):
    """After a failed programming run: the memory holds a prefix of the frames,
    each whole, and the cause names the frame where that prefix ends."""
    chunks = frames_of(records)
    problems = []
    known = set()
    state = []
    for c in chunks:
        addrs = range(c.address, c.address + len(c.data))
        known.update(addrs)
        have = [a for a in addrs if a in memory]
        if not have:
            state.append(False)
        elif len(have) == len(c.data) and all(memory[c.address + i] == b for i, b in enumerate(c.data)):
            state.append(True)
        else:
            state.append(None)
            problems.append("frame at 0x%06X of record %d is partly written or wrong" % (c.address, c.record))
    stray = sorted(a for a in memory if a not in known)
    if stray:
        problems.append("memory written outside the archive's frames from 0x%06X" % stray[0])
    m = CAUSE_WHERE.search(cause)
    if not m:
        problems.append("the cause names no record and address")
        return problems
    record, address = int(m.group(1)), int(m.group(2), 16)
    named = [i for i, c in enumerate(chunks) if c.record == record and c.address == address]
    if not named:
        problems.append("cause names record %d, address 0x%06X, which is no frame of the archive" % (record, address))
        return problems
    i = named[0]
    # Frames before the named one are written; frames after it are not; the
    # named frame itself may be stored when the radio acknowledged it.
    if not all(s is True for s in state[:i]):
        problems.append("a frame before the one named (0x%06X) is missing" % address)
    if any(s for s in state[i + 1:]):
        problems.append("a frame after the one named (0x%06X) is in memory" % address)
    return problems


# ---- processes --------------------------------------------------------------------


class Sim:
    """tolvan-radiosim as its own process; stop() ends it and reads its dump."""

    def __init__(self, radiosim, workdir, faults=(), extra=(), seed=1):
        self.dump_path = os.path.join(workdir, "radio-dump.txt")
        args = [radiosim, "--seed", str(seed), "--dump", self.dump_path, *extra]
        for f in faults:
            args += ["--fault", f]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        line = self.proc.stdout.readline().strip() if ready else ""
        if not line:
            self.proc.kill()
            self.proc.wait()
            raise RuntimeError("tolvan-radiosim did not start: " + self.proc.stderr.read())
        self.device = line
        self.dump = None

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()
        if os.path.exists(self.dump_path):
            with open(self.dump_path) as f:
                self.dump = parse_dump(f.read())
        return self.dump

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


@dataclass
class Run:
    status: int  # exit status; -signal when killed by a signal; None when it hung
    out: str
    err: str
    seconds: float
    stray: list = field(default_factory=list)  # processes it left behind


def run_tool(args, cwd, limit, env=None, watch=None):
    """Runs a program with a hard deadline. watch(), when given, is polled
    every 5 ms while the program runs until it returns True once."""
    start = time.monotonic()
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        proc = subprocess.Popen(args, cwd=cwd, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                env=env, start_new_session=True)
        hung = False
        watching = watch is not None
        while True:
            left = limit - (time.monotonic() - start)
            if left <= 0:
                hung = True
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                break
            try:
                proc.wait(timeout=min(left, 0.005 if watching else 0.05))
                break
            except subprocess.TimeoutExpired:
                if watching and watch():
                    watching = False
        seconds = time.monotonic() - start
        # Whatever the program left in its process group outlives it: report, then clean up.
        stray = process_group_members(proc.pid)
        for pid in stray:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        out.seek(0)
        err.seek(0)
        return Run(None if hung else proc.returncode, out.read(), err.read(), seconds, stray)


def _process_stats():
    """(pid, fields after the command name) of every process in /proc."""
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        yield int(name), stat[stat.rfind(")") + 2:].split()


def process_group_members(pgid):
    return [pid for pid, fields in _process_stats() if int(fields[2]) == pgid]


def holders_of(device, exclude=()):
    """Processes other than `exclude` that hold `device` open."""
    target = os.path.realpath(device)
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in exclude:
            continue
        fd_dir = "/proc/%s/fd" % name
        try:
            for fd in os.listdir(fd_dir):
                if os.readlink(os.path.join(fd_dir, fd)) == target:
                    found.append(int(name))
                    break
        except OSError:
            continue
    return found


def open_fds():
    return len(os.listdir("/proc/self/fd"))


def children():
    me = os.getpid()
    return [pid for pid, fields in _process_stats() if int(fields[1]) == me and fields[0] != "Z"]


SANITIZER = re.compile(r"runtime error:|AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer")


def crash_signs(run):
    """A crash, a hang or sanitizer output, as text; empty when none."""
    if run.status is None:
        return "hang (killed at the deadline)"
    if run.status < 0 or run.status >= 128:
        return "crash (status %d)" % run.status
    if SANITIZER.search(run.err):
        return "sanitizer report: " + SANITIZER.search(run.err).group(0)
    return ""


# ---- the generated document -----------------------------------------------------------

DOC_HEAD = """# Reliability

Generated by `tests/reliability/fault_matrix.py --doc` and
`tests/reliability/soak.py --doc`; each rewrites its own section. Do not edit
by hand.

"""


def update_doc(path, section, text):
    begin, end = "<!-- begin %s -->" % section, "<!-- end %s -->" % section
    body = open(path).read() if os.path.exists(path) else DOC_HEAD
    block = "%s\n%s\n%s" % (begin, text.rstrip(), end)
    if begin in body and end in body:
        body = body[:body.index(begin)] + block + body[body.index(end) + len(end):]
    else:
        body = body.rstrip() + "\n\n" + block + "\n"
    with open(path, "w") as f:
        f.write(body)
