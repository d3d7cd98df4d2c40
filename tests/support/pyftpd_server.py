"""A throw-away FTP server for the tests, on 127.0.0.1.

    /usr/bin/python3 pyftpd_server.py ROOT USER PASSWORD PORT [refuse-port]

Serves ROOT to USER (with PASSWORD) and to anonymous, both with every permission. With
refuse-port, active mode is refused (PORT and EPRT answered 500), as behind a firewall.
PORT 0 picks a free port. When the server listens it prints the port on a line of its
own on standard output, so the test fixture knows where to connect. Logs only errors.
"""

import logging
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ALL_PERMISSIONS = "elradfmwMT"


class NoActiveModeHandler(FTPHandler):
    def ftp_PORT(self, line):
        self.respond("500 Active mode is not allowed here.")

    def ftp_EPRT(self, line):
        self.respond("500 Active mode is not allowed here.")


def main():
    if len(sys.argv) not in (5, 6) or (len(sys.argv) == 6 and sys.argv[5] != "refuse-port"):
        sys.stderr.write("usage: pyftpd_server.py ROOT USER PASSWORD PORT [refuse-port]\n")
        return 2
    root, user, password, port = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    refuse_port = len(sys.argv) == 6

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm=ALL_PERMISSIONS)
    # pyftpdlib warns when anonymous may write; here that is the point.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        authorizer.add_anonymous(root, perm=ALL_PERMISSIONS)

    handler = NoActiveModeHandler if refuse_port else FTPHandler
    handler.authorizer = authorizer
    handler.banner = "pyftpdlib test server ready."
    handler.permit_foreign_addresses = False  # active mode to the client's own address only
    handler.auth_failed_timeout = 0  # answer a wrong password at once; the tests need no delay

    server = FTPServer(("127.0.0.1", port), handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
