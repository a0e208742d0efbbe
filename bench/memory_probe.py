#!/usr/bin/env python3
"""Resident memory of `relaywatch --headless` under many connections, on loopback only.

    bench/memory_probe.py idle [N] [PAGE]  N kept-alive connections (1000) that each fetched one
                                           page (PAGE: html = 1 KiB text, png = 64 KiB binary)
                                           from a local origin, then sit idle
    bench/memory_probe.py preconnect [N]   N connections (100000) that send nothing and close
    bench/memory_probe.py inspected [N]    N kept-alive HTTPS connections (1000), inspected
                                           (--inspect-https), that each fetched one 1 KiB page
                                           from a local TLS origin, then sit idle

Prints the proxy's resident size when started, with the connections open (idle) or after they
have ended (preconnect), each time after two upkeep ticks. Needs a plain build in build/.
"""
import asyncio
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
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


def make_origin_certificates(work):
    """A test authority and a certificate for localhost it signs, with the openssl command."""
    def run(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True)
    ca_key, ca_pem = os.path.join(work, "origin-ca.key"), os.path.join(work, "origin-ca.pem")
    key, csr, pem = (os.path.join(work, name) for name in ("origin.key", "origin.csr", "origin.pem"))
    run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
        "-keyout", ca_key, "-out", ca_pem, "-days", "2", "-subj", "/CN=Probe Origin CA",
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    run("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key,
        "-out", csr, "-subj", "/CN=localhost")
    extensions = os.path.join(work, "origin.ext")
    with open(extensions, "w") as out:
        out.write("subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
        "-out", pem, "-days", "2", "-extfile", extensions)
    return ca_pem, pem, key


async def fetch_inspected(proxy_port, origin_port, client_context, length, keep):
    reader, writer = await asyncio.open_connection("127.0.0.1", proxy_port)
    writer.write(f"CONNECT localhost:{origin_port} HTTP/1.1\r\nHost: localhost\r\n\r\n"
                 .encode())
    await writer.drain()
    await reader.readuntil(b"\r\n\r\n")
    await writer.start_tls(client_context, server_hostname="localhost")
    writer.write(b"GET /p HTTP/1.1\r\nHost: localhost\r\n\r\n")
    await writer.drain()
    await reader.readexactly(length)
    keep.append(writer)


async def inspected(proxy_pid, proxy_port, count, proxy_ca, origin_pem, origin_key):
    page = page_bytes("html")
    server_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server_context.load_cert_chain(origin_pem, origin_key)
    server = await asyncio.start_server(lambda r, w: origin(r, w, page), "127.0.0.1", 0,
                                        ssl=server_context)
    origin_port = server.sockets[0].getsockname()[1]
    client_context = ssl.create_default_context(cafile=proxy_ca)
    keep = []
    for start in range(0, count, 50):
        await asyncio.gather(*(fetch_inspected(proxy_port, origin_port, client_context,
                                               len(page), keep)
                               for _ in range(start, min(start + 50, count))))
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
        command = [PROGRAM, "--headless", "--port", str(port), "--log-dir", work]
        if mode == "inspected":
            origin_ca, origin_pem, origin_key = make_origin_certificates(work)
            command += ["--inspect-https", "--upstream-ca", origin_ca]
        proxy = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
        try:
            proxy_ca = None
            listening = False
            # The banner: the "listening on" line, then (inspecting) the CA certificate's.
            for line in proxy.stdout:
                found = re.search(r"CA certificate: (.*)\)$", line.strip())
                if found:
                    proxy_ca = found.group(1)
                listening = listening or "istening" in line
                if listening and (mode != "inspected" or proxy_ca):
                    break
            # Exchange lines follow: read on, or a full pipe would stop the proxy at its next one.
            threading.Thread(target=proxy.stdout.read, daemon=True).start()
            time.sleep(2 * UPKEEP_SECONDS + 1)
            started = resident_kib(proxy.pid)
            if mode == "inspected":
                after = asyncio.run(inspected(proxy.pid, port, count, proxy_ca, origin_pem,
                                              origin_key))
                print(f"inspected: {count} kept-alive inspected HTTPS connections after one 1 KiB "
                      f"page each: {started} KiB at start, {after} KiB with them open, "
                      f"{(after - started) / count:.1f} KiB a connection")
            elif mode == "idle":
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
            proxy.wait(timeout=120)


if __name__ == "__main__":
    main()
