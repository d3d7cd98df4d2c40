"""The demo FTP server that scripts/run.sh starts beside the window, so that a new user can
try the program at once.

    /usr/bin/python3 demo_ftp_server.py ROOT PORT

Serves ROOT on 127.0.0.1:PORT to anonymous (any password), who may read and write.
Prints one line when it listens; ends on SIGTERM or SIGINT.
"""

import logging
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: demo_ftp_server.py ROOT PORT\n")
        return 2
    root, port = sys.argv[1], int(sys.argv[2])

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # anonymous may write: that is the point of a demo
        authorizer.add_anonymous(root, perm="elradfmwMT")

    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "Serveur FTP de demonstration de Talvo FTP."
    handler.permit_foreign_addresses = False

    server = FTPServer(("127.0.0.1", port), handler)
    print("listening", flush=True)
    server.serve_forever(handle_exit=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
