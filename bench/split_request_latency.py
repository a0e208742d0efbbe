#!/usr/bin/env python3
"""Time per request when a request's body follows its header in a later write, as browsers send
uploads: keep-alive POSTs to a local origin that answers once it has the whole body, directly
and through a running proxy.

Usage: bench/split_request_latency.py PROXY_PORT [REQUESTS]   (the proxy on 127.0.0.1)
"""
import socket
import sys
import threading
import time

GAP_SECONDS = 0.002  # between a request's header and its body


def serve(client):
    reader = client.makefile("rb")
    while True:
        length = None
        while True:
            line = reader.readline()
            if not line:
                return
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
            if line == b"\r\n":
                break
        reader.read(length or 0)
        client.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok")


def origin():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def accept():
        while True:
            client, _ = listener.accept()
            threading.Thread(target=serve, args=(client,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def milliseconds_per_request(origin_port, proxy_port, count):
    target = ("127.0.0.1", proxy_port or origin_port)
    path = f"http://127.0.0.1:{origin_port}/upload" if proxy_port else "/upload"
    body = b"x" * 100
    header = (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{origin_port}\r\n"
              f"Content-Type: text/plain\r\nContent-Length: {len(body)}\r\n\r\n").encode()
    with socket.create_connection(target, timeout=10) as browser:
        browser.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        start = time.monotonic()
        for _ in range(count):
            browser.sendall(header)
            time.sleep(GAP_SECONDS)
            browser.sendall(body)
            answer = b""
            while not answer.endswith(b"ok"):
                chunk = browser.recv(4096)
                if not chunk:
                    raise SystemExit("connection closed early")
                answer += chunk
        return (time.monotonic() - start) / count * 1000


def main():
    proxy_port = int(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    port = origin()
    print(f"direct:        {milliseconds_per_request(port, None, count):6.2f} ms per request")
    print(f"through proxy: {milliseconds_per_request(port, proxy_port, count):6.2f} ms per request")


if __name__ == "__main__":
    main()
