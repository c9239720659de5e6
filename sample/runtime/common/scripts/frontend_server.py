#!/usr/bin/env python3
"""The sample front end's server: serves the web page on a free 127.0.0.1 port.

Once it listens, it writes {"pid", "port", "token"} to the state file (atomically), and answers the token on
/__launcher__/token, so that the backend can tell its own server from any other process.
"""
import argparse
import functools
import http.server
import json
import os


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--token", required=True)
    options = parser.parse_args()

    class Handler(http.server.SimpleHTTPRequestHandler):
        def do_GET(self):
            if self.path == "/__launcher__/token":
                body = options.token.encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/plain; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            super().do_GET()

    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(Handler, directory=options.root)
    )
    port = server.server_address[1]
    temporary = options.state + ".tmp"
    with open(temporary, "w", encoding="utf-8") as handle:
        json.dump({"pid": os.getpid(), "port": port, "token": options.token}, handle)
    os.replace(temporary, options.state)
    print("serving %s on http://127.0.0.1:%d/" % (options.root, port), flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
