#!/usr/bin/env python3
"""A small web server for the download tests: serves a directory on 127.0.0.1, over HTTP or HTTPS.

Prints the port it listens on as its first line of standard output. Ends when its standard input
ends (so it never outlives the test that started it) or on SIGTERM.

Besides the files of the directory, some paths answer in a way that a test needs:
  /truncated/<file>   announces the file's whole length, sends half of it and closes the connection
  /status/<code>      answers with that status and a short body
  /redirect?to=<url>  answers 302 with that URL as the location
  /big/<n>            n bytes, with their length announced
  /stream/<n>         n bytes without an announced length, ended by closing the connection
  /headers            the request's header lines as the body
With --log FILE every request's path (query included) is appended to FILE, one a line, before it is
answered.
"""

import argparse
import http.server
import os
import ssl
import sys
import threading
import urllib.parse

CHUNK = 64 * 1024


class Handler(http.server.SimpleHTTPRequestHandler):
    log_file = None
    log_lock = threading.Lock()

    def log_message(self, format, *args):  # noqa: A002 - the base class names it so
        pass

    def note_request(self):
        if self.log_file is None:
            return
        with self.log_lock:
            with open(self.log_file, "a", encoding="utf-8") as log:
                log.write(self.path + "\n")

    def do_GET(self):
        self.note_request()
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/", 2)
        kind = parts[1] if len(parts) > 1 else ""
        rest = parts[2] if len(parts) > 2 else ""
        if kind == "truncated":
            self.send_truncated(rest)
        elif kind == "status" and rest.isdigit():
            self.send_body(int(rest), b"status " + rest.encode() + b"\n")
        elif kind == "redirect" and not rest:
            target = urllib.parse.parse_qs(url.query).get("to", [""])[0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif kind == "headers" and not rest:
            self.send_body(200, str(self.headers).encode("latin-1"))
        elif kind in ("big", "stream") and rest.isdigit():
            self.send_bytes(int(rest), announce=kind == "big")
        else:
            super().do_GET()

    def send_body(self, code, body):
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_truncated(self, name):
        path = os.path.join(self.directory, name)
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[: len(data) // 2])
        self.wfile.flush()
        self.close_connection = True

    def send_bytes(self, count, announce):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if announce:
            self.send_header("Content-Length", str(count))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        block = bytes(i % 251 for i in range(CHUNK))
        try:
            while count > 0:
                n = min(count, CHUNK)
                self.wfile.write(block[:n])
                count -= n
        except (BrokenPipeError, ConnectionResetError):
            # the client gave up early, as a download over its limit does
            self.close_connection = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # a client that drops a connection (or refuses the certificate) is part of the tests
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--log", metavar="FILE")
    args = parser.parse_args()

    Handler.log_file = args.log
    directory = os.path.abspath(args.directory)

    def handler(*a, **kw):
        return Handler(*a, directory=directory, **kw)

    server = Server(("127.0.0.1", 0), handler)
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)

    print(server.server_address[1], flush=True)

    def watch_stdin():
        sys.stdin.buffer.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
