#!/usr/bin/env python3
"""A small origin server for the end-to-end tests: plain HTTP and HTTPS on 127.0.0.1.

Serves the files of a directory with Content-Length, /chunked/NAME with chunked transfer
coding, and answers a POST to /echo with its body (201, a cookie and a Location). Writes "HTTP_PORT HTTPS_PORT" to the file given, then serves until killed.
"""
import http.server
import os
import ssl
import sys
import threading


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/chunked/"):
            name = os.path.join(self.directory, os.path.basename(self.path))
            with open(name, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            step = 4096
            for i in range(0, len(body), step):
                piece = body[i:i + step]
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            self.wfile.write(b"0\r\n\r\n")
            return
        super().do_GET()


    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        self.send_response(201)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Location", "/echo/1")
        self.send_header("Set-Cookie", "seen=1; Path=/; HttpOnly")
        self.end_headers()
        self.wfile.write(body)


def serve(server):
    server.serve_forever()


def main():
    root, port_file, cert, key = sys.argv[1:5]
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    plain = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    secure = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    for s in (plain, secure):
        threading.Thread(target=serve, args=(s,), daemon=True).start()
    with open(port_file + ".tmp", "w") as f:
        f.write("%d %d\n" % (plain.server_address[1], secure.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    threading.Event().wait()


if __name__ == "__main__":
    main()
