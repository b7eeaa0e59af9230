#!/usr/bin/python3
"""A hostile FTP server for the FTP client's tests: Debian's pyftpdlib serving
ROOT to one user who may write, except that one part of the protocol misbehaves.

Usage: hostile_ftp.py MODE PORT ROOT USER PASSWORD

Modes:
  endless-list      every LIST and NLST sends valid lines without end
  endless-line      every LIST and NLST sends bytes without a line end, without end
  long-line         every LIST and NLST sends one line of 100,000 bytes, then one
                    ordinary line, and ends
  endless-greeting  the greeting is a multi-line answer without end
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

# Names this long keep the number of listing lines (and so the test's own
# memory) small while the bytes add up quickly.
LONG_NAME = b"n" * 900


class Endless:
    """A producer that never runs dry: each call gives the next lines."""

    def __init__(self, line):
        self.line = line
        self.count = 0

    def more(self):
        chunk = []
        for _ in range(64):
            self.count += 1
            chunk.append(self.line(self.count))
        return b"".join(chunk)


class Once:
    def __init__(self, data):
        self.data = data

    def more(self):
        data, self.data = self.data, b""
        return data


def listing_line(n):
    return b"-rw-r--r--   1 owner group  1024 Jan 01 00:00 %s%09d\r\n" % (LONG_NAME, n)


def listing_producer(mode):
    if mode == "endless-list":
        return Endless(listing_line)
    if mode == "endless-line":
        return Endless(lambda n: b"x" * 4000)
    if mode == "long-line":
        return Once(b"-rw-r--r--   1 owner group  1 Jan 01 00:00 " + b"y" * 100000 + b"\r\n" +
                    b"-rw-r--r--   1 owner group  1 Jan 01 00:00 after.txt\r\n")
    return None


class Handler(FTPHandler):
    mode = ""

    def handle(self):
        if self.mode != "endless-greeting":
            return FTPHandler.handle(self)
        self.on_connect()
        self.push_with_producer(Endless(lambda n: b"220-welcome, line %d\r\n" % n))

    def list_endlessly(self, path, command):
        producer = listing_producer(self.mode)
        if producer is None:
            return None
        self.push_dtp_data(producer, isproducer=True, cmd=command)
        return path

    def ftp_LIST(self, path):
        listed = self.list_endlessly(path, "LIST")
        return listed if listed is not None else FTPHandler.ftp_LIST(self, path)

    def ftp_NLST(self, path):
        listed = self.list_endlessly(path, "NLST")
        return listed if listed is not None else FTPHandler.ftp_NLST(self, path)


def main():
    mode, port, root, user, password = sys.argv[1:6]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    Handler.mode = mode
    Handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", int(port)), Handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
