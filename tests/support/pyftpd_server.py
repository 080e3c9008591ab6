"""A pyftpdlib server for the integration tests.

Listens on 127.0.0.1 on a port of the system's choice and prints that port on a line of its
own once it accepts connections. It ends when its standard input closes, so a test process that
dies without cleaning up does not leave a server behind.
"""

import argparse
import logging
import os
import stat
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS, FilesystemError
from pyftpdlib.handlers import ActiveDTP, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


class DosFilesystem(AbstractedFS):
    """LIST lines as IIS writes them, in the server's local time:
    "12-08-26  01:21PM       <DIR>          name" and "12-08-26  01:21PM   1234 name"."""

    def format_list(self, basedir, listing, ignore_err=True):
        for basename in listing:
            try:
                st = self.lstat(os.path.join(basedir, basename))
            except (OSError, FilesystemError):
                if ignore_err:
                    continue
                raise
            when = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
            if stat.S_ISDIR(st.st_mode):
                column = "       <DIR>          "
            else:
                column = "%21d " % st.st_size
            line = when + column + basename + "\r\n"
            yield line.encode("utf8", self.cmd_channel.unicode_errors)


class HandedOverActiveDTP(ActiveDTP):
    """An active-mode connector that forgets its socket once a transfer handler owns it.

    pyftpdlib closes the connector of the previous PORT/EPRT again at the next one and then
    unregisters the descriptor number it once had. With several sessions open, that number may by
    then belong to another session's control connection, which the server would never read again.
    """

    def handle_connect(self):
        ActiveDTP.handle_connect(self)
        self._closed = True


def iis_style(handler_class):
    """A handler that, as IIS does, takes nothing after LIST but a path: options are refused
    like a path that does not exist."""

    class Handler(handler_class):
        def pre_process_command(self, line, cmd, arg):
            if cmd == "LIST" and arg.startswith("-") and self.authenticated:
                self.respond("550 The system cannot find the file specified. ")
                return
            handler_class.pre_process_command(self, line, cmd, arg)

        def ftp_SYST(self, line):
            self.respond("215 Windows_NT")

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--passive-ports", help="FIRST-LAST")
    parser.add_argument("--no-epsv", action="store_true", help="refuse EPSV (clients use PASV)")
    parser.add_argument("--no-eprt", action="store_true", help="refuse EPRT (clients use PORT)")
    parser.add_argument("--masquerade", help="address to put into PASV replies")
    parser.add_argument("--port", type=int, default=0, help="control port (0: any free one)")
    parser.add_argument("--max-upload-rate", type=int, default=0,
                        help="bytes per second an upload is read at (0: no limit)")
    parser.add_argument("--max-cons-per-ip", type=int, default=0,
                        help="sessions one address may hold at once (0: no limit)")
    parser.add_argument("--fail-stores", type=int, default=0,
                        help="answer the first N STOR commands with 451")
    parser.add_argument("--listing", choices=["mlsd", "list", "dos"], default="mlsd",
                        help="list: no MLSD or MLST, options after LIST read as a path; "
                        "dos: the same with LIST lines in the DOS/IIS format, options refused")
    parser.add_argument("--tls-cert", help="PEM certificate: explicit FTPS (AUTH TLS)")
    parser.add_argument("--tls-key", help="PEM private key of --tls-cert")
    parser.add_argument("--tls-required", action="store_true",
                        help="refuse logins and data connections in clear text")
    args = parser.parse_args()

    logging.basicConfig(level=logging.INFO, stream=sys.stderr,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    # Every permission: change dir, list, retrieve, append, delete, rename, store, mkdir,
    # change mode and change time.
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    failures_left = [args.fail_stores]

    base = FTPHandler
    if args.tls_cert:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler

    class Handler(base):
        def ftp_STOR(self, file, mode="w"):
            if failures_left[0] > 0:
                failures_left[0] -= 1
                self.respond("451 Requested action aborted: local error in processing.")
                return None
            return base.ftp_STOR(self, file, mode)

    Handler.authorizer = authorizer
    Handler.active_dtp = HandedOverActiveDTP
    if args.tls_cert:
        Handler.certfile = args.tls_cert
        Handler.keyfile = args.tls_key
        Handler.tls_control_required = args.tls_required
        Handler.tls_data_required = args.tls_required
    # Tests of a wrong password must not wait for the default three-second penalty.
    Handler.auth_failed_timeout = 0
    if args.passive_ports:
        first, last = (int(p) for p in args.passive_ports.split("-"))
        Handler.passive_ports = range(first, last + 1)
    if args.masquerade:
        Handler.masquerade_address = args.masquerade
    refused = set()
    if args.no_epsv:
        refused.add("EPSV")
    if args.no_eprt:
        refused.add("EPRT")
    if args.listing != "mlsd":
        refused.update(("MLSD", "MLST"))
        # Times as the other LIST servers of the tests write them: in the machine's local time.
        Handler.use_gmt_times = False
    if refused:
        Handler.proto_cmds = {k: v for k, v in base.proto_cmds.items() if k not in refused}
    if args.listing == "dos":
        Handler = iis_style(Handler)
        Handler.abstracted_fs = DosFilesystem

    if args.max_upload_rate:
        if args.tls_cert:
            from pyftpdlib.handlers import TLS_DTPHandler

            class Throttled(TLS_DTPHandler, ThrottledDTPHandler):
                read_limit = args.max_upload_rate
        else:
            class Throttled(ThrottledDTPHandler):
                read_limit = args.max_upload_rate

        Handler.dtp_handler = Throttled

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons_per_ip = args.max_cons_per_ip

    def watch_parent():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()

    print(server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
