#!/usr/bin/env python3
"""A local HTTPS update server: serves the files under --root over TLS.

    update_server.py --root DIR --cert PEM --key PEM [--port N] [--port-file F]

The folders under DIR are the server's paths, so DIR/upgrade/srd7/version.json
is https://127.0.0.1:PORT/upgrade/srd7/version.json. Port 0 picks a free one;
the port is written to --port-file once the server listens. Missing files
answer 404 with an HTML page.

A query on a file's URL changes how it is sent, so tests can reproduce what
real networks do:
    ?nolength    no Content-Length: the end of the data is the end of the
                 connection (the client cannot tell how much is coming)
    ?truncate=N  announces the whole file but sends only N bytes
    ?endless     no Content-Length, and data that never ends (until the
                 client hangs up)
    ?stall=N     announces the whole file, sends N bytes, then sends nothing
                 more for a minute (a network that stopped moving)
"""

import argparse
import http.server
import os
import ssl
import sys
import threading
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    # One response per connection: close-delimited bodies need it.
    protocol_version = "HTTP/1.0"
    root = "."

    def log_message(self, fmt, *args):
        sys.stderr.write("update-server: %s\n" % (fmt % args))

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        if "endless" in query:
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.end_headers()
            chunk = bytes(range(256)) * 256
            try:
                while True:
                    self.wfile.write(chunk)
            except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
                return
        path = os.path.realpath(os.path.join(self.root, urllib.parse.unquote(url.path).lstrip("/")))
        if not path.startswith(self.root + os.sep) or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if "nolength" not in query:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if "truncate" in query:
            data = data[: int(query["truncate"][0])]
        try:
            if "stall" in query:
                self.wfile.write(data[: int(query["stall"][0])])
                self.wfile.flush()
                time.sleep(60)
                return
            self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass


def exit_with_parent():
    """Ends the server once the process that started it is gone, however it
    ended (a test killed on its time-out cannot clean up after itself)."""
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    args = parser.parse_args()

    threading.Thread(target=exit_with_parent, daemon=True).start()
    Handler.root = os.path.realpath(args.root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    sys.stderr.write("update-server: https://127.0.0.1:%d/ serving %s\n" % (port, Handler.root))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
