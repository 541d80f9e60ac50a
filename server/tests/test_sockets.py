"""Who may say what on the sockets, sockets closed when access ends, slow readers dropped."""

import asyncio
import base64
import os
import socket
import time

import aiohttp
import pytest

import harness
from test_sessions import _nothing, _receive, _run, signed


@pytest.fixture(scope="module")
def team(sqlite_server):
    server = sqlite_server
    project = server.call("projects/create", {"title": "Sockets"})["id"]
    logins, ids = {}, {}
    for name in ("owner", "guest", "leaver", "renamer", "deleted"):
        logins[name] = ("%s@sockets.test" % name, "%s-pass-1" % name)
        ids[name] = server.add_user(logins[name][0], logins[name][1])["id"]
        server.call("admin/projects/members/add", {"project_id": project, "user_id": ids[name]})
    fid = server.post_file("files/upload", {"project_id": project, "parent": "/"}, "a.mov", b"x").json()["id"]
    return {"project": project, "logins": logins, "ids": ids, "file": fid}


def _session(server, team, *names):
    return server.call("sessions/create", {"name": "S", "project_id": team["project"],
                                           "participants": ",".join(str(team["ids"][n]) for n in names)},
                       login=team["logins"]["owner"])


def test_only_the_owners_transport_reaches_the_others(sqlite_server, team):
    server = sqlite_server
    session = _session(server, team, "guest")
    base = "ws://127.0.0.1:%d" % server.ws_port
    transport = ["KPLAY", "KPAUSE", "AB01:00:10:00", "TC01:00:00:00", "KSTEP1", "KSEEK12.5", "KFILE%d" % team["file"],
                 "KEND"]
    allowed = ["KJOINGus", "KREADY", "KTCREQ", "KLEAVEGus"]

    async def scenario():
        async with aiohttp.ClientSession() as http:
            for path in ("remote", "session"):
                owner = await http.ws_connect("%s/%s/%s" % (base, path, session["token"]),
                                              headers=signed(team["logins"]["owner"]))
                guest = await http.ws_connect("%s/%s/%s" % (base, path, session["token"]),
                                              headers=signed(team["logins"]["guest"]))
                skip = "KCONNECT" if path == "remote" else None
                for word in transport:  # from the guest: not relayed as if from the owner
                    await guest.send_str(word)
                for word in allowed:
                    await guest.send_str(word)
                for word in allowed:
                    assert await _receive(owner, skip=skip) == word, (path, word)
                await _nothing(owner)
                for word in transport:
                    await owner.send_str(word)
                    assert await _receive(guest, skip=skip) == word, (path, word)
                for ws in (owner, guest):
                    await ws.close()
            # A session socket needs the login of one of its members.
            for headers, status in [({}, 404), (signed(team["logins"]["leaver"]), 404),
                                    (signed(("guest@sockets.test", "wrong")), 401)]:
                with pytest.raises(aiohttp.WSServerHandshakeError) as e:
                    await http.ws_connect("%s/session/%s" % (base, session["token"]), headers=headers)
                assert e.value.status == status

    _run(scenario())


async def _closed(ws, timeout=5):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        msg = await asyncio.wait_for(ws.receive(), deadline - time.monotonic())
        if msg.type in (aiohttp.WSMsgType.CLOSE, aiohttp.WSMsgType.CLOSED, aiohttp.WSMsgType.CLOSING):
            return True
    return False


def test_sockets_close_when_access_ends(sqlite_server, team):
    server = sqlite_server
    base = "ws://127.0.0.1:%d" % server.ws_port
    cases = [
        # (user, what ends their access)
        ("leaver", lambda uid: server.call("admin/projects/members/remove", {"project_id": team["project"],
                                                                             "user_id": uid})),
        ("renamer", lambda uid: server.call("admin/users/password", {"user_id": uid,
                                                                     "new_password": "another-pass-2"})),
        ("deleted", lambda uid: server.call("admin/users/remove", {"user_id": uid})),
    ]
    for name, end in cases:
        session = _session(server, team, name)
        login = signed(team["logins"][name])

        async def scenario():
            async with aiohttp.ClientSession() as http:
                owner = await http.ws_connect("%s/session/%s" % (base, session["token"]),
                                              headers=signed(team["logins"]["owner"]))
                theirs = [await http.ws_connect("%s/%s" % (base, path), headers=login) for path in
                          ("commentstream/%d" % team["file"], "session/" + session["token"],
                           "remote/" + session["token"])]
                await asyncio.get_running_loop().run_in_executor(None, end, team["ids"][name])
                for ws in theirs:
                    assert await _closed(ws), name
                await owner.send_str("KPLAY")  # the owner's socket stays
                assert not owner.closed
                await owner.close()

        _run(scenario())


def _silent_socket(port, path):
    """A WebSocket that completes its handshake and never reads again."""
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.connect(("127.0.0.1", port))
    key = base64.b64encode(os.urandom(16)).decode()
    sock.sendall(("GET %s HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n" % (path, key)).encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += sock.recv(1)
    assert head.startswith(b"HTTP/1.1 101"), head
    return sock


def test_a_socket_that_never_reads_does_not_hold_up_the_others(sqlite_server, team):
    server = sqlite_server
    base = "ws://127.0.0.1:%d" % server.ws_port
    silent = _silent_socket(server.ws_port, "/commentstream/%d" % team["file"])
    count, payload = 3000, "x" * 8000  # 24 MB: far more than the silent socket's buffers take

    async def scenario():
        async with aiohttp.ClientSession() as http:
            sender = await http.ws_connect("%s/commentstream/%d" % (base, team["file"]))
            reader = await http.ws_connect("%s/commentstream/%d" % (base, team["file"]))
            await asyncio.sleep(0.2)
            start = time.monotonic()

            for batch in range(0, count, 50):  # the reader keeps up; the silent socket never does
                for i in range(batch, batch + 50):
                    await sender.send_str("%d %s" % (i, payload))
                for i in range(batch, batch + 50):
                    msg = await asyncio.wait_for(reader.receive(), 8)
                    assert msg.type == aiohttp.WSMsgType.TEXT and msg.data.startswith("%d " % i), msg.type
            assert time.monotonic() - start < 8
            await sender.close()
            await reader.close()

    try:
        _run(scenario())
    finally:
        silent.close()
