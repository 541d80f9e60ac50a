#!/usr/bin/python3
"""Load benchmark: N concurrent clients polling a file's comments on loopback.

Starts its own velora-server (SQLite in a temporary folder, or --database URL), seeds a project
with one file and some comments, then runs two phases with the same clients:
  baseline  requests that the server answers without the database or a login check
            (an unknown operation: 404 JSON), showing the cost of HTTP and JSON alone;
  comments  "/comments" as the player sends it (form POST, hashed password), the measured load.
Each client sends its next request as soon as its reply arrives (or, with --interval, that many
seconds after it sent the last one, as a player polling on a timer does). Prints requests, errors,
throughput and latency percentiles per phase. Traffic stays on 127.0.0.1 and stops by itself.

    server/tools/load_comments.py [--clients 200] [--seconds 60] [--interval 0] [--baseline-seconds 10]
                                  [--database URL | --postgres]
"""

import argparse
import asyncio
import hashlib
import os
import statistics
import sys
import time

import aiohttp

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402

USERS = 10


def percentile(sorted_values, p):
    if not sorted_values:
        return float("nan")
    k = min(len(sorted_values) - 1, max(0, int(round(p / 100.0 * (len(sorted_values) - 1)))))
    return sorted_values[k]


def seed(server, comments):
    project = server.call("projects/create", {"title": "Load"})["id"]
    logins = []
    for i in range(USERS):
        email, password = "load%d@studio.test" % i, "load-password-%d" % i
        uid = server.add_user(email, password, "Load", str(i))["id"]
        server.call("admin/projects/members/add", {"project_id": project, "user_id": uid})
        logins.append((email, password))
    r = server.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1, "title": "Reel"},
                         "reel.mov", b"\0" * 1024)
    fid = r.json()["id"]
    for i in range(comments):
        server.call("comments/create", {"file_id": fid, "body": "Note %d: check the sky" % i,
                                        "timecode": "01:00:%02d:%02d" % (i % 60, i % 24), "color": i % 11},
                    login=logins[i % USERS])
    return fid, logins


async def phase(url_base, path, bodies, clients, seconds, interval=0.0):
    latencies, errors, error_kinds = [], 0, {}
    connector = aiohttp.TCPConnector(limit=0, force_close=False)
    timeout = aiohttp.ClientTimeout(total=30)
    end = time.monotonic() + seconds

    async def client(n, session):
        nonlocal errors
        body = bodies[n % len(bodies)]
        if interval > 0:
            await asyncio.sleep(interval * n / clients)  # spread the clients over one interval
        while time.monotonic() < end:
            start = time.perf_counter()
            try:
                async with session.post(url_base + path, data=body, headers={}) as reply:
                    payload = await reply.read()
                    ok = reply.status == 200 and payload.startswith(b"[")
                    if path.endswith("nosuch"):
                        ok = reply.status == 404 and payload.startswith(b'{"error"')
            except (aiohttp.ClientError, asyncio.TimeoutError) as e:
                ok, payload = False, repr(e).encode()
            latencies.append(time.perf_counter() - start)
            if interval > 0:
                await asyncio.sleep(max(0.0, interval - (time.perf_counter() - start)))
            if not ok:
                errors += 1
                key = payload[:80]
                error_kinds[key] = error_kinds.get(key, 0) + 1

    started = time.monotonic()
    async with aiohttp.ClientSession(connector=connector, timeout=timeout) as session:
        await asyncio.gather(*(client(n, session) for n in range(clients)))
    elapsed = time.monotonic() - started
    latencies.sort()
    return {"requests": len(latencies), "errors": errors, "error_kinds": error_kinds, "seconds": elapsed,
            "rate": len(latencies) / elapsed, "p50": percentile(latencies, 50), "p90": percentile(latencies, 90),
            "p99": percentile(latencies, 99), "max": latencies[-1] if latencies else float("nan"),
            "mean": statistics.fmean(latencies) if latencies else float("nan")}


def report(name, r, clients):
    print("%-9s %3d clients %6.1f s: %7d requests, %d errors, %7.1f req/s, "
          "p50 %6.1f ms, p90 %6.1f ms, p99 %6.1f ms, max %6.1f ms"
          % (name, clients, r["seconds"], r["requests"], r["errors"], r["rate"], r["p50"] * 1000, r["p90"] * 1000,
             r["p99"] * 1000, r["max"] * 1000), flush=True)
    for kind, count in r["error_kinds"].items():
        print("          %d x %r" % (count, kind))


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--clients", type=int, default=200)
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--baseline-seconds", type=float, default=10)
    p.add_argument("--comments", type=int, default=40, help="comments on the polled file")
    p.add_argument("--interval", type=float, default=0.0, help="seconds between one client's polls (0: back to back)")
    p.add_argument("--database", help="postgresql://... instead of SQLite")
    p.add_argument("--postgres", action="store_true", help="start a throw-away PostgreSQL cluster and use it")
    args = p.parse_args()

    cluster = None
    if args.postgres:
        from conftest import Postgres

        cluster = Postgres().start()
        args.database = cluster.new_database()
    server = harness.Server(database=args.database, env={"VELORA_PASSWORD_ITERATIONS": ""}).start()
    try:
        fid, logins = seed(server, args.comments)
        bodies = [harness.form_body({"file_id": fid, "username": e, "password": hashlib.sha512(pw.encode()).hexdigest()})
                  for e, pw in logins]
        base = "http://127.0.0.1:%d" % server.port
        print("velora-server pid %d, %d comments on file %d, %s" % (server.proc.pid, args.comments, fid,
                                                                  "PostgreSQL" if args.database else "SQLite"), flush=True)
        loop = asyncio.new_event_loop()
        if args.baseline_seconds > 0:
            r = loop.run_until_complete(phase(base, "/api/0/nosuch", bodies, args.clients, args.baseline_seconds))
            report("baseline", r, args.clients)
        r = loop.run_until_complete(phase(base, "/api/0/comments", bodies, args.clients, args.seconds,
                                                 args.interval))
        report("comments", r, args.clients)
        with open("/proc/%d/status" % server.proc.pid) as f:
            rss = [line.split()[1] for line in f if line.startswith("VmHWM")]
        print("server peak resident memory: %s kB" % rss[0])
        return 1 if r["errors"] else 0
    finally:
        server.cleanup()
        if cluster is not None:
            cluster.stop()


if __name__ == "__main__":
    sys.exit(main())
