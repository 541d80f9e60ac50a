#!/usr/bin/python3
"""Load under attack: clients polling a file's comments, with and without an attack running.

Starts its own velora-server (SQLite in a temporary folder), seeds it as load_comments.py does and
runs the same polling phase twice: first alone, then while --half-open connections (from
127.0.0.2) send half a request's headers and hold on (reopened as the server closes them), and
one attacker (from 127.0.0.3) sends compressed request bodies back to back. Prints the clients'
requests, errors and p50/p99 latency for both runs, and what the attackers saw. Traffic stays on
loopback and stops by itself.

    server/tools/load_attack.py [--clients 200] [--seconds 60] [--half-open 50]
"""

import argparse
import asyncio
import gzip
import hashlib
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402
import load_comments  # noqa: E402


async def half_open(port, stop, seen):
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", port, local_addr=("127.0.0.2", 0))
            writer.write(b"POST /api/0/comments HTTP/1.1\r\nHost: x\r\nContent-Le")
            await writer.drain()
            seen["opened"] += 1
            while not stop.is_set() and not await _closed(reader):
                pass
            seen["closed by the server"] += 0 if stop.is_set() else 1
            writer.close()
        except OSError:
            seen["refused"] += 1
            await asyncio.sleep(0.1)


async def _closed(reader):
    try:
        return await asyncio.wait_for(reader.read(1024), 0.5) == b""
    except asyncio.TimeoutError:
        return False


async def compressed(port, stop, seen):
    bomb = gzip.compress(b"username=" + b"a" * (200 * 1024 * 1024), 9)
    head = ("POST /api/0/comments HTTP/1.1\r\nHost: x\r\nContent-Encoding: gzip\r\nContent-Length: %d\r\n"
            "Connection: close\r\n\r\n" % len(bomb)).encode()
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", port, local_addr=("127.0.0.3", 0))
            writer.write(head + bomb)
            await writer.drain()
            status = (await asyncio.wait_for(reader.readline(), 30)).split(b" ")[1:2]
            seen[b"answered " + (status[0] if status else b"nothing")] = \
                seen.get(b"answered " + (status[0] if status else b"nothing"), 0) + 1
            writer.close()
        except (OSError, asyncio.TimeoutError):
            seen[b"failed"] = seen.get(b"failed", 0) + 1


async def attacked_phase(base, port, bodies, clients, seconds, count):
    stop = asyncio.Event()
    seen = {"opened": 0, "closed by the server": 0, "refused": 0}
    bomb_seen = {}
    tasks = [asyncio.ensure_future(half_open(port, stop, seen)) for _ in range(count)]
    tasks.append(asyncio.ensure_future(compressed(port, stop, bomb_seen)))
    await asyncio.sleep(1)
    result = await load_comments.phase(base, "/api/0/comments", bodies, clients, seconds)
    stop.set()
    await asyncio.gather(*tasks, return_exceptions=True)
    return result, seen, bomb_seen


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--clients", type=int, default=200)
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--half-open", type=int, default=50)
    p.add_argument("--comments", type=int, default=40)
    args = p.parse_args()
    server = harness.Server(env={"VELORA_PASSWORD_ITERATIONS": "", "VELORA_HEADER_TIMEOUT": "5"}).start()
    try:
        fid, logins = load_comments.seed(server, args.comments)
        bodies = [harness.form_body({"file_id": fid, "username": e, "password": hashlib.sha512(pw.encode()).hexdigest()})
                  for e, pw in logins]
        base = "http://127.0.0.1:%d" % server.port
        loop = asyncio.new_event_loop()
        quiet = loop.run_until_complete(load_comments.phase(base, "/api/0/comments", bodies, args.clients,
                                                            args.seconds))
        load_comments.report("quiet", quiet, args.clients)
        attacked, seen, bomb = loop.run_until_complete(attacked_phase(base, server.port, bodies, args.clients,
                                                                      args.seconds, args.half_open))
        load_comments.report("attacked", attacked, args.clients)
        print("half-open connections: %s; compressed bodies: %s" % (seen, bomb))
        with open("/proc/%d/status" % server.proc.pid) as f:
            print("server peak resident memory: %s kB" % [line.split()[1] for line in f if line.startswith("VmHWM")][0])
        return 1 if attacked["errors"] or quiet["errors"] else 0
    finally:
        server.cleanup()


if __name__ == "__main__":
    sys.exit(main())
