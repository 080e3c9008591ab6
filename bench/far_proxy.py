#!/usr/bin/python3
"""An FTP proxy on 127.0.0.1 that makes a loopback server look far away.

Every byte is held for a fixed delay each way (client to server and server to client), so a
round trip costs twice the delay, as on a network with that one-way latency. Each chunk is due
at its arrival time plus the delay and chunks keep their order: a burst that arrives together
leaves together, the delays are not added up one after another.

Passive replies (227 and 229) are rewritten to point at a listener of the proxy's own, which
forwards the data connection with the same delay. A connection's TCP handshake costs a round
trip too: the proxy connects to the server one delay after the client connected (the SYN's
way there), and nothing the client sends reaches the server before the client could have sent
it on a real network (two delays after its connect, when the SYN-ACK would have come back)
plus the one delay of the way there. An end of data (EOF) travels like data, after the bytes
before it, and is passed on as a half-close, so the server sees the end of a STOR only after
all of its bytes.

Active mode (PORT, EPRT) is refused with a 500 reply and a line in the log.

  far_proxy.py --listen-port 0 --server-port 2121 --delay-ms 10 --port-file port.txt

Standard library only; stops on SIGTERM or SIGINT. A delay of 0 still proxies, which measures
the proxy's own cost.
"""

import argparse
import asyncio
import collections
import os
import re
import signal
import socket
import sys
import time

HOST = "127.0.0.1"
PASV_227 = re.compile(rb"^227 .*?\(?(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)?")
EPSV_229 = re.compile(rb"^229 .*\((.)\1\1(\d+)\1\)")
ACTIVE = re.compile(rb"^(PORT|EPRT)\b", re.IGNORECASE)
# A passive listener nobody connects to is closed after this long.
DATA_ACCEPT_SECONDS = 60.0
# Reading from a side stops while this much is waiting to be delivered to the other.
HIGH_WATER = 4 * 1024 * 1024
EOF = None


class Stats:
    def __init__(self):
        self.control = 0
        self.data = 0
        self.refused_active = 0
        self.bytes = 0


def log(text):
    sys.stderr.write("far_proxy: %s\n" % text)
    sys.stderr.flush()


class Direction:
    """One way of a connection: chunks due at arrival + delay, delivered in order."""

    def __init__(self, loop, delay, source_side, target_side):
        self.loop = loop
        self.delay = delay
        self.queue = collections.deque()  # (due, bytes or EOF)
        self.queued_bytes = 0
        self.timer = None
        self.source_side = source_side
        self.target_side = target_side
        # Nothing is due before this (the handshake; see Side.not_before).
        self.not_before = 0.0
        self.done = False  # EOF delivered

    def push(self, data, now=None):
        if now is None:
            now = self.loop.time()
        due = max(now, self.not_before) + self.delay
        self.queue.append((due, data))
        if data is not EOF:
            self.queued_bytes += len(data)
            if self.queued_bytes > HIGH_WATER:
                self.source_side.pause()
        self.schedule()

    def schedule(self):
        if self.timer is None and self.queue and self.target_side.transport is not None:
            due = self.queue[0][0]
            if due <= self.loop.time():
                self.timer = self.loop.call_soon(self.flush)
            else:
                self.timer = self.loop.call_at(due, self.flush)

    def flush(self):
        self.timer = None
        target = self.target_side
        if target.transport is None:
            return  # scheduled again once connected
        now = self.loop.time()
        # Everything due now goes in one write: the ends of a burst leave together.
        parts = []
        while self.queue and self.queue[0][0] <= now:
            _, data = self.queue.popleft()
            if data is EOF:
                if parts:
                    target.write(b"".join(parts))
                    parts = []
                self.queue.clear()
                self.done = True
                target.deliver_eof()
                break
            parts.append(data)
            self.queued_bytes -= len(data)
        if parts:
            target.write(b"".join(parts))
        if self.queued_bytes <= HIGH_WATER // 2:
            self.source_side.resume()
        self.schedule()

    def cancel(self):
        if self.timer is not None:
            self.timer.cancel()
            self.timer = None
        self.queue.clear()


class Side(asyncio.Protocol):
    """One socket of a relayed pair (the client's or the server's)."""

    def __init__(self, pair, name):
        self.pair = pair
        self.name = name
        self.transport = None
        self.incoming = None  # the Direction this side's bytes go into
        self.outgoing = None  # the Direction delivering to this side
        self.paused = False
        self.write_blocked = False
        self.eof_sent = False
        self.eof_seen = False
        self.lost = False

    # asyncio.Protocol

    def connection_made(self, transport):
        self.transport = transport
        sock = transport.get_extra_info("socket")
        if sock is not None:
            try:
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            except OSError:
                pass
        if self.paused:
            transport.pause_reading()
        self.pair.side_connected(self)

    def data_received(self, data):
        self.pair.stats.bytes += len(data)
        self.pair.received(self, data)

    def eof_received(self):
        if not self.eof_seen:
            self.eof_seen = True
            self.pair.ended(self)
        return True  # keep the other half open until our EOF was delivered

    def connection_lost(self, exc):
        self.lost = True
        if not self.eof_seen:
            self.eof_seen = True
            self.pair.ended(self)
        self.pair.maybe_close()

    def pause_writing(self):
        self.write_blocked = True
        other = self.pair.other(self)
        other.pause()

    def resume_writing(self):
        self.write_blocked = False
        other = self.pair.other(self)
        if other.incoming.queued_bytes <= HIGH_WATER // 2:
            other.resume()

    # relaying

    def pause(self):
        if not self.paused:
            self.paused = True
            if self.transport is not None and not self.lost:
                self.transport.pause_reading()

    def resume(self):
        if self.paused and not self.write_blocked_elsewhere():
            self.paused = False
            if self.transport is not None and not self.lost:
                self.transport.resume_reading()

    def write_blocked_elsewhere(self):
        return self.pair.other(self).write_blocked

    def write(self, data):
        if self.transport is not None and not self.lost and not self.eof_sent:
            self.transport.write(data)

    def deliver_eof(self):
        if self.eof_sent:
            return
        self.eof_sent = True
        if self.transport is not None and not self.lost:
            if self.transport.can_write_eof():
                self.transport.write_eof()
            else:
                self.transport.close()
        self.pair.maybe_close()


class Pair:
    """A client connection and the proxy's connection to the server, relayed with the delay."""

    def __init__(self, proxy, kind, server_addr):
        self.proxy = proxy
        self.loop = proxy.loop
        self.stats = proxy.stats
        self.kind = kind
        self.server_addr = server_addr
        self.client = Side(self, "client")
        self.server = Side(self, "server")
        delay = proxy.delay
        self.up = Direction(self.loop, delay, self.client, self.server)
        self.down = Direction(self.loop, delay, self.server, self.client)
        self.client.incoming, self.client.outgoing = self.up, self.down
        self.server.incoming, self.server.outgoing = self.down, self.up
        self.closed = False
        self.children = []  # passive listeners opened for this control connection

    def other(self, side):
        return self.server if side is self.client else self.client

    def side_connected(self, side):
        if side is self.client:
            now = self.loop.time()
            # The client's connect returned at once; on a real network it would have returned
            # a round trip later, and only then could it send.
            self.up.not_before = now + 2 * self.proxy.delay
            self.loop.call_at(now + self.proxy.delay, self.connect_server)
        else:
            self.up.schedule()

    def connect_server(self):
        if self.closed:
            return
        task = self.loop.create_task(self.loop.create_connection(lambda: self.server,
                                                                 *self.server_addr))
        task.add_done_callback(self.server_connect_done)

    def server_connect_done(self, task):
        if task.cancelled() or task.exception() is not None:
            error = "cancelled" if task.cancelled() else task.exception()
            log("%s connection to %s:%d failed: %s" % (self.kind, self.server_addr[0],
                                                        self.server_addr[1], error))
            self.server.lost = True
            self.close()

    def received(self, side, data):
        side.incoming.push(data)

    def ended(self, side):
        side.incoming.push(EOF)

    def maybe_close(self):
        # A way is over when its EOF was delivered, or when the side it delivers to is gone
        # (nothing more can reach it). The pair closes when both ways are over.
        if (self.up.done or self.server.lost) and (self.down.done or self.client.lost):
            self.close()

    def close(self):
        if self.closed:
            return
        self.closed = True
        self.up.cancel()
        self.down.cancel()
        for side in (self.client, self.server):
            if side.transport is not None and not side.transport.is_closing():
                side.transport.close()
        for listener in list(self.children):
            listener.close()
        self.children = []
        self.proxy.pairs.discard(self)


class ControlPair(Pair):
    """A control connection: whole lines are relayed, so passive replies can be rewritten and
    active-mode commands refused."""

    def __init__(self, proxy, server_addr):
        super().__init__(proxy, "control", server_addr)
        self.partial = {self.client: b"", self.server: b""}

    def received(self, side, data):
        now = self.loop.time()
        text = self.partial[side] + data
        cut = text.rfind(b"\n") + 1
        self.partial[side] = text[cut:]
        if cut == 0:
            return
        lines = text[:cut].splitlines(keepends=True)
        out = []
        for line in lines:
            if side is self.client and ACTIVE.match(line):
                self.stats.refused_active += 1
                log("refused %s from the client: active mode is not supported, use passive "
                    "mode (PASV or EPSV)" % line.split()[0].decode("ascii", "replace"))
                reply = b"500 Active mode (PORT, EPRT) is not supported through this proxy.\r\n"
                # The refusal comes from the proxy, half-way: the delay of the way back.
                self.down.push(reply, now + self.proxy.delay)
                continue
            if side is self.server:
                line = self.rewrite_reply(line)
            out.append(line)
        if out:
            side.incoming.push(b"".join(out), now)

    def ended(self, side):
        # An unfinished last line still goes before the end.
        if self.partial[side]:
            side.incoming.push(self.partial[side])
            self.partial[side] = b""
        side.incoming.push(EOF)

    def rewrite_reply(self, line):
        m = PASV_227.match(line)
        if m:
            host = ".".join(x.decode() for x in m.groups()[:4])
            port = int(m.group(5)) * 256 + int(m.group(6))
            mine = self.open_data_listener((host, port))
            return b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (mine >> 8, mine & 255)
        m = EPSV_229.match(line)
        if m:
            port = int(m.group(2))
            mine = self.open_data_listener((self.server_addr[0], port))
            return b"229 Entering Extended Passive Mode (|||%d|)\r\n" % mine
        return line

    def open_data_listener(self, server_addr):
        listener = DataListener(self.proxy, self, server_addr)
        self.children.append(listener)
        return listener.port


class DataListener:
    """A one-connection listener for a passive data connection."""

    def __init__(self, proxy, control, server_addr):
        self.proxy = proxy
        self.control = control
        self.server_addr = server_addr
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.bind((HOST, 0))
        self.sock.listen(4)
        self.sock.setblocking(False)
        self.port = self.sock.getsockname()[1]
        self.open = True
        proxy.loop.add_reader(self.sock.fileno(), self.accept)
        self.timer = proxy.loop.call_later(DATA_ACCEPT_SECONDS, self.close)

    def accept(self):
        try:
            conn, _ = self.sock.accept()
        except (BlockingIOError, InterruptedError):
            return
        except OSError as error:
            log("data accept failed: %s" % error)
            self.close()
            return
        self.close()
        self.proxy.stats.data += 1
        pair = Pair(self.proxy, "data", self.server_addr)
        self.proxy.pairs.add(pair)
        self.proxy.loop.create_task(self.proxy.adopt(pair, conn))

    def close(self):
        if not self.open:
            return
        self.open = False
        self.timer.cancel()
        self.proxy.loop.remove_reader(self.sock.fileno())
        self.sock.close()
        if self in self.control.children:
            self.control.children.remove(self)


class Proxy:
    def __init__(self, loop, delay, server_port, server_host=HOST):
        self.loop = loop
        self.delay = delay
        self.server_addr = (server_host, server_port)
        self.stats = Stats()
        self.pairs = set()
        self.listener = None

    async def start(self, listen_port):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((HOST, listen_port))
        sock.listen(128)
        sock.setblocking(False)
        self.listener = sock
        self.loop.add_reader(sock.fileno(), self.accept_control)
        return sock.getsockname()[1]

    def accept_control(self):
        try:
            conn, _ = self.listener.accept()
        except (BlockingIOError, InterruptedError):
            return
        except OSError as error:
            log("accept failed: %s" % error)
            return
        self.stats.control += 1
        pair = ControlPair(self, self.server_addr)
        self.pairs.add(pair)
        self.loop.create_task(self.adopt(pair, conn))

    async def adopt(self, pair, conn):
        conn.setblocking(False)
        try:
            await self.loop.connect_accepted_socket(lambda: pair.client, conn)
        except OSError as error:
            log("client connection failed: %s" % error)
            pair.close()

    def stop(self):
        if self.listener is not None:
            self.loop.remove_reader(self.listener.fileno())
            self.listener.close()
            self.listener = None
        for pair in list(self.pairs):
            pair.close()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--listen-port", type=int, default=0,
                        help="port to listen on, on 127.0.0.1 (0: any free port)")
    parser.add_argument("--server-port", type=int, required=True,
                        help="the FTP server's port on 127.0.0.1")
    parser.add_argument("--delay-ms", type=float, required=True,
                        help="delay of each way, in milliseconds (0 still proxies)")
    parser.add_argument("--port-file", help="file to write the listening port to")
    args = parser.parse_args(argv)
    if args.delay_ms < 0:
        parser.error("--delay-ms must not be negative")

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    proxy = Proxy(loop, args.delay_ms / 1000.0, args.server_port)
    port = loop.run_until_complete(proxy.start(args.listen_port))
    if args.port_file:
        # Written under another name and renamed, so a reader never sees half a number.
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write("%d\n" % port)
        os.replace(temporary, args.port_file)
    log("listening on %s:%d, server %s:%d, %g ms each way" % (
        HOST, port, proxy.server_addr[0], proxy.server_addr[1], args.delay_ms))
    stopping = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stopping.done() or stopping.set_result(None))
    started = time.monotonic()
    try:
        loop.run_until_complete(stopping)
    finally:
        proxy.stop()
        loop.run_until_complete(asyncio.sleep(0))
        loop.close()
        s = proxy.stats
        log("stopped after %.1f s: %d control and %d data connections, %d bytes relayed, "
            "%d active-mode commands refused" % (time.monotonic() - started, s.control, s.data,
                                                  s.bytes, s.refused_active))
    return 0


if __name__ == "__main__":
    sys.exit(main())
