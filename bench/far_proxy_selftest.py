#!/usr/bin/python3
"""A short check of bench/far_proxy.py against a loopback pyftpdlib, under 30 seconds.

Through the proxy at 10 ms each way it uploads, lists and downloads a few files with ftplib in
passive mode (PASV and EPSV) and checks every byte; it checks that one command's round trip
costs at least two delays and a small upload (EPSV, the data connection, STOR with its 150
and 226) at least six, that a burst of pipelined commands is answered one round trip later
(the delays of its replies are not added up), that the end of an upload reaches the server
before its 226 reaches the client, and that active mode is refused. Through the proxy at 0 ms
four clients upload 150 small files each, with the proxy's CPU time shown, so one can see it
is not the bottleneck. It also checks how the benchmark picks a failed run's error line.

  /usr/bin/python3 bench/far_proxy_selftest.py
"""

import ftplib
import io
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ left in bench/
import sync_bench  # noqa: E402  (the pyftpdlib the benchmark starts)

DELAY_MS = 10
LIMIT_SECONDS = 30
failures = []


def check(ok, text):
    print("%s %s" % ("ok  " if ok else "FAIL", text), flush=True)
    if not ok:
        failures.append(text)


def start_proxy(work, server_port, delay_ms, name):
    port_file = os.path.join(work, name + ".port")
    err = open(os.path.join(work, name + ".err"), "wb")
    process = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "far_proxy.py"), "--listen-port", "0",
         "--server-port", str(server_port), "--delay-ms", str(delay_ms), "--port-file",
         port_file], stdin=subprocess.DEVNULL, stdout=err, stderr=err, start_new_session=True)
    err.close()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            with open(port_file) as f:
                return process, int(f.read())
        if process.poll() is not None:
            break
        time.sleep(0.02)
    sync_bench.stop_group(process)
    raise RuntimeError("far_proxy did not start: " + open(os.path.join(work, name + ".err")).read())


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def login(port, server):
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", port, timeout=10)
    ftp.login(server.user, server.password)
    ftp.set_pasv(True)
    return ftp


def far_checks(server, port):
    rng = random.Random(7)
    ftp = login(port, server)
    ftp.cwd("/site")

    start = time.monotonic()
    ftp.voidcmd("NOOP")
    noop = time.monotonic() - start
    check(noop >= 2 * DELAY_MS / 1000, "NOOP round trip %.1f ms (at least %d)" % (
        noop * 1000, 2 * DELAY_MS))

    small = rng.randbytes(3000)
    start = time.monotonic()
    ftp.storbinary("STOR small.bin", io.BytesIO(small))
    stor = time.monotonic() - start
    check(stor >= 0.95 * 6 * DELAY_MS / 1000, "STOR of 3,000 bytes %.1f ms (about %d or more)"
          % (stor * 1000, 6 * DELAY_MS))
    # The 226 came after the end of the data, so the server has every byte by now.
    with open(os.path.join(server.site, "small.bin"), "rb") as f:
        check(f.read() == small, "the server had all of small.bin when the 226 came")

    files = {"empty.txt": b"", "page.html": rng.randbytes(1500),
             "name with spaces.css": rng.randbytes(70000), "large.zip": rng.randbytes(3 << 20)}
    for name, data in files.items():
        ftp.storbinary("STOR " + name, io.BytesIO(data))
    ftp.sendcmd("TYPE I")
    ftp.set_pasv(True)
    # PASV (227) for one download, EPSV (229, ftplib's choice on af=IPv4 only when asked).
    got = bytearray()
    ftp.retrbinary("RETR large.zip", got.extend)
    check(bytes(got) == files["large.zip"], "RETR large.zip through PASV: 3 MiB back exactly")
    # Lists through a data connection (EPSV this time).
    ftp.af = socket.AF_INET6  # ftplib asks EPSV when it believes it is on IPv6
    names = sorted(ftp.nlst())
    ftp.af = socket.AF_INET
    check(names == sorted(list(files) + ["small.bin"]), "NLST through EPSV lists %d files" %
          len(names))
    for name, data in files.items():
        with open(os.path.join(server.site, name), "rb") as f:
            check(f.read() == data, "%s arrived exactly (%d bytes)" % (name, len(data)))

    # Ten NOOPs in one write: their replies come back one round trip later, together.
    sock = ftp.sock
    start = time.monotonic()
    sock.sendall(b"NOOP\r\n" * 10)
    replies = b""
    while replies.count(b"\n") < 10:
        chunk = sock.recv(4096)
        if not chunk:
            break
        replies += chunk
    burst = time.monotonic() - start
    check(replies.count(b"200") == 10 and burst < 5 * DELAY_MS / 1000,
          "10 pipelined NOOPs answered in %.1f ms (under %d: delays are not added up)" % (
              burst * 1000, 5 * DELAY_MS))

    ftp.set_pasv(False)
    try:
        ftp.storbinary("STOR active.bin", io.BytesIO(b"x"))
        check(False, "active mode refused")
    except ftplib.error_perm as error:
        check(str(error).startswith("500"), "active mode refused: %s" % error)
    except OSError as error:
        check(False, "active mode refused, but the client got %s" % error)
    ftp.quit()


def parallel_uploads(server, port, proxy, clients=4, count=150):
    payloads = [random.Random(n).randbytes(2048 + n) for n in range(clients)]
    errors = []

    def client(n):
        try:
            ftp = login(port, server)
            ftp.mkd("/site/c%d" % n)
            ftp.cwd("/site/c%d" % n)
            for i in range(count):
                ftp.storbinary("STOR f%04d" % i, io.BytesIO(payloads[n]))
            ftp.quit()
        except Exception as error:  # reported below, not lost in the thread
            errors.append("client %d: %r" % (n, error))

    threads = [threading.Thread(target=client, args=(n,)) for n in range(clients)]
    cpu = cpu_seconds(proxy.pid)
    start = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join(LIMIT_SECONDS)
    wall = time.monotonic() - start
    cpu = cpu_seconds(proxy.pid) - cpu
    check(not errors and not any(t.is_alive() for t in threads),
          "%d clients x %d uploads at 0 ms: %s" % (clients, count, "; ".join(errors) or "done"))
    bad = 0
    for n in range(clients):
        for i in range(count):
            path = os.path.join(server.site, "c%d" % n, "f%04d" % i)
            if not os.path.exists(path) or open(path, "rb").read() != payloads[n]:
                bad += 1
    check(bad == 0, "all %d uploads arrived exactly (%d wrong or missing)" % (
        clients * count, bad))
    check(cpu < 0.9 * wall, "%.0f uploads/s; the proxy used %.2f s of CPU in %.2f s (%.0f%% of a "
          "core)" % (clients * count / wall, cpu, wall, 100 * cpu / wall))


def failure_line_checks():
    # The benchmark shows a failed run's error line; lftp's transfer lines carry numbers such
    # as "423.9 KiB/s" that must not be taken for reply codes.
    output = ("mirror: Access failed: 550 Permission denied (page.html)\n"
              "/site/style-00175.css 0-3174 423.9 KiB/s\n")
    check(sync_bench.failure_text(output).startswith("mirror: Access failed: 550"),
          "a transfer line with a rate is not taken for the failure line")
    check(sync_bench.failure_text("put: 421 Service not available\n`x' at 451 (50%) 1.2 MiB/s")
          .startswith("put: 421"), "a reply code of 421 is")


def main():
    failure_line_checks()
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(TimeoutError("30 s")))
    signal.alarm(LIMIT_SECONDS)
    work = tempfile.mkdtemp(prefix="far-proxy-test-")
    server = sync_bench.PyFtpd(os.path.join(work, "server"))
    proxies = []
    try:
        server.start()
        far, far_port = start_proxy(work, server.port, DELAY_MS, "far")
        near, near_port = start_proxy(work, server.port, 0, "near")
        proxies += [far, near]
        far_checks(server, far_port)
        parallel_uploads(server, near_port, near)
    except Exception as error:
        check(False, "self-test stopped: %r" % error)
    finally:
        signal.alarm(0)
        for p in proxies:
            sync_bench.stop_group(p)
        server.stop()
        for p in proxies:
            err = os.path.join(work, ("far" if p is proxies[0] else "near") + ".err")
            if os.path.exists(err):
                print("".join("  " + line for line in open(err).readlines()[-2:]), end="")
        shutil.rmtree(work, ignore_errors=True)
    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
