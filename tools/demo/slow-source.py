#!/usr/bin/env python3
"""Serves a directory over HTTP, its packages as slowly as a weak 3G link, so
that the demo's download lasts long enough to show its byte counts and the
time left. The description comes at once: the check must answer in 10 s.

    slow-source.py DIRECTORY PORT_FILE BYTES_PER_SECOND

Listens on 127.0.0.1 at a free port, written to PORT_FILE once it listens."""
import functools
import http.server
import sys
import time

TICK = 0.25  # seconds between two pieces of a file


class SlowHandler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, outputfile):
        if self.path.split("?")[0].startswith("/Description.xml"):
            super().copyfile(source, outputfile)
            return
        while chunk := source.read(self.server.piece):
            outputfile.write(chunk)
            outputfile.flush()
            time.sleep(TICK)

    def log_message(self, *args):
        pass


def main():
    directory, port_file, rate = sys.argv[1], sys.argv[2], int(sys.argv[3])
    handler = functools.partial(SlowHandler, directory=directory)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.piece = max(1, int(rate * TICK))
    with open(port_file, "w", encoding="ascii") as file:
        file.write(str(server.server_port))
    server.serve_forever()


if __name__ == "__main__":
    main()
