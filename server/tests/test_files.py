"""What the server keeps on disk and how it hands it out: who may read the data folder, what
stored uploads are served as, flushing, one server per folder, bounded names, start-up output."""

import os
import re
import shutil
import stat
import subprocess
import time

import pytest

import harness


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


def test_the_data_folder_is_the_owners_alone(tmp_path):
    old = tmp_path / "old"
    old.mkdir(mode=0o755)
    os.chmod(old, 0o755)
    for name in ("velora.db", "settings.ini"):
        (old / name).write_bytes(b"")
        os.chmod(old / name, 0o644)
    (old / "files").mkdir()
    os.chmod(old / "files", 0o755)
    os.chmod(old / "velora.db", 0o644)
    (old / "velora.db").unlink()  # an empty database file would not open; its mode is checked below
    for data in (str(tmp_path / "fresh"), str(old)):
        server = harness.Server(data=data).start()
        try:
            project = server.call("projects/create", {"title": "Modes"})["id"]
            fid = server.post_file("files/upload", {"project_id": project, "parent": "/"}, "a.mov", b"x").json()["id"]
            stored = [os.path.join(d, f) for d, _, files in os.walk(os.path.join(data, "files")) for f in files]
            expected = [(data, 0o700), (os.path.join(data, "files"), 0o700), (os.path.join(data, "velora.db"), 0o600)]
            expected += [(p, 0o600) for p in stored] + [(os.path.dirname(p), 0o700) for p in stored]
            if data == str(old):
                expected.append((os.path.join(data, "settings.ini"), 0o600))
            assert len(stored) == 1, (fid, stored)
            assert [(p, oct(mode(p))) for p, _ in expected] == [(p, oct(m)) for p, m in expected]
            others = [os.path.join(d, f) for d, _, fs in os.walk(data) for f in fs
                      if mode(os.path.join(d, f)) & 0o077]
            assert others == []
        finally:
            server.stop()


def test_stored_uploads_are_never_served_as_pages(sqlite_server):
    server = sqlite_server
    project = server.call("projects/create", {"title": "Types"})["id"]
    cases = [
        # (file name, type the uploader states, type served)
        ("page.html", "text/html", "application/octet-stream"),
        ("page.mov", "text/html; charset=utf-8", "application/octet-stream"),
        ("drawing.svg", "image/svg+xml", "application/octet-stream"),
        ("page.xhtml", "application/xhtml+xml", "application/octet-stream"),
        ("script.js", "application/javascript", "application/octet-stream"),
        ("prefs.plist", "application/octet-stream", "application/octet-stream"),
        ("clip.mp4", "video/mp4", "video/mp4"),
        ("mix.wav", "audio/wav", "audio/wav"),
        ("still.png", "image/png", "image/png"),
    ]
    for name, stated, served in cases:
        r = server.post_file("files/upload", {"project_id": project, "parent": "/", "mime-type": stated}, name,
                             b"<html><script>alert(1)</script></html>")
        assert r.status == 200, r.body
        url = server.call("files/url", {"file_id": r.json()["id"]})["url"]
        reply = server.request("GET", url.split(str(server.port), 1)[1])
        assert reply.status == 200
        assert (reply.headers["Content-Type"], reply.headers.get("X-Content-Type-Options")) == (served, "nosniff"), name


@pytest.mark.skipif(not shutil.which("strace"), reason="strace is not installed")
def test_upload_bytes_reach_the_disk_before_the_record(tmp_path):
    trace = str(tmp_path / "trace")
    settings = "[storage]\naccess_key = AKSYNC\nsecret_key = sync-secret\n"
    server = harness.Server(settings=settings, wrapper=["strace", "-f", "-y", "-qq", "-o", trace, "-e",
                                                        "trace=fsync,fdatasync,rename,renameat,renameat2"])
    server.start(timeout=60)
    try:
        project = server.call("projects/create", {"title": "Sync"})["id"]
        r = server.post_file("files/upload", {"project_id": project, "parent": "/"}, "a.mov", b"q" * 100000)
        assert r.status == 200
        import test_storage
        assert test_storage.signed_put(server, "uploads/x-b.mov", b"s" * 5000, access="AKSYNC",
                                       secret="sync-secret").status == 200
    finally:
        server.stop()
    lines = open(trace).read().splitlines()
    for prefix, target in (("part-", "/files/"), ("object-", "/objects/")):
        synced = [i for i, line in enumerate(lines) if re.search(r"f(data)?sync\(\d+<[^>]*/%s" % prefix, line)]
        moved = [i for i, line in enumerate(lines) if "rename" in line and prefix in line and target in line]
        assert moved, (prefix, lines)
        assert synced and synced[0] < moved[0], (prefix, lines)


def _part_of_a_running_upload(server):
    """Starts an upload that stays half sent; answers the socket and its temporary folder."""
    import socket

    body, ctype = harness.multipart_body({"username": server.admin[0], "password": harness.sha512(server.admin[1]),
                                          "project_id": -1, "parent": "/"}, "a.mov", b"x" * 3000000)
    sock = socket.create_connection(("127.0.0.1", server.port))
    sock.sendall(("POST /api/0/files/upload HTTP/1.1\r\nHost: x\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
                  % (ctype, len(body))).encode() + body[:2000000])
    tmp = os.path.join(server.data, "tmp")
    deadline = time.time() + 10
    while time.time() < deadline:
        parts = [os.path.join(tmp, d) for d in os.listdir(tmp) if os.listdir(os.path.join(tmp, d))
                 and any(n.startswith("part-") for n in os.listdir(os.path.join(tmp, d)))]
        if parts:
            return sock, parts[0]
        time.sleep(0.05)
    raise AssertionError("the upload never started")


@pytest.mark.parametrize("database", ["sqlite", "postgresql"])
def test_a_second_server_leaves_the_first_ones_uploads_alone(request, database):
    url = request.getfixturevalue("postgres").new_database() if database == "postgresql" else None
    first = harness.Server(database=url, env={"VELORA_HEADER_TIMEOUT": "60", "VELORA_BODY_TIMEOUT": "60"}).start()
    try:
        sock, folder = _part_of_a_running_upload(first)
        week_ago = time.time() - 7 * 86400  # a server running for a week without another upload
        os.utime(folder, (week_ago, week_ago))
        second = harness.Server(database=url, data=first.data)
        second.admin = first.admin
        if database == "sqlite":
            with pytest.raises(RuntimeError) as e:
                second.start()
            assert second.proc.returncode == 1
            assert "is in use by another velora-server" in str(e.value)
        else:  # servers of one PostgreSQL database may share the folder
            second.start()
            assert second.call("authenticate")["admin"] is True
            second.stop()
        assert any(n.startswith("part-") for n in os.listdir(folder))
        sock.close()
        assert first.call("authenticate")["admin"] is True
    finally:
        first.cleanup()


def test_deep_folders_and_long_names_get_a_clear_refusal(sqlite_server):
    server = sqlite_server
    project = server.call("projects/create", {"title": "Bounds"})["id"]
    deep = "/".join("d%d" % i for i in range(400))
    long_name = "n" * 300
    cases = [
        ("folders/create", {"project_id": project, "folder": deep}, None),
        ("folders/create", {"project_id": project, "folder": "ok/" + long_name}, None),
        ("projects/files", {"project_id": project, "parent": deep}, None),
        ("files/upload", {"project_id": project, "parent": deep}, "a.mov"),
        ("files/upload", {"project_id": project, "parent": "/"}, long_name + ".mov"),
        ("files/upload", {"project_id": project, "parent": "/"}, "\u00e9" * 300 + ".mov"),
        ("files/upload", {"project_id": project, "parent": "/", "title": "t" * 5000}, "a.mov"),
        ("commentstream/create", {"project_id": project, "title": "t" * 5000}, None),
    ]
    for op, params, filename in cases:
        if filename:
            r = server.post_file(op, params, filename, b"x")
        else:
            r = server.post(op, params)
        assert 400 <= r.status < 500, (op, filename and filename[:20], r.status, r.body[:200])
        assert "error" in r.json()
    # A name that fits is kept as sent.
    name = "\u00e9" * 120 + ".mov"
    r = server.post_file("files/upload", {"project_id": project, "parent": "/"}, name, b"x")
    assert r.status == 200 and r.json()["filename"] == name
    assert not any("Traceback" in line for line in server.stderr)


def test_a_chosen_administrator_password_is_not_printed():
    chosen = "chosen-admin-pass-7"
    server = harness.Server(env={"VELORA_ADMIN_PASSWORD": chosen, "VELORA_ADMIN_EMAIL": "boss@studio.test"})
    server.start()
    try:
        server.admin = ("boss@studio.test", chosen)
        assert server.call("authenticate")["admin"] is True
        server.stop()
        output = "".join(server.stdout + server.stderr)
        assert "boss@studio.test" in output and chosen not in output
    finally:
        server.cleanup()
    generated = harness.Server().start()
    try:
        assert generated.admin and generated.admin[1] in "".join(generated.stdout)
    finally:
        generated.cleanup()
