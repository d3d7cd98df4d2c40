#!/usr/bin/python3
"""An SFTP subsystem for the tests of a server that answers with nonsense: it answers
INIT, REALPATH and STAT as a server does (one folder, /srv), then answers OPEN with a
packet whose length no SFTP packet has, and waits until the client goes."""
import struct
import sys

inp, out = sys.stdin.buffer, sys.stdout.buffer


def read_exact(n):
    data = b""
    while len(data) < n:
        chunk = inp.read(n - len(data))
        if not chunk:
            sys.exit(0)
        data += chunk
    return data


def send(kind, payload):
    out.write(struct.pack(">IB", len(payload) + 1, kind) + payload)
    out.flush()


def string(value):
    return struct.pack(">I", len(value)) + value


while True:
    length, kind = struct.unpack(">IB", read_exact(5))
    body = read_exact(length - 1)
    if kind == 1:  # INIT
        send(2, struct.pack(">I", 3))  # VERSION 3
        continue
    request = body[:4]
    if kind == 16:  # REALPATH
        send(104, request + struct.pack(">I", 1) + string(b"/srv") + string(b"/srv") + struct.pack(">I", 0))
    elif kind == 17:  # STAT
        send(105, request + struct.pack(">II", 4, 0o40755))
    else:
        out.write(struct.pack(">I", 0x7FFFFFF0) + b"nonsense")
        out.flush()
        inp.read()  # until the client closes
        sys.exit(0)
