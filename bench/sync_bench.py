#!/usr/bin/python3
"""Times whole synchronisation runs of kelvane-cli, lftp and rclone on loopback FTP servers.

One command builds a synthetic web site (seeded, so every run builds the same bytes), starts
pyftpdlib and vsftpd on 127.0.0.1 and, for each server and each tool, measures:

  first   the first upload into an empty folder,
  same    a run with nothing changed,
  changed a run after 1% of the files were edited (half of them keeping their size) and 1%
          were deleted.

Every tool works on its own server and its own folder; before each repetition the folder is
reset (first) or restored to what that tool's own first upload left (same, changed), so a tool
is never helped or hurt by another tool's remote state. After every run the server's folder is
compared with the local tree (names, sizes, content hashes); a tool that leaves differences is
marked in the table. The servers count the FTP commands and connections of every run.

Standard library only; run it with /usr/bin/python3 (the Debian pyftpdlib lives there):

  /usr/bin/python3 bench/sync_bench.py                 # 1,000 files, 5 repetitions
  /usr/bin/python3 bench/sync_bench.py --files 10000   # the 10,000-file site
  /usr/bin/python3 bench/sync_bench.py --quick         # smoke run: 200 files, 1 repetition
  /usr/bin/python3 bench/sync_bench.py --tls           # the FTPS pass (see below)
  /usr/bin/python3 bench/sync_bench.py --far           # the far-server pass (see below)

With --tls the run is an FTPS pass instead: both servers demand explicit TLS (AUTH TLS, then
PROT P for every data connection) with a self-signed certificate made for the run, and
kelvane-cli and lftp are measured over it (first and same), with kelvane-cli's and lftp's
plain-FTP first upload taken in the same rounds, so the FTPS/plain ratio comes from one run on
one machine. It writes its own section of the results file and leaves the plain ones alone.

With --far every server sits behind bench/far_proxy.py, which delays each way by a few
milliseconds (0 and 10 by default, --delays), as a server across a network would be. The site
is 200 small files in 20 folders, where round trips count and bytes do not; kelvane-cli and
lftp run with one and with four connections and rclone with its own defaults, for the first
upload and a run with nothing changed. It too writes a section of its own.
"""

import argparse
import collections
import ctypes
import datetime
import hashlib
import json
import math
import os
import platform
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SERVER_PYTHON = "/usr/bin/python3"
VSFTPD = "/usr/sbin/vsftpd"
GNU_TIME = "/usr/bin/time"
SCENARIOS = ("first", "same", "changed")
SCENARIO_TEXT = {
    "first": "first upload into an empty folder",
    "same": "nothing changed",
    "changed": "1% edited, 1% deleted",
}
ALL_SERVERS = ("pyftpdlib", "vsftpd")
ALL_TOOLS = ("kelvane", "lftp", "lftp-lean", "rclone")
PEERS = ("lftp", "lftp-lean", "rclone")
# The FTPS pass: plain-FTP tools measure the first upload only, as the reference for the TLS ones.
TLS_TOOLS = ("kelvane", "lftp")
TLS_SCENARIOS = ("first", "same")
TLS_SUFFIX = "-ftps"
DATA_COMMANDS = ("EPSV", "PASV", "EPRT", "PORT")
# The far-server pass: every server behind bench/far_proxy.py, which delays each way.
FAR_TOOLS = ("kelvane-1", "kelvane-4", "lftp-1", "lftp-4", "rclone")
FAR_SCENARIOS = ("first", "same")
FAR_DELAYS = "0,10"
FAR_LABEL = "Far server (delaying proxy)"
FAR_PROXY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "far_proxy.py")
ERROR_WORDS = re.compile(r"(?i)error|fail|denied|refused|timed? ?out|closed")
# An FTP reply code on its own ("550 No such file", "... 421-Too many"), not a number inside a
# size, a range or a rate such as lftp's "0-3174 423.9 KiB/s".
REPLY_CODE = re.compile(r"(?<![\w.,:/-])[45]\d\d(?=[ -]|$)(?! ?(?:[KMGT]i?)?B\b| ?%)")
RATE = re.compile(r"\d(?:[\d.,]*\d)? ?(?:[KMGT]i?)?B/s\b")
MiB = 1024 * 1024


# ---------------------------------------------------------------------------------------------
# The synthetic site


class SiteSpec:
    def __init__(self, files, folders, total, small_share, large):
        self.files = files
        self.folders = folders
        self.total = total
        # The part of the bytes held by the small files; the rest sits in `large` big ones.
        self.small_share = small_share
        self.large = large


SITES = {
    "quick": SiteSpec(200, 12, 6 * MiB, 0.3, 2),
    # Small files only, where the round trips of each file count and not the bytes.
    "far": SiteSpec(200, 20, 200 * 3 * 1024, 1.0, 0),
    1000: SiteSpec(1000, 60, 30 * MiB, 0.3, 10),
    10000: SiteSpec(10000, 600, 60 * MiB, 0.5, 20),
}

FOLDER_WORDS = ["about", "archive", "assets", "blog", "css", "docs", "downloads", "events",
                "fonts", "gallery", "images", "js", "media", "news", "products", "scripts",
                "support", "team", "themes", "uploads"]
SMALL_KINDS = [("page", ".html", 5), ("style", ".css", 1), ("app", ".js", 1),
               ("photo", ".jpg", 3), ("icon", ".png", 2), ("logo", ".svg", 1)]
LARGE_KINDS = [("video", ".mp4"), ("brochure", ".pdf"), ("bundle", ".zip")]
KB = 1024
LARGEST = 5 * MiB
# Files carry dates of the year before this day, so listings show them as old files.
DATE_ANCHOR = datetime.datetime(2025, 6, 1, 12, 0, 0, tzinfo=datetime.timezone.utc).timestamp()


def log_uniform(rng, low, high):
    return int(round(low * (high / low) ** rng.random()))


def small_limit(mean):
    """The upper size bound whose log-uniform sizes from 1 KB average `mean` bytes."""
    low, high = 2.0 * KB, 4.0 * MiB
    for _ in range(60):
        mid = (low + high) / 2
        if (mid - KB) / math.log(mid / KB) < mean:
            low = mid
        else:
            high = mid
    return int(low)


def plan_site(shape, seed):
    """Folders (relative paths) and files (relative path, size) of the site, deterministic."""
    rng = random.Random(seed)
    folders = []
    depth = {"": 0}
    names_in = collections.defaultdict(set)
    while len(folders) < shape.folders:
        parent = rng.choice([""] * 3 + [f for f in folders if depth[f] < 3])
        word = rng.choice(FOLDER_WORDS)
        name = word if word not in names_in[parent] else "%s-%02d" % (word, rng.randrange(100))
        if name in names_in[parent]:
            continue
        names_in[parent].add(name)
        path = name if not parent else parent + "/" + name
        folders.append(path)
        depth[path] = depth[parent] + 1

    large_count = shape.large
    small_count = shape.files - large_count
    limit = small_limit(shape.total * shape.small_share / small_count)
    sizes = [log_uniform(rng, KB, limit) for _ in range(small_count)]
    large_total = shape.total - sum(sizes)
    raw = [log_uniform(rng, 256 * KB, LARGEST) for _ in range(large_count)]
    scale = large_total / sum(raw) if raw else 0
    large = [max(limit, min(LARGEST, int(r * scale))) for r in raw]
    # The clamp may leave the total a little off; the first file that has room takes the rest.
    rest = shape.total - sum(sizes) - sum(large)
    for i in range(large_count):
        take = max(-large[i] + limit, min(rest, LARGEST - large[i]))
        large[i] += take
        rest -= take
        if rest == 0:
            break

    homes = [""] + folders
    files = []
    used = set()
    kinds = [k for k in SMALL_KINDS for _ in range(k[2])]
    for index, size in enumerate(sizes + large):
        if index < small_count:
            stem, ext, _ = rng.choice(kinds)
        else:
            stem, ext = rng.choice(LARGE_KINDS)
        if index % 97 == 13:
            stem = "Annual report %d" % (2000 + index % 25)  # a name with spaces, as sites have
        folder = rng.choice(homes)
        name = "%s-%05d%s" % (stem, index, ext)
        path = name if not folder else folder + "/" + name
        assert path not in used
        used.add(path)
        files.append((path, size))
    rng.shuffle(files)
    return folders, files


def write_site(root, shape, seed):
    folders, files = plan_site(shape, seed)
    rng = random.Random(seed * 7919 + 1)
    for folder in folders:
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    for path, size in sorted(files):
        full = os.path.join(root, path)
        with open(full, "wb") as out:
            out.write(rng.randbytes(size))
        stamp = DATE_ANCHOR - rng.randrange(365 * 86400)
        os.utime(full, (stamp, stamp))
    for folder in sorted(folders, reverse=True):
        stamp = DATE_ANCHOR - rng.randrange(365 * 86400)
        os.utime(os.path.join(root, folder), (stamp, stamp))
    return folders, files


def plan_changes(files, seed):
    """1% of the files edited (half of them keeping their size), another 1% deleted."""
    rng = random.Random(seed * 31 + 7)
    count = max(2, round(len(files) * 0.01))
    chosen = rng.sample(sorted(files), 2 * count)
    edited, deleted = chosen[:count], chosen[count:]
    same_size = {path for path, _ in edited[: (count + 1) // 2]}
    return edited, same_size, deleted


def write_changed_site(site, target, files, seed):
    shutil.copytree(site, target, copy_function=os.link)
    edited, same_size, deleted = plan_changes(files, seed)
    rng = random.Random(seed * 131 + 3)
    for path, size in edited:
        full = os.path.join(target, path)
        os.unlink(full)  # a hard link to the pristine site: never write through it
        new_size = size if path in same_size else size + rng.randrange(1, 4096)
        with open(full, "wb") as out:
            out.write(rng.randbytes(new_size))
    for path, _ in deleted:
        os.unlink(os.path.join(target, path))
    return [path for path, _ in edited], len(same_size), [path for path, _ in deleted]


def touch_edited(root, edited):
    """Dates the edits two minutes after the remote copies were made, as an edit made after
    the last upload would be: the servers list recent files to the minute only, and every tool
    then sees the edit as newer."""
    stamp = int(time.time()) + 120
    for path in edited:
        os.utime(os.path.join(root, path), (stamp, stamp))


# ---------------------------------------------------------------------------------------------
# Tree comparison


class TreeHashes:
    """Content hashes of local files, kept while the file keeps its size and date."""

    def __init__(self):
        self.cache = {}

    def digest(self, path):
        st = os.stat(path)
        key = (path, st.st_size, st.st_mtime_ns, st.st_ino)
        found = self.cache.get(key)
        if found is None:
            found = file_digest(path)
            self.cache[key] = found
        return found


def file_digest(path):
    h = hashlib.blake2b(digest_size=20)
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return h.hexdigest()
            h.update(block)


def list_tree(root):
    folders, files = set(), {}
    for top, dirs, names in os.walk(root):
        rel = os.path.relpath(top, root)
        rel = "" if rel == "." else rel
        for d in dirs:
            folders.add(os.path.join(rel, d))
        for n in names:
            full = os.path.join(top, n)
            files[os.path.join(rel, n)] = (os.path.getsize(full), full)
    return folders, files


def compare_trees(local, remote, hashes):
    """Differences between the local tree and the server's copy, as short texts."""
    lf, lfiles = list_tree(local)
    rf, rfiles = list_tree(remote)
    problems = []

    def report(what, items):
        items = sorted(items)
        if items:
            shown = ", ".join(items[:3]) + (" ..." if len(items) > 3 else "")
            problems.append("%d %s (%s)" % (len(items), what, shown))

    report("folders missing", lf - rf)
    report("folders left over", rf - lf)
    report("files missing", lfiles.keys() - rfiles.keys())
    report("files left over", rfiles.keys() - lfiles.keys())
    size_diff, content_diff = [], []
    for name in lfiles.keys() & rfiles.keys():
        (lsize, lpath), (rsize, rpath) = lfiles[name], rfiles[name]
        if lsize != rsize:
            size_diff.append(name)
        elif hashes.digest(lpath) != file_digest(rpath):
            content_diff.append(name)
    report("files of another size", size_diff)
    report("files of the same size with other content", content_diff)
    return problems


def reset_folder(path):
    if os.path.lexists(path):
        shutil.rmtree(path)
    os.makedirs(path)


def restore_folder(snapshot, path):
    if os.path.lexists(path):
        shutil.rmtree(path)
    shutil.copytree(snapshot, path, copy_function=shutil.copy2)


# ---------------------------------------------------------------------------------------------
# Processes

_libc = None


def _die_with_parent():
    # A server or tool must not outlive a harness that was killed.
    if _libc is not None:
        _libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


try:
    _libc = ctypes.CDLL("libc.so.6", use_errno=True)
except OSError:
    _libc = None


def stop_group(process, grace=3.0):
    """Ends a process started in a session of its own, with everything it started."""
    if process.poll() is not None:
        return
    for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(timeout=wait)
            return
        except subprocess.TimeoutExpired:
            continue


def closed_connections():
    """TCP connections in TIME_WAIT on this machine."""
    count = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f, None)
                for line in f:
                    fields = line.split(None, 4)
                    if len(fields) > 3 and fields[3] == "06":
                        count += 1
        except OSError:
            pass
    return count


TW_BUCKETS = "/proc/sys/net/ipv4/tcp_max_tw_buckets"
SHORT_TIME_WAIT = 256


def set_time_wait_buckets(count):
    """Sets the most closed connections the kernel keeps in TIME_WAIT; returns the old value.
    Beyond it a closing connection is freed at once, which on loopback loses nothing."""
    with open(TW_BUCKETS) as f:
        old = int(f.read())
    with open(TW_BUCKETS, "w") as f:
        f.write(str(count))
    return old


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_listener(port, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Measured:
    def __init__(self, status, seconds, peak_kib, cpu, output):
        self.status = status  # exit status; None after the time limit
        self.seconds = seconds
        self.peak_kib = peak_kib
        self.cpu = cpu  # user + system seconds of the tool itself
        self.output = output


def run_measured(argv, env, limit, work):
    """Runs argv under GNU time; wall time around the whole process, its peak resident size."""
    peak_file = os.path.join(work, "peak.txt")
    if os.path.exists(peak_file):
        os.unlink(peak_file)
    full = [GNU_TIME, "-o", peak_file, "-f", "%M %U %S"] + argv
    out_path = os.path.join(work, "tool-output.txt")
    with open(out_path, "wb") as out:
        start = time.monotonic()
        process = subprocess.Popen(full, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT, start_new_session=True,
                                   preexec_fn=_die_with_parent)
        # A blocking wait returns the moment the process ends; Popen.wait(timeout) polls with
        # sleeps of up to 50 ms, which would be the resolution of every measurement.
        expired = threading.Event()

        def time_out():
            expired.set()
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(process.pid, sig)
                except ProcessLookupError:
                    return
                if process.returncode is not None:
                    return
                time.sleep(3)

        timer = threading.Timer(limit, time_out)
        timer.start()
        try:
            status = process.wait()
            seconds = time.monotonic() - start
        finally:
            timer.cancel()
            # No other thread may be alive at the next fork: preexec_fn runs in the child.
            timer.join()
            stop_group(process)
        if expired.is_set():
            status = None
    with open(out_path, "rb") as f:
        output = f.read().decode("utf-8", "replace")
    peak, cpu = None, None
    try:
        with open(peak_file) as f:
            # GNU time puts "Command exited with non-zero status N" on a line before its own.
            fields = f.read().strip().splitlines()[-1].split()
        peak, cpu = int(fields[0]), float(fields[1]) + float(fields[2])
    except (OSError, IndexError, ValueError):
        pass
    return Measured(status, seconds, peak, cpu, output)


# ---------------------------------------------------------------------------------------------
# Servers


def command_verb(line):
    words = line.split(" ")
    verb = words[0].upper()
    if verb == "SITE" and len(words) > 1:
        verb += " " + words[1].upper()
    return verb


class Certificate:
    """A self-signed EC P-256 certificate for 127.0.0.1, made with openssl for one run."""

    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.cert = os.path.join(folder, "cert.pem")
        self.key = os.path.join(folder, "key.pem")
        made = subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-keyout", self.key,
             "-out", self.cert, "-subj", "/CN=127.0.0.1",
             "-addext", "subjectAltName=IP:127.0.0.1"],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        if made.returncode != 0:
            raise RuntimeError("openssl req failed: " + made.stderr.strip()[-500:])
        shown = subprocess.run(
            ["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", self.cert],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        # "sha256 Fingerprint=AB:CD:..." (the label's case differs between openssl versions)
        value = shown.stdout.strip().split("=", 1)[-1].strip()
        if shown.returncode != 0 or not re.fullmatch(r"(?:[0-9A-Fa-f]{2}:){31}[0-9A-Fa-f]{2}",
                                                      value):
            raise RuntimeError("openssl x509 gave no SHA-256 fingerprint: %r %s" % (
                shown.stdout.strip(), shown.stderr.strip()[-300:]))
        self.fingerprint = value.upper()
        os.chmod(self.key, 0o600)


def negotiated_tls(port):
    """The TLS version, cipher and key exchange a server chooses for openssl's client."""
    try:
        probe = subprocess.run(
            ["openssl", "s_client", "-starttls", "ftp", "-connect", "127.0.0.1:%d" % port,
             "-brief"], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)
    except (OSError, subprocess.TimeoutExpired) as error:
        return "unknown (%s)" % error
    found = {}
    for line in (probe.stderr + probe.stdout).splitlines():
        key, _, value = line.partition(":")
        if key.strip() in ("Protocol version", "Ciphersuite", "Server Temp Key",
                           "Peer signature type"):
            found[key.strip()] = value.strip()
    if not found:
        return "unknown (%s)" % (probe.stderr.strip().splitlines()[-1:] or ["no output"])[0]
    return ", ".join(found[k] for k in ("Protocol version", "Ciphersuite", "Server Temp Key",
                                         "Peer signature type") if k in found)


class Server:
    """One FTP server on 127.0.0.1 serving root/; the tools synchronise root/site. With a
    certificate it demands explicit TLS on the control and every data connection."""

    name = ""

    def __init__(self, work, certificate=None):
        self.work = work
        self.certificate = certificate
        self.root = os.path.join(work, "root")
        self.site = os.path.join(self.root, "site")
        self.log = os.path.join(work, "commands.log")
        os.makedirs(self.root)
        os.makedirs(self.site)
        self.process = None
        self.port = None
        self.mark = 0

    def begin_run(self):
        self.mark = os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def _new_lines(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, "rb") as f:
            f.seek(self.mark)
            return f.read().decode("utf-8", "replace").splitlines()

    def stop(self):
        if self.process is not None:
            stop_group(self.process)
            self.process = None

    def cpu_seconds(self):
        """CPU time of the server so far, with that of its ended children (vsftpd runs each
        session in a child process); None where /proc cannot tell."""
        try:
            with open("/proc/%d/stat" % self.process.pid) as f:
                # The command name in parentheses may hold spaces; the numbers follow it.
                fields = f.read().rsplit(")", 1)[1].split()
            return sum(int(x) for x in fields[11:15]) / os.sysconf("SC_CLK_TCK")
        except (OSError, ValueError, IndexError, AttributeError):
            return None


PYFTPD_SERVER = r'''
import json, logging, os, sys, threading
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.servers import FTPServer

root, user, password, log_path = sys.argv[1:5]
certfile, keyfile = (sys.argv[5:7] + ["", ""])[:2]
if certfile:
    # Needs PyOpenSSL (python3-openssl). AUTH TLS before the login, PROT P before any transfer.
    from pyftpdlib.handlers import TLS_FTPHandler as BaseHandler
    BaseHandler.certfile = certfile
    BaseHandler.keyfile = keyfile
    BaseHandler.tls_control_required = True
    BaseHandler.tls_data_required = True
else:
    from pyftpdlib.handlers import FTPHandler as BaseHandler
# pyftpdlib logs every transfer and folder change at INFO; the server's own bookkeeping is not
# what is measured, so only warnings are written.
logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
log = open(log_path, "a", encoding="utf-8")
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")

sessions = [0]

class Handler(BaseHandler):
    # Each connection keeps its commands and writes them in one line when it closes.
    def on_connect(self):
        sessions[0] += 1
        self.bench_session = sessions[0]
        self.bench_commands = []
        log.write(json.dumps({"open": self.bench_session}) + "\n")
        log.flush()

    def pre_process_command(self, line, cmd, arg):
        commands = getattr(self, "bench_commands", None)
        if commands is not None:
            commands.append("PASS ***" if cmd == "PASS" else line)
        return super().pre_process_command(line, cmd, arg)

    def close(self):
        commands = getattr(self, "bench_commands", None)
        if commands is not None:
            self.bench_commands = None
            log.write(json.dumps({"close": self.bench_session, "commands": commands}) + "\n")
            log.flush()
        super().close()

Handler.authorizer = authorizer
Handler.auth_failed_timeout = 0
server = FTPServer(("127.0.0.1", 0), Handler)

def watch_parent():
    sys.stdin.read()
    os._exit(0)

threading.Thread(target=watch_parent, daemon=True).start()
print(server.address[1], flush=True)
server.serve_forever()
'''


class PyFtpd(Server):
    name = "pyftpdlib"
    user = "bench"
    password = "benchpass"

    def start(self):
        script = os.path.join(self.work, "pyftpd_bench_server.py")
        with open(script, "w") as f:
            f.write(PYFTPD_SERVER)
        err = open(os.path.join(self.work, "server.err"), "wb")
        argv = [SERVER_PYTHON, script, self.root, self.user, self.password, self.log]
        if self.certificate:
            argv += [self.certificate.cert, self.certificate.key]
        self.process = subprocess.Popen(
            argv,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err, start_new_session=True,
            preexec_fn=_die_with_parent)
        err.close()
        line = self.process.stdout.readline().strip()
        if not line.isdigit():
            self.stop()
            raise RuntimeError("pyftpdlib did not start: " + self._error_text())
        self.port = int(line)

    def _error_text(self):
        with open(os.path.join(self.work, "server.err"), "rb") as f:
            return f.read().decode("utf-8", "replace")[-500:]

    def stop(self):
        if self.process is not None and self.process.stdin:
            try:
                self.process.stdin.close()
            except OSError:
                pass
        super().stop()

    def remote_path(self):
        return "/site"

    def sessions(self, settle=5.0):
        """Commands of each connection opened since begin_run, once all of them have closed.
        The server notices a closed connection a little after the client has ended, so the
        close of a connection may come after the mark of the next run; it is not counted
        there, since its opening came before."""
        deadline = time.monotonic() + settle
        while True:
            opened, closed = [], {}
            for line in self._new_lines():
                try:
                    record = json.loads(line)
                except ValueError:
                    continue  # a line still being written
                if "open" in record:
                    opened.append(record["open"])
                elif "close" in record:
                    closed[record["close"]] = record["commands"]
            if all(n in closed for n in opened) or time.monotonic() > deadline:
                return [closed[n] for n in opened if n in closed]
            time.sleep(0.02)


class Vsftpd(Server):
    name = "vsftpd"
    user = ""  # anonymous, the only login vsftpd allows when run as the launching user
    password = ""

    def start(self):
        last = ""
        for _ in range(3):
            port = free_port()
            conf = os.path.join(self.work, "vsftpd.conf")
            empty = os.path.join(self.work, "empty")
            os.makedirs(empty, exist_ok=True)
            # The settings of the integration tests (tests/support/VsftpdServer.cpp), with any
            # free port for passive data connections: anonymous sessions that run as the
            # launching user, with every write right, on loopback only and without a chroot,
            # so paths are the real ones.
            with open(conf, "w") as f:
                f.write("\n".join([
                    "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1",
                    "listen_port=%d" % port, "background=NO", "run_as_launching_user=YES",
                    "anonymous_enable=YES", "no_anon_password=YES", "anon_root=" + self.root,
                    "write_enable=YES", "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
                    "anon_other_write_enable=YES", "anon_umask=022", "local_enable=NO",
                    "secure_chroot_dir=" + empty, "seccomp_sandbox=NO", "pasv_enable=YES",
                    "port_enable=YES", "connect_from_port_20=NO", "delay_failed_login=0",
                    "use_localtime=YES", "log_ftp_protocol=YES", "xferlog_enable=YES",
                    "vsftpd_log_file=" + self.log] + self.tls_settings() + [""]))
            err = open(os.path.join(self.work, "server.err"), "wb")
            self.process = subprocess.Popen([VSFTPD, conf], stdin=subprocess.DEVNULL,
                                            stdout=err, stderr=err, start_new_session=True,
                                            preexec_fn=_die_with_parent)
            err.close()
            if wait_for_listener(port, 10) and self.process.poll() is None:
                self.port = port
                return
            self.stop()
            with open(os.path.join(self.work, "server.err"), "rb") as f:
                last = f.read().decode("utf-8", "replace")[-500:]
        raise RuntimeError("vsftpd did not start: " + last)

    def tls_settings(self):
        # TLS demanded for the anonymous login and every data connection, each data
        # connection resuming the control connection's session, as in the integration tests.
        if not self.certificate:
            return []
        return ["ssl_enable=YES", "rsa_cert_file=" + self.certificate.cert,
                "rsa_private_key_file=" + self.certificate.key, "allow_anon_ssl=YES",
                "force_anon_logins_ssl=YES", "force_anon_data_ssl=YES",
                "force_local_logins_ssl=YES", "force_local_data_ssl=YES",
                "require_ssl_reuse=YES", "ssl_ciphers=HIGH"]

    def remote_path(self):
        return self.site  # no chroot: the server names folders by their real paths

    COMMAND = re.compile(r'\[pid (\d+)\] (?:\[[^\]]*\] )?FTP command: Client "[^"]*", "(.*)"$')
    CONNECT = re.compile(r'\[pid (\d+)\] CONNECT: Client')

    def sessions(self, settle=0.3):
        # vsftpd writes each command to its log before it answers, so all but a closing QUIT
        # is there when the client has ended.
        time.sleep(settle)
        by_pid = collections.OrderedDict()
        for line in self._new_lines():
            m = self.CONNECT.search(line)
            if m:
                by_pid.setdefault(m.group(1), [])
                continue
            m = self.COMMAND.search(line)
            if m:
                by_pid.setdefault(m.group(1), []).append(m.group(2))
        return list(by_pid.values())


SERVER_CLASSES = {"pyftpdlib": PyFtpd, "vsftpd": Vsftpd}


# ---------------------------------------------------------------------------------------------
# Tools


def tool_version(argv):
    try:
        out = subprocess.run(argv, capture_output=True, text=True, timeout=20).stdout
        return out.strip().splitlines()[0] if out.strip() else "unknown"
    except (OSError, subprocess.TimeoutExpired):
        return "not available"


class Tool:
    name = ""

    def __init__(self, work, env, tls=False):
        self.work = work
        self.env = env
        # Over FTPS the tool is measured as a row of its own ("kelvane-ftps", "lftp-ftps").
        self.tls = tls
        if tls:
            self.name = type(self).name + TLS_SUFFIX

    def available(self):
        return True, ""


class Kelvane(Tool):
    name = "kelvane"

    def __init__(self, work, env, cli, tls=False):
        super().__init__(work, env, tls)
        self.cli = cli
        self.config = os.path.join(work, "config")
        os.makedirs(self.config, exist_ok=True)
        self.profiles = {}

    def available(self):
        if not self.cli or not os.access(self.cli, os.X_OK):
            return False, "kelvane-cli not built (%s)" % (self.cli or "no path")
        try:
            probe = subprocess.run([self.cli, "run", "--help"], capture_output=True, text=True,
                                   timeout=20)
        except (OSError, subprocess.TimeoutExpired) as e:
            return False, "kelvane-cli does not start: %s" % e
        if probe.returncode != 0 or "run" not in probe.stdout:
            return False, "kelvane-cli has no run command yet"
        if self.tls and "--tls-fingerprint" not in probe.stdout:
            return False, "kelvane-cli has no FTPS yet"
        return True, ""

    def version(self):
        return tool_version([self.cli, "--version"])

    def configure(self, servers, local_trees):
        # Passwords in the connections file are stored shifted by 64 per byte.
        def scrambled(text):
            return bytes((b + 64) & 0xFF for b in text.encode("utf-8"))

        records = [b"KelvaneVersion=1.06\r\n"]
        for server in servers:
            records.append(b"".join([
                b"ConnectionName=bench-" + server.name.encode() + b"\r\n",
                b"ServerName=127.0.0.1\r\n",
                b"UserName=" + server.user.encode() + b"\r\n",
                b"Password=" + scrambled(server.password) + b"\r\n",
                b"Email=\r\n",
                b"PortNumber=" + str(server.port).encode() + b"\r\n",
                b"PassiveMode=1\r\n",
                b"EndRecord=\r\n"]))
        path = os.path.join(self.config, "KelvaneConnections.txt")
        with open(path, "wb") as f:
            f.write(b"".join(records))
        os.chmod(path, 0o600)
        if self.tls:
            # TLS settings live beside the connections file, which keeps its old format: TLS
            # required, and the server's self-signed certificate trusted by its fingerprint.
            tls_records = [b"KelvaneTls=1\r\n"]
            for server in servers:
                tls_records.append(b"".join([
                    b"ConnectionName=bench-" + server.name.encode() + b"\r\n",
                    b"TlsMode=required\r\n",
                    b"TlsFingerprint=" + server.certificate.fingerprint.encode() + b"\r\n",
                    b"EndRecord=\r\n"]))
            tls_path = os.path.join(self.config, "KelvaneConnections.tls.txt")
            with open(tls_path, "wb") as f:
                f.write(b"".join(tls_records))
            os.chmod(tls_path, 0o600)
        for server in servers:
            for label, local in local_trees.items():
                profile = os.path.join(self.work, "%s-%s.kvp" % (server.name, label))
                remote = server.remote_path().rstrip("/") + "/"
                lines = [
                    "kelvane_version=1.06",
                    "location1=" + local.rstrip("/") + "/",
                    "location2=FTP:bench-%s%s" % (server.name, remote),
                    "delete_files=1", "confirm_deletes=0", "add_files=1",
                    "check_sub_folders=1", "auto_start=0", "check_actions=0", "silent_mode=1",
                    "exit_on_completion=0", "compare_on_time=1", "adjust_time_hours=0",
                    "adjust_time_mins=0", "log_file_on=0", "log_file_append=0",
                    "log_file_path=", "exclusions=end_exclusions", "wildcard_exclusions=",
                    "end_wildcard_exclusions", "ftp_exclusions=end_exclusions",
                    "wildcard_exclusions=", "end_wildcard_exclusions", ""]
                with open(profile, "wb") as f:
                    f.write("\r\n".join(lines).encode("utf-8"))
                self.profiles[(server.name, local)] = profile

    # kelvane-cli run --parallel N for every run of the main and FTPS passes; None: the
    # program's own default (the FtpConnections setting, 4).
    parallel = None

    def command(self, server, local):
        extra = ["--parallel", str(self.parallel)] if self.parallel else []
        return [self.cli, "--config-dir", self.config, "run",
                self.profiles[(server.name, local)]] + extra


class Lftp(Tool):
    """lftp's mirror as people use it: it also sets each file's permissions and date."""

    name = "lftp"
    # One connection (mirror's default --parallel=1), no retries that would hide a failure, no
    # TLS attempt on plain FTP (the plain servers do not offer it), pipelining allowed.
    SETTINGS = ("set cmd:fail-exit yes; set net:max-retries 1; set net:timeout 60; "
                "set ftp:ssl-allow no; set ftp:sync-mode off")
    # Over FTPS: AUTH TLS before the login and PROT P for every data connection, or fail; the
    # self-signed certificate is taken without a check (lftp cannot pin a fingerprint). lftp
    # leaves anonymous logins (vsftpd's) unencrypted unless ssl-allow-anonymous is on.
    TLS_SETTINGS = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                    "set ftp:ssl-allow-anonymous true; set ssl:verify-certificate no")
    MIRROR = "mirror -R --delete"

    def settings(self):
        if not self.tls:
            return self.SETTINGS
        return self.SETTINGS.replace("set ftp:ssl-allow no", self.TLS_SETTINGS)

    def available(self):
        return (shutil.which("lftp") is not None), "lftp not installed"

    def version(self):
        return tool_version(["lftp", "--version"])

    def script(self, server, local, shown_paths=False):
        # Without -u lftp logs in anonymously, as vsftpd wants.
        login = '-u "%s,%s" ' % (server.user, server.password) if server.user else ""
        return ('%s; open %s-p %s 127.0.0.1; %s "%s" "%s"' % (
            self.settings(), login, "PORT" if shown_paths else server.port, self.MIRROR,
            "LOCAL/" if shown_paths else local.rstrip("/") + "/",
            "REMOTE" if shown_paths else server.remote_path()))

    def command(self, server, local):
        return ["lftp", "--norc", "-c", self.script(server, local)]


class LftpLean(Lftp):
    """lftp doing only what kelvane-cli does: no permissions or dates set, no MDTM per file,
    changed files overwritten in place rather than deleted first. lftp 4.9 has no switch for
    MFMT alone, so FEAT is off, which also means LIST instead of MLSD on pyftpdlib."""

    name = "lftp-lean"
    SETTINGS = Lftp.SETTINGS + ("; set ftp:use-feat no; set ftp:use-site-chmod no; "
                                "set ftp:use-site-utime no; set ftp:use-site-utime2 no; "
                                "set ftp:use-mdtm no")
    MIRROR = "mirror -R --delete --no-perms --overwrite"


class Rclone(Tool):
    name = "rclone"
    CONCURRENCY = ["--transfers", "1", "--checkers", "1"]

    def available(self):
        return (shutil.which("rclone") is not None), "rclone not installed"

    def version(self):
        return tool_version(["rclone", "version"])

    def command(self, server, local):
        # An empty configuration of its own: nothing of the user's rclone set-up takes part.
        config = os.path.join(self.work, "rclone.conf")
        if not os.path.exists(config):
            open(config, "w").close()
        secret = subprocess.run(["rclone", "obscure", server.password or "anonymous@"],
                                capture_output=True, text=True, timeout=20).stdout.strip()
        remote = ":ftp,host=127.0.0.1,port=%d,user=%s,pass=%s:%s" % (
            server.port, server.user or "anonymous", secret, server.remote_path())
        # One transfer and one checker; rclone still opens a second connection when it lists
        # while it uploads (the conns column shows it).
        return ["rclone", "sync", local, remote] + self.CONCURRENCY + [
            "--retries", "1", "--low-level-retries", "1", "--config", config]


# The far-server pass: one and four connections, where a tool can use more than one.


class KelvaneFar(Kelvane):
    """kelvane-cli run with --parallel N. A kelvane-cli without the option runs as it is, and
    its rows say so."""

    def __init__(self, work, env, cli, connections):
        super().__init__(work, env, cli)
        self.name = "kelvane-%d" % connections
        self.connections = connections
        self.has_parallel = False

    def available(self):
        ok, why = super().available()
        if ok:
            probe = subprocess.run([self.cli, "run", "--help"], capture_output=True, text=True,
                                   timeout=20)
            self.has_parallel = "--parallel" in probe.stdout
        return ok, why

    def note(self):
        # Without the option even the one-connection row runs with the program's default.
        return "" if self.has_parallel else "(--parallel not available)"

    def command(self, server, local):
        argv = super().command(server, local)
        if self.has_parallel:
            argv[-1:-1] = ["--parallel", str(self.connections)]
        return argv


class LftpFar(Lftp):
    """lftp's mirror as people use it, with one or with four connections (--parallel=4)."""

    def __init__(self, work, env, connections):
        super().__init__(work, env)
        self.name = "lftp-%d" % connections
        self.connections = connections
        if connections > 1:
            self.MIRROR = Lftp.MIRROR + " --parallel=%d" % connections

    def note(self):
        return ""


class RcloneFar(Rclone):
    """rclone sync with its own concurrency (4 transfers, 8 checkers)."""

    CONCURRENCY = []

    def note(self):
        return ""


def far_tool(name, work, env, cli):
    if name.startswith("kelvane-"):
        return KelvaneFar(work, env, cli, int(name.split("-")[1]))
    if name.startswith("lftp-"):
        return LftpFar(work, env, int(name.split("-")[1]))
    return RcloneFar(work, env)


class FarProxy:
    """bench/far_proxy.py in front of one server, delaying each way by delay_ms."""

    def __init__(self, work, server_port, delay_ms):
        self.work = work
        self.server_port = server_port
        self.delay_ms = delay_ms
        self.process = None
        self.port = None

    def start(self):
        os.makedirs(self.work, exist_ok=True)
        port_file = os.path.join(self.work, "proxy.port")
        err_path = os.path.join(self.work, "proxy.err")
        err = open(err_path, "wb")
        self.process = subprocess.Popen(
            [SERVER_PYTHON, FAR_PROXY, "--listen-port", "0", "--server-port",
             str(self.server_port), "--delay-ms", str(self.delay_ms), "--port-file", port_file],
            stdin=subprocess.DEVNULL, stdout=err, stderr=err, start_new_session=True,
            preexec_fn=_die_with_parent)
        err.close()
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.process.poll() is None:
            if os.path.exists(port_file):
                with open(port_file) as f:
                    self.port = int(f.read())
                return
            time.sleep(0.02)
        self.stop()
        with open(err_path, "rb") as f:
            raise RuntimeError("far_proxy.py did not start: " +
                               f.read().decode("utf-8", "replace")[-500:])

    def stop(self):
        if self.process is not None:
            stop_group(self.process)
            self.process = None

    def cpu_seconds(self):
        return Server.cpu_seconds(self)


class FarServer:
    """A server as the tools see it through a proxy: the proxy's port, the server's folders,
    logs and counts. The name tells the delays apart (connection names, profiles, rows)."""

    def __init__(self, server, proxy):
        self.server = server
        self.proxy = proxy
        self.delay_ms = proxy.delay_ms
        self.name = "%s-%gms" % (server.name, proxy.delay_ms)
        self.base_name = server.name

    @property
    def port(self):
        return self.proxy.port

    def __getattr__(self, attr):
        return getattr(self.server, attr)


# ---------------------------------------------------------------------------------------------
# The measurements


class Row:
    def __init__(self, scenario, server, tool):
        self.scenario, self.server, self.tool = scenario, server, tool
        self.seconds = []
        self.peaks = []
        self.cpu = []
        self.server_cpu = []
        self.proxy_cpu = []
        self.commands = None  # verb -> count, from the first repetition
        self.sessions = None
        self.transcript = None
        self.problems = []  # differences left or failures, one text each
        self.bad_runs = 0
        self.skipped = ""

    def median(self):
        return statistics.median(self.seconds) if self.seconds else None

    def peak(self):
        return max(self.peaks) if self.peaks else None


def failure_words(line):
    """Where a line reads as a failure: an error word, or a reply code of 400 or more on a line
    that is not a transfer line (those show a rate, and their numbers are sizes)."""
    found = ERROR_WORDS.search(line)
    if found:
        return found
    return None if RATE.search(line) else REPLY_CODE.search(line)


def failure_text(output, width=160):
    """The last line of a tool's output that reads as an error (lftp's mirror goes on with its
    transfer lines after the failure it reports), else the last line; a long line is shown
    from a little before its error words."""
    lines = output.strip().splitlines() or [""]
    errors = [line for line in lines if failure_words(line)]
    line = (errors or lines)[-1]
    found = failure_words(line)
    if found and found.end() > width:
        line = "..." + line[max(0, found.start() - 60):]
    return line[:width]


class Bench:
    def __init__(self, args):
        self.args = args
        self.started = time.monotonic()
        self.deadline = self.started + args.total_limit
        self.rows = {}
        self.warnings = []
        self.tools = []
        self.versions = {}
        self.unavailable = {}
        self.port_wait = 0.0
        self.work_filesystem = "unknown"
        self.fingerprint = None
        self.negotiated = {}  # server -> TLS version and cipher of a probe connection

    def time_left(self):
        return self.deadline - time.monotonic()

    def say(self, text):
        print(text, flush=True)

    def measure(self, server, tool, scenario, local, work):
        row = self.rows[(scenario, server.name, tool.name)]
        if row.skipped:
            return
        if self.time_left() < 5:
            row.skipped = "total time limit reached"
            return
        self.wait_for_ports(row)
        server.begin_run()
        server_cpu = server.cpu_seconds()
        proxy = getattr(server, "proxy", None)
        proxy_cpu = proxy.cpu_seconds() if proxy else None
        result = run_measured(tool.command(server, local), tool.env,
                              min(self.args.run_limit, self.time_left()), work)
        sessions = server.sessions()
        server_cpu_after = server.cpu_seconds()
        if server_cpu is not None and server_cpu_after is not None:
            row.server_cpu.append(server_cpu_after - server_cpu)
        proxy_cpu_after = proxy.cpu_seconds() if proxy else None
        if proxy_cpu is not None and proxy_cpu_after is not None:
            row.proxy_cpu.append(proxy_cpu_after - proxy_cpu)
        problems = []
        if result.status is None:
            problems.append("stopped after the time limit of %d s" % self.args.run_limit)
        elif result.status != 0:
            # The last line that reads as an error, else the last line: lftp's mirror ends
            # with its transfer lines after the failure it reports.
            problems.append("exit status %d: %s" % (result.status,
                                                    failure_text(result.output)))
        problems += compare_trees(local, server.site, self.hashes)
        row.seconds.append(result.seconds)
        if problems:
            row.bad_runs += 1
        if result.peak_kib:
            row.peaks.append(result.peak_kib)
        if result.cpu is not None:
            row.cpu.append(result.cpu)
        flat = [c for s in sessions for c in s]
        if row.commands is None:
            row.commands = collections.Counter(command_verb(c) for c in flat)
            row.sessions = len(sessions)
            row.transcript = sessions
        for p in problems:
            text = "%s on %s, %s: %s" % (tool.name, server.name, scenario, p)
            if p not in row.problems:
                row.problems.append(p)
                self.warnings.append(text)
            self.say("  WARNING " + text)
        self.say("  %-8s %-9s %-12s %7.2f s  %6s KiB  %5d commands  %s" % (
            scenario, server.name, tool.name, result.seconds, result.peak_kib or "?",
            sum(row.commands.values()) if row.commands is not None else 0,
            "ok" if not problems else "DIFFERS/FAILED"))

    def run(self):
        args = self.args
        shape = SITES["far" if args.far else "quick" if args.quick else args.files]
        work = tempfile.mkdtemp(prefix="kelvane-bench-", dir=args.work_root)
        self.work_filesystem = filesystem_type(work)
        servers = []
        try:
            self.say("Work folder %s" % work)
            site = os.path.join(work, "site")
            changed_site = os.path.join(work, "site-changed")
            self.say("Building the site: %d files in %d folders, %.1f MiB, seed %d" % (
                shape.files, shape.folders, shape.total / MiB, args.seed))
            folders, files = write_site(site, shape, args.seed)
            edited, same_size, deleted = write_changed_site(site, changed_site, files, args.seed)
            self.site_facts = (len(files), len(folders), sum(s for _, s in files),
                               max(s for _, s in files), min(s for _, s in files))
            self.change_facts = (len(edited), same_size, len(deleted))
            self.hashes = TreeHashes()

            home = os.path.join(work, "home")
            os.makedirs(home)
            env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                       XDG_CACHE_HOME=os.path.join(home, ".cache"),
                       XDG_DATA_HOME=os.path.join(home, ".local", "share"), LC_ALL="C.UTF-8")
            for key in list(env):
                if key.startswith("RCLONE_") or key.startswith("KELVANE_"):
                    del env[key]
            certificate = None
            if args.tls:
                certificate = Certificate(os.path.join(work, "tls"))
                self.fingerprint = certificate.fingerprint
                self.say("Certificate for 127.0.0.1, SHA-256 %s" % certificate.fingerprint)
            tools = []
            for name, tls in self.tool_plan():
                folder = os.path.join(work, name + (TLS_SUFFIX if tls else ""))
                if args.far:
                    tool = far_tool(name, folder, env, args.cli)
                elif name == "kelvane":
                    tool = Kelvane(folder, env, args.cli, tls)
                    tool.parallel = args.parallel
                elif name == "lftp":
                    tool = Lftp(folder, env, tls)
                elif name == "lftp-lean":
                    tool = LftpLean(folder, env, tls)
                else:
                    tool = Rclone(folder, env, tls)
                ok, why = tool.available()
                os.makedirs(tool.work, exist_ok=True)
                if ok:
                    tools.append(tool)
                else:
                    self.say("%s: not available (%s)" % (tool.name, why))
                    self.unavailable[tool.name] = why
            self.tools = tools
            self.versions = {t.name: t.version() for t in tools}

            if args.far:
                self.run_far(work, servers, tools, site, changed_site, edited)
            for server_name in ([] if args.far else args.servers):
                instances = {}
                for tool in tools:
                    server = SERVER_CLASSES[server_name](
                        os.path.join(work, "servers", "%s-%s" % (server_name, tool.name)),
                        certificate if tool.tls else None)
                    servers.append(server)
                    server.start()
                    instances[tool.name] = server
                    for scenario in self.scenarios_of(tool):
                        self.rows[(scenario, server_name, tool.name)] = Row(
                            scenario, server_name, tool.name)
                for tool in tools:
                    if isinstance(tool, Kelvane):
                        tool.configure([instances[tool.name]],
                                       {"site": site, "changed": changed_site})
                for tool in tools:
                    if tool.tls and server_name not in self.negotiated:
                        self.negotiated[server_name] = negotiated_tls(instances[tool.name].port)
                        self.say("%s: TLS %s" % (server_name, self.negotiated[server_name]))
                self.say("\n%s (one server per tool, ports %s)" % (
                    server_name, ", ".join(str(s.port) for s in instances.values())))
                self.run_server(instances, tools, site, changed_site, edited, work)
                for server in instances.values():
                    server.stop()
        finally:
            for server in servers:
                server.stop()
            if args.keep_work:
                self.say("Work folder kept: %s" % work)
            else:
                shutil.rmtree(work, ignore_errors=True)

    def run_far(self, work, servers, tools, site, changed_site, edited):
        """Each tool on its own server, reached through one proxy per delay; the delays are
        measured one after another, each with its rounds across the tools."""
        delays = self.args.delays
        for server_name in self.args.servers:
            by_delay = {d: {} for d in delays}
            proxies = []
            for tool in tools:
                server = SERVER_CLASSES[server_name](
                    os.path.join(work, "servers", "%s-%s" % (server_name, tool.name)))
                servers.append(server)
                server.start()
                for delay in delays:
                    proxy = FarProxy(os.path.join(server.work, "proxy-%gms" % delay),
                                     server.port, delay)
                    servers.append(proxy)
                    proxies.append(proxy)
                    proxy.start()
                    far = FarServer(server, proxy)
                    by_delay[delay][tool.name] = far
                    for scenario in self.scenarios_of(tool):
                        self.rows[(scenario, far.name, tool.name)] = Row(
                            scenario, far.name, tool.name)
                if isinstance(tool, Kelvane):
                    tool.configure([by_delay[d][tool.name] for d in delays],
                                   {"site": site, "changed": changed_site})
            for delay in delays:
                instances = by_delay[delay]
                self.say("\n%s behind the proxy at %g ms each way (one server per tool, proxy "
                         "ports %s)" % (server_name, delay,
                                        ", ".join(str(s.port) for s in instances.values())))
                self.run_server(instances, tools, site, changed_site, edited, work)
            for proxy in proxies:
                proxy.stop()
            for tool in tools:
                by_delay[delays[0]][tool.name].server.stop()

    def tool_plan(self):
        """(tool, over TLS) in the order of a round. The FTPS pass puts each tool's plain run
        beside its TLS one."""
        if self.args.far:
            return [(name, False) for name in self.args.tools]
        if not self.args.tls:
            return [(name, False) for name in self.args.tools]
        return [(name, tls) for name in self.args.tools for tls in (False, True)]

    def scenarios_of(self, tool):
        if self.args.far:
            return FAR_SCENARIOS
        if not self.args.tls:
            return SCENARIOS
        return TLS_SCENARIOS if tool.tls else ("first",)

    def wait_for_ports(self, row):
        """Every data connection leaves a closed connection (TIME_WAIT) behind for a minute,
        and each one holds a local port. With thousands of them the kernel searches longer for
        a free port at every bind and connect, and a run of 1,000 small uploads to pyftpdlib
        takes three times as long at 15,000 of them as at none, whichever tool runs. So a run
        starts only when few are left (with --short-time-wait there never are many)."""
        limit = 2000
        start = time.monotonic()
        while closed_connections() > limit and time.monotonic() - start < 75 and \
                self.time_left() > 60:
            time.sleep(1)
        waited = time.monotonic() - start
        if waited >= 1:
            self.port_wait += waited
            self.say("  (waited %.0f s for closed connections to clear)" % waited)

    def run_server(self, instances, tools, site, changed_site, edited, work):
        snapshots = {}
        runs = os.path.join(work, "runs")
        os.makedirs(runs, exist_ok=True)
        # Repetitions go round the tools, so a slow moment of a shared machine is spread over
        # all of them instead of falling on one.
        def turn(rep, scenario):
            # Each repetition starts with the next tool, so no tool always runs right after
            # the same other one.
            taking = [t for t in tools if scenario in self.scenarios_of(t)]
            return taking[rep % len(taking):] + taking[:rep % len(taking)] if taking else []

        for rep in range(self.args.repeat):
            for tool in turn(rep, "first"):
                server = instances[tool.name]
                reset_folder(server.site)
                self.measure(server, tool, "first", site, runs)
        for tool in tools:
            if self.scenarios_of(tool) == ("first",):
                continue  # nothing runs on top of this tool's upload
            server = instances[tool.name]
            snapshot = os.path.join(work, "snapshots", "%s-%s" % (server.name, tool.name))
            shutil.copytree(server.site, snapshot, copy_function=shutil.copy2)
            snapshots[tool.name] = snapshot
        for scenario, local in (("same", site), ("changed", changed_site)):
            for rep in range(self.args.repeat):
                for tool in turn(rep, scenario):
                    server = instances[tool.name]
                    restore_folder(snapshots[tool.name], server.site)
                    if scenario == "changed":
                        touch_edited(changed_site, edited)
                    self.measure(server, tool, scenario, local, runs)
        if self.args.keep_logs:
            os.makedirs(self.args.keep_logs, exist_ok=True)
            for (scenario, server_name, tool_name), row in self.rows.items():
                if row.transcript is None or server_name != instances[tool_name].name:
                    continue
                path = os.path.join(self.args.keep_logs, "%s-%s-%s.txt" % (
                    server_name, tool_name, scenario))
                with open(path, "w") as f:
                    for number, session in enumerate(row.transcript):
                        f.write("# connection %d: %d commands\n" % (number + 1, len(session)))
                        f.write("\n".join(session) + "\n")


# ---------------------------------------------------------------------------------------------
# Report


def fmt_ratio(value, base):
    if value is None or base is None or base <= 0:
        return "-"
    return "%.2f" % (value / base)


def filesystem_type(path):
    """The type of the file system holding path, from /proc/self/mounts (longest mount point)."""
    path = os.path.realpath(path)
    best, kind = "", "unknown"
    try:
        with open("/proc/self/mounts") as f:
            for line in f:
                fields = line.split()
                if len(fields) < 3:
                    continue
                point = fields[1].replace("\\040", " ")
                inside = path == point or path.startswith(point.rstrip("/") + "/")
                if inside and len(point) > len(best):
                    best, kind = point, fields[2]
    except OSError:
        pass
    return kind


def default_work_root(files):
    """The site, the servers' folders and the snapshots go to /dev/shm when it has room: with
    the servers writing to a disk, the write-back of what earlier runs left slows later runs,
    and the first uploads of the 10,000-file site took twice as long by the third repetition."""
    need = (4 if files == 10000 else 2) * 1024 * MiB
    try:
        stats = os.statvfs("/dev/shm")
        if os.access("/dev/shm", os.W_OK) and stats.f_bavail * stats.f_frsize > need:
            return "/dev/shm"
    except OSError:
        pass
    return None  # TMPDIR or /tmp


def machine_facts():
    facts = []
    try:
        facts.append("%s CPUs (nproc)" % subprocess.run(
            ["nproc"], capture_output=True, text=True).stdout.strip())
    except OSError:
        pass
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    facts.append(line.split(":", 1)[1].strip())
                    break
    except OSError:
        pass
    try:
        with open("/proc/meminfo") as f:
            kib = int(f.readline().split()[1])
            facts.append("%.1f GiB memory" % (kib / MiB))
    except (OSError, ValueError, IndexError):
        pass
    facts.append(" ".join(platform.uname()[i] for i in (0, 2, 4)))
    facts.append("load average %.2f %.2f %.2f at the end" % os.getloadavg())
    return facts


def result_table(bench):
    measured = [t.name for t in bench.tools]
    peers = [p for p in PEERS if p in measured]
    head = ["scenario", "server", "tool", "median s", "min-max s"] + ["/ " + p for p in peers] + [
        "cpu s", "server cpu s", "peak MiB", "commands", "conns", "remote = local"]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for scenario in SCENARIOS:
        for server in bench.args.servers:
            for tool in measured:
                row = bench.rows.get((scenario, server, tool))
                if row is None:
                    continue
                median = row.median()
                if median is None:
                    cells = [scenario, server, tool, row.skipped or "no result"]
                    cells += [""] * (len(head) - len(cells))
                    lines.append("| " + " | ".join(cells) + " |")
                    continue
                cells = [scenario, server, tool, "%.2f" % median,
                         "%.2f-%.2f" % (min(row.seconds), max(row.seconds))]
                for peer in peers:
                    other = bench.rows.get((scenario, server, peer))
                    cells.append(fmt_ratio(median, other.median() if other else None))
                cells.append("%.2f" % statistics.median(row.cpu) if row.cpu else "?")
                cells.append("%.2f" % statistics.median(row.server_cpu) if row.server_cpu
                             else "?")
                cells.append("%.1f" % (row.peak() / 1024) if row.peak() else "?")
                cells.append(str(sum(row.commands.values())) if row.commands is not None else "?")
                cells.append(str(row.sessions) if row.sessions is not None else "?")
                cells.append(outcome_cell(row))
                lines.append("| " + " | ".join(cells) + " |")
    return lines


def command_table(bench):
    verbs = collections.Counter()
    for row in bench.rows.values():
        if row.commands:
            verbs.update(row.commands)
    order = [v for v, _ in verbs.most_common()]
    lines = ["| scenario | server | tool | " + " | ".join(order) + " |",
             "|" + "---|" * (3 + len(order))]
    for scenario in SCENARIOS:
        for server in bench.args.servers:
            for tool in [t.name for t in bench.tools]:
                row = bench.rows.get((scenario, server, tool))
                if row is None or row.commands is None:
                    continue
                lines.append("| %s | %s | %s | %s |" % (scenario, server, tool, " | ".join(
                    str(row.commands.get(v, "")) for v in order)))
    return lines


def goal_lines(bench):
    """kelvane-cli against the performance goals, which are ratios to lftp's median."""
    limits = {("first", "vsftpd"): 0.8, ("first", "pyftpdlib"): 0.6}
    quick = bench.args.quick
    lines = []
    for scenario in SCENARIOS:
        for server in bench.args.servers:
            k = bench.rows.get((scenario, server, "kelvane"))
            l = bench.rows.get((scenario, server, "lftp"))
            if not k or not l or k.median() is None or l.median() is None:
                continue
            ratio = k.median() / l.median()
            text = "- %s, %s: %.3f x lftp" % (SCENARIO_TEXT[scenario], server, ratio)
            if quick or (scenario == "first" and bench.args.files != 1000):
                lines.append(text + " (no goal for this site)")
                continue
            goal = limits.get((scenario, server), 0.7)
            met = ratio <= goal and not k.problems
            lines.append("%s (goal at most %.1f): %s%s" % (
                text, goal, "met" if met else "NOT met",
                "" if not k.problems else ", the server's copy differs"))
    peaks = [r.peak() for r in bench.rows.values() if r.tool == "kelvane" and r.peak()]
    if peaks:
        text = "- peak memory of kelvane-cli: %.1f MiB" % (max(peaks) / 1024)
        if not quick and bench.args.files == 10000:
            text += " (goal under 16 MiB): %s" % ("met" if max(peaks) < 16 * 1024 else "NOT met")
        lines.append(text)
    return lines


def tls_handshakes(sessions):
    """TLS handshakes of a run, counted from its commands: one per control connection that
    sent AUTH, and one per data connection opened after PROT P on it."""
    count = 0
    for session in sessions or []:
        protected = False
        for line in session:
            verb = command_verb(line)
            if verb == "AUTH":
                count += 1
            elif verb == "PROT":
                protected = line.upper().split()[-1:] == ["P"]
            elif verb in DATA_COMMANDS and protected:
                count += 1
    return count


def tls_result_table(bench):
    measured = [t.name for t in bench.tools]
    head = ["scenario", "server", "tool", "median s", "min-max s", "runs", "/ lftp", "/ plain",
            "cpu s", "server cpu s", "peak MiB", "commands", "conns", "data conns",
            "TLS handshakes", "remote = local"]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for scenario in TLS_SCENARIOS:
        for server in bench.args.servers:
            for tool in measured:
                row = bench.rows.get((scenario, server, tool))
                if row is None:
                    continue
                median = row.median()
                if median is None:
                    cells = [scenario, server, tool, row.skipped or "no result"]
                    cells += [""] * (len(head) - len(cells))
                    lines.append("| " + " | ".join(cells) + " |")
                    continue
                tls = tool.endswith(TLS_SUFFIX)
                base = tool[:-len(TLS_SUFFIX)] if tls else tool
                # The peer of the same transport; the same tool over plain FTP.
                peer = bench.rows.get((scenario, server, "lftp" + (TLS_SUFFIX if tls else "")))
                plain = bench.rows.get((scenario, server, base)) if tls else None
                cells = [scenario, server, tool, "%.2f" % median,
                         "%.2f-%.2f" % (min(row.seconds), max(row.seconds)), str(len(row.seconds)),
                         fmt_ratio(median, peer.median() if peer else None),
                         fmt_ratio(median, plain.median() if plain else None)]
                cells.append("%.2f" % statistics.median(row.cpu) if row.cpu else "?")
                cells.append("%.2f" % statistics.median(row.server_cpu) if row.server_cpu
                             else "?")
                cells.append("%.1f" % (row.peak() / 1024) if row.peak() else "?")
                cells += command_cells(row)
                cells.append(str(tls_handshakes(row.transcript)) if row.commands is not None
                             else "?")
                cells.append(outcome_cell(row))
                lines.append("| " + " | ".join(cells) + " |")
    return lines


def command_cells(row):
    """Commands, sessions and data connections of a row's transcript."""
    if row.commands is None:
        return ["?"] * 3
    return [str(sum(row.commands.values())), str(row.sessions),
            str(sum(row.commands.get(v, 0) for v in DATA_COMMANDS))]


def outcome_cell(row):
    """Whether every run left the server equal to the local tree, else what went wrong."""
    if not row.problems:
        return "yes"
    return "**NO** (%d of %d runs): %s" % (row.bad_runs, len(row.seconds),
                                            "; ".join(row.problems))


def tls_goal_lines(bench):
    """kelvane-cli over FTPS against lftp over FTPS (one connection each) and against its own
    plain-FTP first upload of the same run."""
    quick = bench.args.quick or bench.args.files != 1000
    lines = []

    def median(scenario, server, tool):
        row = bench.rows.get((scenario, server, tool))
        return (row.median(), row) if row is not None else (None, None)

    for scenario in TLS_SCENARIOS:
        for server in bench.args.servers:
            k, krow = median(scenario, server, "kelvane" + TLS_SUFFIX)
            if k is None:
                continue
            differs = ", the server's copy differs" if krow.problems else ""
            for other, goal in (("lftp" + TLS_SUFFIX, 0.7), ("kelvane", 1.6)):
                o, orow = median(scenario, server, other)
                if o is None or o <= 0:
                    continue
                ratio = k / o
                text = "- %s over FTPS, %s: kelvane-ftps %.2f s = %.3f x %s %.2f s" % (
                    SCENARIO_TEXT[scenario], server, k, ratio,
                    "kelvane plain FTP" if other == "kelvane" else other, o)
                if orow.problems:
                    text += " (%s failed or left differences in %d of %d runs, so its time " \
                            "is a weak yardstick)" % (other, orow.bad_runs, len(orow.seconds))
                if quick or scenario != "first":
                    lines.append(text + " (no goal)")
                    continue
                met = ratio <= goal and not krow.problems
                lines.append("%s (goal at most %.1f): %s%s%s" % (
                    text, goal, "met" if met else "NOT met", differs,
                    server_bound(krow, goal * o)
                    if other == "kelvane" and bench.args.parallel == 1 else ""))
    return lines


def server_bound(row, budget):
    """Both servers serve a session from one process (vsftpd) or one thread (pyftpdlib), so a
    run with one connection cannot end sooner than the CPU time the server spent on it."""
    if not row.server_cpu:
        return ""
    spent = statistics.median(row.server_cpu)
    return "; the server spent %.2f s of CPU on the run, %s the goal's %.2f s" % (
        spent, "more than" if spent > budget else "within", budget)


def far_rows(bench, scenario, server, delay, tool):
    return bench.rows.get((scenario, "%s-%gms" % (server, delay), tool))


def far_tool_label(bench, name):
    tool = next((t for t in bench.tools if t.name == name), None)
    note = tool.note() if tool is not None else ""
    return name + (" " + note if note else "")


def far_result_table(bench):
    measured = [t.name for t in bench.tools]
    peers = [p for p in ("lftp-1", "lftp-4", "rclone") if p in measured]
    head = ["scenario", "server", "delay ms", "tool", "median s", "min-max s", "runs"] + [
        "/ " + p for p in peers] + ["/ 0 ms", "cpu s", "server cpu s", "proxy cpu s",
                                   "commands", "conns", "data conns", "remote = local"]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for scenario in FAR_SCENARIOS:
        for server in bench.args.servers:
            for delay in bench.args.delays:
                for tool in measured:
                    row = far_rows(bench, scenario, server, delay, tool)
                    if row is None:
                        continue
                    label = far_tool_label(bench, tool)
                    median = row.median()
                    if median is None:
                        cells = [scenario, server, "%g" % delay, label,
                                 row.skipped or "no result"]
                        cells += [""] * (len(head) - len(cells))
                        lines.append("| " + " | ".join(cells) + " |")
                        continue
                    cells = [scenario, server, "%g" % delay, label, "%.2f" % median,
                             "%.2f-%.2f" % (min(row.seconds), max(row.seconds)),
                             str(len(row.seconds))]
                    for peer in peers:
                        other = far_rows(bench, scenario, server, delay, peer)
                        cells.append(fmt_ratio(median, other.median() if other else None))
                    near = far_rows(bench, scenario, server, 0, tool)
                    cells.append(fmt_ratio(median, near.median() if near and delay else None))
                    for values in (row.cpu, row.server_cpu, row.proxy_cpu):
                        cells.append("%.2f" % statistics.median(values) if values else "?")
                    cells += command_cells(row)
                    cells.append(outcome_cell(row))
                    lines.append("| " + " | ".join(cells) + " |")
    return lines


def far_goal_lines(bench):
    """kelvane-cli with four connections against lftp with four and rclone with its defaults,
    behind the proxy at 10 ms each way."""
    lines = []
    delay = 10
    for scenario, peer in (("first", "lftp-4"), ("same", "rclone")):
        for server in bench.args.servers:
            k = far_rows(bench, scenario, server, delay, "kelvane-4")
            o = far_rows(bench, scenario, server, delay, peer)
            if k is None or o is None or k.median() is None or o.median() is None or \
                    o.median() <= 0:
                continue
            ratio = k.median() / o.median()
            text = "- %s, %s, %d ms each way: %s %.2f s = %.3f x %s %.2f s" % (
                SCENARIO_TEXT[scenario], server, delay, far_tool_label(bench, "kelvane-4"),
                k.median(), ratio, peer, o.median())
            if o.problems:
                text += " (%s failed or left differences in %d of %d runs)" % (
                    peer, o.bad_runs, len(o.seconds))
            if bench.args.quick:
                lines.append(text + " (no goal for a quick run)")
                continue
            met = ratio <= 0.8 and not k.problems
            lines.append("%s (goal at most 0.8): %s%s" % (
                text, "met" if met else "NOT met", far_problem_note(k)))
    return lines


def far_problem_note(row):
    """Why a row cannot meet its goal whatever its time: a failure the tool reported (its exit
    status) is told apart from a server copy that differs."""
    if not row.problems:
        return ""
    reported = all(p.startswith(("exit status", "stopped after")) for p in row.problems)
    return ", %s in %d of %d runs" % (
        "kelvane-cli reported a failure (the server's copy was right)" if reported else
        "kelvane-cli failed or the server's copy differs", row.bad_runs, len(row.seconds))


def run_facts(bench, label):
    """The heading and the conditions of the run, shared by the plain and the FTPS sections."""
    args = bench.args
    files, folders, total, largest, smallest = bench.site_facts
    edited, same, deleted = bench.change_facts
    out = []
    out.append("### %s" % label)
    out.append("")
    out.append("Measured %s by `%s`." % (
        datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
        " ".join(["bench/sync_bench.py"] + sys.argv[1:])))
    out.append("")
    out.append("- Machine: " + "; ".join(machine_facts()))
    largest_text = "%.1f MiB" % (largest / MiB) if largest >= MiB else "%d bytes" % largest
    site = "- Site: %d files in %d folders, %.1f MiB (%d bytes to %s), seed %d" % (
        files, folders, total / MiB, smallest, largest_text, args.seed)
    if args.tls or args.far:
        out.append(site + "; no changed run in this pass")
    else:
        out.append(site + "; the changed run edits %d files (%d of them keeping their size) "
                   "and deletes %d" % (edited, same, deleted))
    out.append("- Repetitions: %d per cell, taken in turn across the tools (each round starting "
               "with the next tool), median shown; wall time of the whole process "
               "(time.monotonic around it), the tool's own CPU time (user + system) and peak "
               "resident memory from GNU time, the server's CPU time (with its ended children) "
               "from /proc" % args.repeat)
    out.append("- Files: the site and the servers' folders on %s (%s)" % (
        bench.work_filesystem, args.work_root or tempfile.gettempdir()))
    if args.short_time_wait:
        out.append("- Closed connections: net.ipv4.tcp_max_tw_buckets was %d for the run, so "
                   "no run met thousands of connections in TIME_WAIT" % SHORT_TIME_WAIT)
    else:
        out.append("- Closed connections: each run waited for TIME_WAIT connections to drop "
                   "below 2,000; %.0f s in all" % bench.port_wait)
    versions = []
    shown = set()
    for tool, text in bench.versions.items():
        if tool == "lftp-lean" or tool.endswith(TLS_SUFFIX):
            continue  # the same program as lftp, or as the plain row
        program = tool.split("-")[0] if args.far else tool
        if program in shown:
            continue  # the far pass's one- and four-connection rows of one program
        shown.add(program)
        number = re.search(r"\d+\.\d+(?:\.\d+)?(?:-\S+)?", text)
        versions.append("%s %s" % ("kelvane-cli" if program == "kelvane" else program,
                                   number.group(0) if number else text))
    versions.append("pyftpdlib %s" % package_version("python3-pyftpdlib"))
    versions.append("vsftpd %s" % package_version("vsftpd"))
    versions.append("Python %s" % platform.python_version())
    if args.tls:
        versions.append("PyOpenSSL %s" % package_version("python3-openssl"))
        versions.append(tool_version(["openssl", "version"]))
    out.append("- Versions: " + "; ".join(versions))
    for name, why in bench.unavailable.items():
        out.append("- %s: not measured, %s" % (name, why))
    return out


def write_results(bench, path, label):
    lftp = Lftp("/nonexistent", {})
    out = run_facts(bench, label)
    out.append("")
    out.extend(result_table(bench))
    out.append("")
    out.append("FTP commands of one run (first repetition), as the server received them:")
    out.append("")
    out.extend(command_table(bench))
    goals = goal_lines(bench)
    if goals:
        out.append("")
        out.append("Goals for kelvane-cli:")
        out.append("")
        out.extend(goals)
    out.append("")
    out.append("Commands (LOCAL is the site, REMOTE the server's folder, PORT the server's):")
    out.append("")
    out.append("```")
    out.append("kelvane-cli --config-dir CONFIG run PROFILE.kvp   # compare by time, add and "
               "delete on, sub-folders on, check actions off, silent mode on")
    out.append("# vsftpd: no -u (anonymous login)")
    out.append("lftp --norc -c '%s'" % lftp.script(_Shown(), "LOCAL", shown_paths=True))
    out.append("lftp --norc -c '%s'   # lftp-lean" % LftpLean("/nonexistent", {}).script(
        _Shown(), "LOCAL", shown_paths=True))
    out.append("rclone sync LOCAL :ftp,host=127.0.0.1,port=PORT,user=USER,pass=OBSCURED:REMOTE "
               "--transfers 1 --checkers 1 --retries 1 --low-level-retries 1 --config EMPTY")
    out.append("```")
    write_section(path, label, "\n".join(out) + "\n")


def write_tls_results(bench, path, label):
    out = run_facts(bench, label)
    out.append("- TLS: a self-signed EC P-256 certificate for 127.0.0.1 made for the run (openssl "
               "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1); pyftpdlib with "
               "TLS_FTPHandler, tls_control_required and tls_data_required; vsftpd with "
               "ssl_enable, TLS forced for the anonymous login and its data, "
               "require_ssl_reuse=YES, ssl_ciphers=HIGH")
    for server, text in bench.negotiated.items():
        out.append("- Negotiated with %s (openssl s_client -starttls ftp): %s" % (server, text))
    out.append("- Rows: `kelvane-ftps` and `lftp-ftps` over FTPS; `kelvane` and `lftp` are the "
               "plain-FTP first uploads taken in the same rounds on plain servers, the reference "
               "for the / plain column")
    out.append("")
    out.extend(tls_result_table(bench))
    out.append("")
    out.append("FTP commands of one run (first repetition), as the server received them:")
    out.append("")
    out.extend(command_table(bench))
    goals = tls_goal_lines(bench)
    if goals:
        out.append("")
        out.append("Goals for kelvane-cli over FTPS:")
        out.append("")
        out.extend(goals)
    out.append("")
    out.append("Commands (LOCAL is the site, REMOTE the server's folder, PORT the server's):")
    out.append("")
    out.append("```")
    out.append("kelvane-cli --config-dir CONFIG run PROFILE.kvp   # as for plain FTP; beside "
               "CONFIG/KelvaneConnections.txt, KelvaneConnections.tls.txt holds "
               "TlsMode=required and TlsFingerprint=the certificate's SHA-256")
    out.append("# vsftpd: no -u (anonymous login)")
    out.append("lftp --norc -c '%s'   # lftp-ftps" % Lftp("/nonexistent", {}, True).script(
        _Shown(), "LOCAL", shown_paths=True))
    out.append("```")
    write_section(path, label, "\n".join(out) + "\n")


def write_far_results(bench, path, label):
    out = run_facts(bench, label)
    out.append("- Proxy: bench/far_proxy.py (asyncio, on 127.0.0.1) in front of each server, one "
               "per delay; every chunk is due its arrival time plus the delay, each way, in "
               "order; passive replies point at the proxy's own listeners, which relay the data "
               "connections the same way; a connection's handshake costs a round trip and the "
               "end of an upload travels after its data")
    out.append("- Delays: %s ms each way (a round trip costs twice that); 0 ms measures the "
               "proxy's own cost" % ", ".join("%g" % d for d in bench.args.delays))
    out.append("- Rows: `kelvane-1` and `kelvane-4` are `kelvane-cli run --parallel 1` and "
               "`--parallel 4`, `lftp-1` and `lftp-4` `mirror -R --delete` with one connection "
               "and with `--parallel=4`, `rclone` sync with its default 4 transfers and 8 "
               "checkers; / 0 ms is the tool's own median at 0 ms")
    for tool in bench.tools:
        if tool.note():
            out.append("- %s: this kelvane-cli has no --parallel option, so the row ran without "
                       "it, with the program's default connections (the conns column shows "
                       "how many)" % tool.name)
    out.append("")
    out.extend(far_result_table(bench))
    goals = far_goal_lines(bench)
    if goals:
        out.append("")
        out.append("Goals for kelvane-cli behind the proxy:")
        out.append("")
        out.extend(goals)
    out.append("")
    out.append("Commands (LOCAL is the site, REMOTE the server's folder, PORT the proxy's):")
    out.append("")
    out.append("```")
    out.append("kelvane-cli --config-dir CONFIG run --parallel N PROFILE.kvp   # profile as for "
               "the plain pass, the connection's port the proxy's")
    out.append("# vsftpd: no -u (anonymous login)")
    out.append("lftp --norc -c '%s'   # lftp-4: mirror -R --delete --parallel=4" % Lftp(
        "/nonexistent", {}).script(_Shown(), "LOCAL", shown_paths=True))
    out.append("rclone sync LOCAL :ftp,host=127.0.0.1,port=PORT,user=USER,pass=OBSCURED:REMOTE "
               "--retries 1 --low-level-retries 1 --config EMPTY")
    out.append("/usr/bin/python3 bench/far_proxy.py --listen-port 0 --server-port SERVER_PORT "
               "--delay-ms D --port-file FILE")
    out.append("```")
    write_section(path, label, "\n".join(out) + "\n")


def write_section(path, label, text):
    begin, end = "<!-- results %s -->" % label, "<!-- end of results %s -->" % label
    old = ""
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            old = f.read()
    if not old.strip():
        old = ("# Benchmark results\n\nWritten by bench/sync_bench.py (see bench/README.md); "
               "each section is replaced when its variant runs again.\n")
    section = begin + "\n" + text + end + "\n"
    if begin in old and end in old:
        before, rest = old.split(begin, 1)
        after = rest.split(end, 1)[1].lstrip("\n")
        new = before + section + ("\n" + after if after else "")
    else:
        new = old.rstrip("\n") + "\n\n" + section
    with open(path, "w", encoding="utf-8") as f:
        f.write(new)


class _Shown:
    """Placeholders for the command lines printed in the results."""
    user = "USER"
    password = "PASSWORD"
    port = 0

    def remote_path(self):
        return "REMOTE"


def package_version(package):
    try:
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                              capture_output=True, text=True, timeout=20).stdout.strip() or "?"
    except (OSError, subprocess.TimeoutExpired):
        return "?"


def table_of(bench):
    if bench.args.far:
        return far_result_table(bench)
    return tls_result_table(bench) if bench.args.tls else result_table(bench)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="smoke run: 200 files, 1 repetition, results not written")
    parser.add_argument("--files", type=int, choices=(1000, 10000), default=1000,
                        help="site size (default 1000)")
    parser.add_argument("--servers", default=",".join(ALL_SERVERS),
                        help="comma-separated, from: " + ", ".join(ALL_SERVERS))
    parser.add_argument("--tools", default=",".join(ALL_TOOLS),
                        help="comma-separated, from: " + ", ".join(ALL_TOOLS))
    parser.add_argument("--repeat", type=int,
                        help="repetitions per cell (default 5; 3 for 10000 files; quick 1)")
    parser.add_argument("--seed", type=int, default=20250601)
    parser.add_argument("--cli", help="kelvane-cli to measure (default: build-bench, "
                        "else build under the repository)")
    parser.add_argument("--run-limit", type=float, default=300, help="seconds per tool run")
    parser.add_argument("--total-limit", type=float,
                        help="seconds in all (default 3600; 7200 for 10000 files)")
    parser.add_argument("--results", help="file to write (default bench/RESULTS.md; quick "
                        "runs write nothing unless this is given)")
    parser.add_argument("--no-results", action="store_true", help="write no results file")
    parser.add_argument("--short-time-wait", action="store_true",
                        help="keep at most %d closed connections (TIME_WAIT) for the run by "
                        "lowering net.ipv4.tcp_max_tw_buckets (needs root; restored at the "
                        "end), instead of waiting about a minute before each large run"
                        % SHORT_TIME_WAIT)
    parser.add_argument("--work-root", help="folder for the work folder (default /dev/shm when "
                        "it has room, else TMPDIR)")
    parser.add_argument("--keep-logs", help="folder for the command transcripts of each run")
    parser.add_argument("--keep-work", action="store_true", help="leave the work folder")
    parser.add_argument("--tls", action="store_true",
                        help="the FTPS pass: both servers demand explicit TLS with a certificate "
                        "made for the run; kelvane and lftp over FTPS (first, same) with their "
                        "plain-FTP first upload in the same rounds; writes the FTPS section")
    parser.add_argument("--parallel", type=int,
                        help="kelvane-cli run --parallel N in the main and FTPS passes "
                        "(default: the program's own, 4 connections)")
    parser.add_argument("--far", action="store_true",
                        help="the far-server pass: every server behind bench/far_proxy.py, "
                        "which delays each way; 200 small files in 20 folders, first and same, "
                        "kelvane-cli and lftp with 1 and 4 connections and rclone; writes the "
                        "'%s' section" % FAR_LABEL)
    parser.add_argument("--delays", default=FAR_DELAYS,
                        help="with --far: the delays each way in milliseconds, comma-separated "
                        "(default %s)" % FAR_DELAYS)
    args = parser.parse_args()
    tools_given = "--tools" in sys.argv[1:] or any(a.startswith("--tools=") for a in sys.argv)

    args.servers = [s.strip() for s in args.servers.split(",") if s.strip()]
    args.tools = [t.strip() for t in args.tools.split(",") if t.strip()]
    for s in args.servers:
        if s not in ALL_SERVERS:
            parser.error("unknown server %s" % s)
    for t in args.tools:
        if t not in ALL_TOOLS and not (args.far and t in FAR_TOOLS):
            parser.error("unknown tool %s" % t)
    if args.far:
        if args.tls:
            parser.error("--far runs plain FTP only; --tls is a pass of its own")
        # The plain pass's --tools may be passed on: kelvane stands for kelvane-1 and -4.
        asked = args.tools if tools_given else list(FAR_TOOLS)
        args.tools = [t for t in FAR_TOOLS if t in asked or t.split("-")[0] in asked]
        if not args.tools:
            parser.error("--far measures only %s" % ", ".join(FAR_TOOLS))
        try:
            args.delays = sorted({float(d) for d in args.delays.split(",") if d.strip()})
        except ValueError:
            parser.error("--delays takes milliseconds, e.g. 0,10")
        if not args.delays or args.delays[0] < 0:
            parser.error("--delays takes milliseconds of 0 or more")
        args.delays = [int(d) if d == int(d) else d for d in args.delays]
    if args.tls:
        # The FTPS pass measures kelvane and lftp only, so the plain pass's --tools may be
        # passed on unchanged.
        asked = args.tools if tools_given else list(TLS_TOOLS)
        args.tools = [t for t in asked if t in TLS_TOOLS]
        if not args.tools:
            parser.error("--tls measures only %s" % ", ".join(TLS_TOOLS))
    if args.repeat is None:
        # Runs of the 1,000-file site take well under a second to a few seconds, where a busy
        # moment of a shared machine weighs most, so it gets more repetitions.
        args.repeat = 1 if args.quick else (3 if args.far or args.files != 1000 else 5)
    if args.work_root is None:
        args.work_root = default_work_root(1000 if args.far else args.files)
    if args.total_limit is None:
        args.total_limit = 7200 if args.files == 10000 and not args.quick else 3600
    if args.repeat < 1:
        parser.error("--repeat must be at least 1")
    if args.cli is None:
        for folder in ("build-bench", "build"):
            candidate = os.path.join(REPO, folder, "src", "kelvane-cli")
            if os.access(candidate, os.X_OK):
                args.cli = candidate
                break
    if "vsftpd" in args.servers and not os.access(VSFTPD, os.X_OK):
        parser.error("%s is not installed" % VSFTPD)
    if not os.access(GNU_TIME, os.X_OK):
        parser.error("%s (GNU time) is not installed" % GNU_TIME)
    if "pyftpdlib" in args.servers and subprocess.run(
            [SERVER_PYTHON, "-c", "import pyftpdlib"], capture_output=True).returncode != 0:
        parser.error("%s cannot import pyftpdlib (python3-pyftpdlib)" % SERVER_PYTHON)
    if args.tls:
        if shutil.which("openssl") is None:
            parser.error("--tls needs the openssl command")
        if "pyftpdlib" in args.servers and subprocess.run(
                [SERVER_PYTHON, "-c", "import OpenSSL"], capture_output=True).returncode != 0:
            parser.error("%s cannot import OpenSSL, which pyftpdlib's TLS needs "
                         "(python3-openssl)" % SERVER_PYTHON)

    def stop_on_term(signum, frame):
        # Ends the run the way Ctrl+C does, so servers, the work folder and the kernel setting
        # are put back.
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop_on_term)
    bench = Bench(args)
    saved_buckets = None
    if args.short_time_wait:
        try:
            saved_buckets = set_time_wait_buckets(SHORT_TIME_WAIT)
        except OSError as error:
            parser.error("--short-time-wait: cannot change %s (%s)" % (TW_BUCKETS,
                                                                      error.strerror))
    try:
        bench.run()
    except KeyboardInterrupt:
        print("\nInterrupted; servers stopped, work folder removed. Measured so far:",
              file=sys.stderr)
        print("\n".join(table_of(bench)), file=sys.stderr)
        return 130
    except RuntimeError as error:  # a server that would not start
        print("sync_bench: %s" % error, file=sys.stderr)
        return 2
    finally:
        if saved_buckets is not None:
            set_time_wait_buckets(saved_buckets)

    print()
    print("\n".join(table_of(bench)))
    if not args.far:
        print()
        print("FTP commands of one run:")
        print("\n".join(command_table(bench)))
    goals = far_goal_lines(bench) if args.far else \
        tls_goal_lines(bench) if args.tls else goal_lines(bench)
    if goals:
        print()
        print("\n".join(goals))
    for name, why in bench.unavailable.items():
        print("%s: not measured (%s)" % (name, why))
    if bench.warnings:
        print()
        for w in bench.warnings:
            print("WARNING " + w)

    results = args.results or (None if args.quick else os.path.join(HERE, "RESULTS.md"))
    if results and not args.no_results:
        label = "quick" if args.quick else "%d files" % args.files
        if args.far:
            write_far_results(bench, results, FAR_LABEL + (", quick" if args.quick else ""))
        elif args.tls:
            label = "FTPS (explicit TLS)" + ("" if label == "1000 files" else ", " + label)
            write_tls_results(bench, results, label)
        else:
            write_results(bench, results, label)
        print("\nWritten to %s" % results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
