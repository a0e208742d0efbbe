#!/usr/bin/env python3
"""Resident memory of `relaywatch --headless` under many connections, on loopback only.

    bench/memory_probe.py idle [N] [PAGE]  N kept-alive connections (1000) that each fetched one
                                           page (PAGE: html = 1 KiB text, png = 64 KiB binary)
                                           from a local origin, then sit idle
    bench/memory_probe.py preconnect [N]   N connections (100000) that send nothing and close

Prints the proxy's resident size when started, with the connections open (idle) or after they
have ended (preconnect), each time after two upkeep ticks. Needs a plain build in build/.
"""
import asyncio
import os
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "bin", "relaywatch")
UPKEEP_SECONDS = 4


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def page_bytes(kind):
    if kind == "png":
        body = bytes((0x80 + i % 100) if i % 3 == 0 else 0 for i in range(64 * 1024))
        content_type = b"image/png"
    else:
        body = (b"<p>" + b"x" * 1017 + b"</p>")[:1024]
        content_type = b"text/html"
    return (b"HTTP/1.1 200 OK\r\nContent-Type: " + content_type + b"\r\nContent-Length: " +
            str(len(body)).encode() + b"\r\n\r\n" + body)


async def origin(reader, writer, page):
    try:
        while True:
            header = await reader.readuntil(b"\r\n\r\n")
            if not header:
                break
            writer.write(page)
            await writer.drain()
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.CancelledError):
        pass
    writer.close()


async def fetch(proxy_port, origin_port, length, index, keep):
    reader, writer = await asyncio.open_connection("127.0.0.1", proxy_port)
    writer.write(f"GET http://127.0.0.1:{origin_port}/p{index} HTTP/1.1\r\n"
                 "Host: 127.0.0.1\r\n\r\n".encode())
    await writer.drain()
    await reader.readexactly(length)
    keep.append(writer)


async def idle(proxy_pid, proxy_port, count, kind):
    page = page_bytes(kind)
    server = await asyncio.start_server(lambda r, w: origin(r, w, page), "127.0.0.1", 0)
    origin_port = server.sockets[0].getsockname()[1]
    keep = []
    for start in range(0, count, 100):
        await asyncio.gather(*(fetch(proxy_port, origin_port, len(page), i, keep)
                               for i in range(start, min(start + 100, count))))
    await asyncio.sleep(2 * UPKEEP_SECONDS + 1)
    open_kib = resident_kib(proxy_pid)
    for writer in keep:
        writer.close()
    server.close()
    return open_kib


def preconnect(proxy_port, count):
    for start in range(0, count, 200):
        batch = []
        for _ in range(min(200, count - start)):
            s = socket.socket()
            s.connect(("127.0.0.1", proxy_port))
            batch.append(s)
        for s in batch:
            s.close()


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else "idle"
    count = int(sys.argv[2]) if len(sys.argv) > 2 else (1000 if mode == "idle" else 100000)
    kind = sys.argv[3] if len(sys.argv) > 3 else "html"
    port = free_port()
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, RELAYWATCH_CONFIG_DIR=os.path.join(work, "config"))
        proxy = subprocess.Popen([PROGRAM, "--headless", "--port", str(port), "--log-dir", work],
                                 env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            proxy.stdout.readline()  # the "listening on" line
            time.sleep(2 * UPKEEP_SECONDS + 1)
            started = resident_kib(proxy.pid)
            if mode == "idle":
                after = asyncio.run(idle(proxy.pid, port, count, kind))
                print(f"idle: {count} kept-alive connections after one {kind} page each: "
                      f"{started} KiB at start, {after} KiB with them open, "
                      f"{(after - started) / count:.1f} KiB a connection")
            else:
                preconnect(port, count)
                time.sleep(2 * UPKEEP_SECONDS + 1)
                after = resident_kib(proxy.pid)
                print(f"preconnect: {count} connections that sent nothing: {started} KiB at "
                      f"start, {after} KiB after two upkeep ticks "
                      f"({(after - started) / 1024:.1f} MB more)")
        finally:
            proxy.send_signal(2)
            proxy.wait(timeout=30)


if __name__ == "__main__":
    main()
