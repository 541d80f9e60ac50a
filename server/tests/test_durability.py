"""A server killed (SIGKILL) during a stream of writes loses none of the writes it acknowledged."""

import concurrent.futures
import os
import sqlite3
import threading
import time

import harness


def test_acknowledged_comments_survive_sigkill():
    first = harness.Server().start()
    try:
        project = first.call("projects/create", {"title": "Crash"})["id"]
        r = first.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1}, "a.mov", b"0")
        fid = r.json()["id"]
        acknowledged, lock, stop = {}, threading.Lock(), threading.Event()

        def writer(n):
            i = 0
            while not stop.is_set():
                body = "writer %d comment %d " % (n, i) + "x" * (i % 50)
                try:
                    reply = first.post("comments/create", {"file_id": fid, "body": body, "timecode": "00:00:01:00"})
                except (ConnectionError, OSError):
                    return  # the server is gone; this write was never acknowledged
                if reply.status == 200:
                    with lock:
                        acknowledged[reply.json()["id"]] = body
                i += 1

        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            for n in range(4):
                pool.submit(writer, n)
            deadline = time.time() + 20
            while len(acknowledged) < 150 and time.time() < deadline:
                time.sleep(0.05)
            first.kill()  # SIGKILL with writes in flight
            stop.set()
        assert len(acknowledged) >= 150, "too few writes before the kill to mean anything"

        with sqlite3.connect(os.path.join(first.data, "velora.db")) as db:
            assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok"

        # A part of an upload cut off by the kill, and one of another server sharing the folder.
        tmp = os.path.join(first.data, "tmp")
        (killed,) = os.listdir(tmp)
        with open(os.path.join(tmp, killed, "part-cut"), "wb") as f:
            f.write(b"half an upload")
        os.makedirs(os.path.join(tmp, "otherhost-1"))

        second = harness.Server(data=first.data)
        second.admin = first.admin
        second.start()
        try:
            kept = {c["id"]: c["body"] for c in second.call("comments", {"file_id": fid})}
            missing = {i: b for i, b in acknowledged.items() if kept.get(i) != b}
            assert not missing, "acknowledged comments lost: %r" % sorted(missing)[:10]
            assert not os.path.exists(os.path.join(tmp, killed))
            assert os.path.exists(os.path.join(tmp, "otherhost-1"))
            # The server takes writes again after the crash.
            second.call("comments/create", {"file_id": fid, "body": "after", "timecode": "00:00:02:00"})
        finally:
            second.stop()
    finally:
        first.cleanup()


def test_an_upload_cut_off_midway_leaves_nothing_behind(sqlite_server):
    import socket

    server = sqlite_server
    project = server.call("projects/create", {"title": "Cut off"})["id"]
    body, ctype = harness.multipart_body({"username": server.admin[0], "password": harness.sha512(server.admin[1]),
                                          "project_id": project, "parent": "/"}, "a.mov", b"x" * 3000000)
    sock = socket.create_connection(("127.0.0.1", server.port))
    sock.sendall(("POST /api/0/files/upload HTTP/1.1\r\nHost: x\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
                  % (ctype, len(body))).encode() + body[:2000000])
    tmp = os.path.join(server.data, "tmp")

    def parts():
        return [name for d in os.listdir(tmp) for name in os.listdir(os.path.join(tmp, d)) if name != ".lock"]

    deadline = time.time() + 10
    while not parts() and time.time() < deadline:
        time.sleep(0.05)
    assert parts(), "the upload never started"
    sock.close()
    deadline = time.time() + 10
    while parts() and time.time() < deadline:
        time.sleep(0.05)
    assert parts() == []
    assert server.call("projects/files", {"project_id": project, "dept": -1, "parent": "/"}) == []
    assert not any(f.endswith("a.mov") for _, _, files in os.walk(os.path.join(server.data, "files")) for f in files)
    assert not any("Traceback" in line for line in server.stderr)
