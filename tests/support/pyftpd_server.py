"""A throw-away FTP server for the tests, on a loopback address.

    /usr/bin/python3 pyftpd_server.py ROOT USER PASSWORD PORT [OPTION...]

Serves ROOT to USER (with PASSWORD) and to anonymous, both with every permission.
PORT 0 picks a free port. When the server listens it prints the port on a line of its
own on standard output, so the test fixture knows where to connect. Logs only errors.

Options:
    refuse-port       active mode is refused (PORT and EPRT answered 500), as behind a firewall
    tls=CERT,KEY      explicit TLS with this PEM certificate and key, TLS 1.2 or newer,
                      required on the control connection (before USER) and on data connections
    early-handshake   with tls: a data connection's handshake may begin before its command
                      (pyftpdlib's own handler drops such a client, as curl is)
    address=A         listens on A (a 127.x.y.z address, or ::1) rather than 127.0.0.1
    throttle=N        without tls: data connections move at most N bytes a second each way,
                      in bursts (pyftpdlib's throttled data handler)
"""

import logging
import sys
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ALL_PERMISSIONS = "elradfmwMT"
USAGE = ("usage: pyftpd_server.py ROOT USER PASSWORD PORT [refuse-port] [tls=CERT,KEY] [early-handshake]"
         " [address=A] [throttle=N]\n")


def refuse_active_mode(self, line):
    self.respond("500 Active mode is not allowed here.")


def tls_handler(certfile, keyfile, early_handshake):
    """TLS_FTPHandler with a context of its own: TLS 1.2 or newer, sessions resumable."""
    from OpenSSL import SSL
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    context = SSL.Context(SSL.TLS_SERVER_METHOD)
    context.set_min_proto_version(SSL.TLS1_2_VERSION)
    context.use_certificate_chain_file(certfile)
    context.use_privatekey_file(keyfile)
    context.set_session_id(b"talvo-test")

    class EarlyHandshakeDtpHandler(TLS_DTPHandler):
        # pyftpdlib takes data that arrives on a data connection before the transfer
        # command for the client's close, and so drops a client that starts its TLS
        # handshake as soon as it connects (as curl does); let the handshake go on.
        def readable(self):
            return self._ssl_accepting or super().readable()

    class TestTlsHandler(TLS_FTPHandler):
        dtp_handler = EarlyHandshakeDtpHandler if early_handshake else TLS_DTPHandler

    TestTlsHandler.certfile = certfile
    TestTlsHandler.keyfile = keyfile
    TestTlsHandler.ssl_context = context
    TestTlsHandler.tls_control_required = True
    TestTlsHandler.tls_data_required = True
    return TestTlsHandler


def throttled_dtp_handler(limit):
    from pyftpdlib.handlers import ThrottledDTPHandler

    return type("LimitedDtpHandler", (ThrottledDTPHandler,), {"read_limit": limit, "write_limit": limit})


def parse_options(arguments):
    options = {"refuse-port": False, "tls": None, "early-handshake": False, "address": "127.0.0.1",
               "throttle": 0}
    for argument in arguments:
        name, _, value = argument.partition("=")
        if argument in ("refuse-port", "early-handshake"):
            options[argument] = True
        elif name == "tls" and value.count(",") == 1:
            options["tls"] = value.split(",")
        elif name == "address" and value:
            options["address"] = value
        elif name == "throttle" and value.isdigit() and int(value) > 0:
            options["throttle"] = int(value)
        else:
            return None
    if options["throttle"] and options["tls"]:
        return None
    return options


def main():
    options = parse_options(sys.argv[5:]) if len(sys.argv) >= 5 else None
    if options is None:
        sys.stderr.write(USAGE)
        return 2
    root, user, password, port = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm=ALL_PERMISSIONS)
    # pyftpdlib warns when anonymous may write; here that is the point.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        authorizer.add_anonymous(root, perm=ALL_PERMISSIONS)

    handler = tls_handler(*options["tls"], options["early-handshake"]) if options["tls"] else FTPHandler
    if options["refuse-port"]:
        handler = type("NoActiveModeHandler", (handler,),
                       {"ftp_PORT": refuse_active_mode, "ftp_EPRT": refuse_active_mode})
    if options["throttle"]:
        handler = type("ThrottledHandler", (handler,), {"dtp_handler": throttled_dtp_handler(options["throttle"])})
    handler.authorizer = authorizer
    handler.banner = "pyftpdlib test server ready."
    handler.permit_foreign_addresses = False  # active mode to the client's own address only
    handler.auth_failed_timeout = 0  # answer a wrong password at once; the tests need no delay

    server = FTPServer((options["address"], port), handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
