"""Session records and the three WebSocket endpoints."""

import asyncio

import aiohttp
import pytest


@pytest.fixture(scope="module")
def crew(server):
    server.add_user("host@studio.test", "host-pass-1", "Hal", "Host")
    server.add_user("guest@studio.test", "guest-pass-1", "Gus", "Guest")
    server.add_user("other@studio.test", "other-pass-1", "Otto", "Other")
    ids = {u["email"]: u["id"] for u in server.call("admin/users")}
    project = server.call("projects/create", {"title": "Sessions"})["id"]
    for email in ("host@studio.test", "guest@studio.test", "other@studio.test"):
        server.call("admin/projects/members/add", {"project_id": project, "user_id": ids[email]})
    host = ("host@studio.test", "host-pass-1")
    r = server.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1, "title": "Cut"},
                         "cut.mp4", b"\0" * 64, login=host)
    other = server.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1,
                                              "title": "Other cut"}, "other.mp4", b"\0" * 64, login=host)
    return {"project": project, "ids": ids, "file": r.json()["id"], "file2": other.json()["id"], "host": host,
            "guest": ("guest@studio.test", "guest-pass-1"), "other": ("other@studio.test", "other-pass-1")}


def test_session_records(server, crew):
    pid, ids, host, guest = crew["project"], crew["ids"], crew["host"], crew["guest"]
    users = server.call("users", {"project_id": pid}, login=host)
    # The administrator made the project and so belongs to it; the asking user is left out.
    assert [(u["first_name"], u["last_name"]) for u in users] == [("Administrator", ""), ("Gus", "Guest"),
                                                                  ("Otto", "Other")]
    assert server.post("sessions/create", {"name": "Alone", "participants": "", "project_id": pid},
                       login=host).status == 400
    assert server.post("sessions/create", {"name": "", "participants": str(ids["guest@studio.test"]),
                                           "project_id": pid}, login=host).status == 400
    session = server.call("sessions/create", {"name": "Grade review", "participants": str(ids["guest@studio.test"]),
                                              "project_id": pid}, login=host)
    assert len(session["token"]) == 32 and session["current_file_id"] == -1

    def listed(login):
        return [(s["id"], s["title"], s["owner_name"], s["isUserOwner"], s["current_file_id"])
                for s in server.call("sessions", {"project_id": pid}, login=login)]

    assert listed(host) == [(session["id"], "Grade review", "Hal Host", True, -1)]
    assert listed(guest) == [(session["id"], "Grade review", "Hal Host", False, -1)]
    assert listed(crew["other"]) == []  # not invited
    assert server.post("sessions/fileid", {"file_id": crew["file"], "session_id": session["id"]},
                       login=guest).status == 403
    server.call("sessions/fileid", {"file_id": crew["file"], "session_id": session["id"]}, login=host)
    assert listed(guest)[0][4] == crew["file"]
    assert server.post("sessions/remove", {"id": session["id"]}, login=guest).status == 403
    server.call("sessions/remove", {"id": session["id"]}, login=host)
    assert listed(host) == []
    assert server.call("sync/localip", {"ip": "192.0.2.7"}, login=host) == {"ip": "192.0.2.7"}
    assert server.post("sync/localip", {"ip": "not an address"}, login=host).status == 400
    token = server.call("remote/token", login=host)["token"]
    assert server.call("remote/token", login=host)["token"] == token


async def _receive(ws, timeout=5, skip=None):
    while True:
        msg = await asyncio.wait_for(ws.receive(), timeout)
        assert msg.type == aiohttp.WSMsgType.TEXT, msg
        if msg.data != skip:
            return msg.data


async def _nothing(ws, wait=0.3):
    try:
        msg = await asyncio.wait_for(ws.receive(), wait)
    except asyncio.TimeoutError:
        return True
    raise AssertionError("unexpected message %r" % (msg,))


def signed(login):
    """The socket's login: "Authorization: Basic" of the user name and the password's digest."""
    import base64

    from harness import sha512
    text = "%s:%s" % (login[0], sha512(login[1]))
    return {"Authorization": "Basic " + base64.b64encode(text.encode()).decode()}


def _run(coro):
    return asyncio.new_event_loop().run_until_complete(coro)


def test_sync_socket_relays_and_answers(server, crew):
    session = server.call("sessions/create", {"name": "Sync", "participants": str(crew["ids"]["guest@studio.test"]),
                                              "project_id": crew["project"]}, login=crew["host"])
    base = "ws://127.0.0.1:%d" % server.ws_port

    async def scenario():
        async with aiohttp.ClientSession() as http:
            owner = await http.ws_connect("%s/remote/%s" % (base, session["token"]), headers=signed(crew["host"]))
            assert await _receive(owner) == "KCONNECT"  # every member hears each connection
            guest = await http.ws_connect("%s/remote/%s" % (base, session["token"]), headers=signed(crew["guest"]))
            assert await _receive(owner) == "KCONNECT"
            assert await _receive(guest) == "KCONNECT"
            await owner.send_str("AB01:00:10:00")
            assert await _receive(guest) == "AB01:00:10:00"
            await owner.send_str("KPLAY")
            assert await _receive(guest) == "KPLAY"
            await guest.send_str("KPING")
            assert await _receive(guest) == "KPONG"   # answered to the sender only
            await _nothing(owner)
            await guest.send_str("KREADY")
            assert await _receive(owner) == "KREADY"
            await guest.close()
            assert await _receive(owner) == "KDISCONNECT"
            await owner.close()
            # An unknown token is refused before the upgrade.
            with pytest.raises(aiohttp.WSServerHandshakeError) as e:
                await http.ws_connect("%s/remote/%s" % (base, "x" * 32))
            assert e.value.status == 404

    _run(scenario())


def test_session_socket_relays_membership_and_timecode_requests(server, crew):
    session = server.call("sessions/create", {"name": "Members", "participants": str(crew["ids"]["guest@studio.test"]),
                                              "project_id": crew["project"]}, login=crew["host"])
    base = "ws://127.0.0.1:%d" % server.ws_port

    async def scenario():
        async with aiohttp.ClientSession() as http:
            owner_sync = await http.ws_connect("%s/remote/%s" % (base, session["token"]),
                                              headers=signed(crew["host"]))
            assert await _receive(owner_sync) == "KCONNECT"
            owner = await http.ws_connect("%s/session/%s" % (base, session["token"]), headers=signed(crew["host"]))
            guest = await http.ws_connect("%s/session/%s" % (base, session["token"]), headers=signed(crew["guest"]))
            await guest.send_str("KJOINGus Guest")
            assert await _receive(owner) == "KJOINGus Guest"
            await _nothing(guest)  # not echoed
            await owner.send_str("KFILE%d" % crew["file"])
            assert await _receive(guest) == "KFILE%d" % crew["file"]
            await guest.send_str("KTCREQ")  # reaches the owner's sync socket too
            assert await _receive(owner) == "KTCREQ"
            assert await _receive(owner_sync) == "KTCREQ"
            await owner.send_str("KEND")
            assert await _receive(guest) == "KEND"
            for ws in (owner, guest, owner_sync):
                await ws.close()

    _run(scenario())


def test_comment_channel_tells_other_viewers(server, crew):
    base = "ws://127.0.0.1:%d" % server.ws_port

    async def scenario():
        async with aiohttp.ClientSession() as http:
            a = await http.ws_connect("%s/commentstream/%d" % (base, crew["file"]))
            b = await http.ws_connect("%s/commentstream/%d" % (base, crew["file"]))
            elsewhere = await http.ws_connect("%s/commentstream/%d" % (base, crew["file2"]))
            await a.send_str("1")
            assert await _receive(b) == "1"
            await _nothing(a)
            await _nothing(elsewhere)  # another file's viewers
            for ws in (a, b, elsewhere):
                await ws.close()
            with pytest.raises(aiohttp.WSServerHandshakeError):
                await http.ws_connect("%s/commentstream/%d" % (base, 999999))

    _run(scenario())


def test_members_on_two_servers_of_one_database_hear_each_other(postgres):
    import harness

    url = postgres.new_database()
    first = harness.Server(database=url).start()
    second = harness.Server(database=url)
    second.admin = first.admin
    second.start()
    try:
        guest = first.add_user("guest@two.test", "guest-pass-2")
        project = first.call("projects/create", {"title": "Two"})["id"]
        first.call("admin/projects/members/add", {"project_id": project, "user_id": guest["id"]})
        # The second server answers from the same records.
        session = second.call("sessions/create", {"name": "Across", "participants": str(guest["id"]),
                                                  "project_id": project})

        async def scenario():
            async with aiohttp.ClientSession() as http:
                owner = await http.ws_connect("ws://127.0.0.1:%d/remote/%s" % (first.ws_port, session["token"]),
                                              headers=signed(first.admin))
                assert await _receive(owner) == "KCONNECT"
                member = await http.ws_connect("ws://127.0.0.1:%d/remote/%s" % (second.ws_port, session["token"]),
                                               headers=signed(("guest@two.test", "guest-pass-2")))
                assert await _receive(member) == "KCONNECT"
                assert await _receive(owner) == "KCONNECT"  # from the other server
                await owner.send_str("TC01:00:00:00")
                # The owner's own KCONNECT may reach the other server after the member joined it.
                assert await _receive(member, skip="KCONNECT") == "TC01:00:00:00"
                await member.send_str("KPING")
                assert await _receive(member) == "KPONG"
                await _nothing(owner)
                await member.close()
                assert await _receive(owner) == "KDISCONNECT"
                await owner.close()

        _run(scenario())
    finally:
        second.cleanup()
        first.cleanup()


def test_tls_serves_https_and_wss(tmp_path):
    import ssl
    import subprocess

    import harness

    cert, key = str(tmp_path / "cert.pem"), str(tmp_path / "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
    server = harness.Server(args=["--tls-cert", cert, "--tls-key", key]).start()
    try:
        assert server.scheme == "https"
        assert server.call("authenticate")["name"] == "Administrator"
        token = server.call("remote/token")["token"]

        async def scenario():
            async with aiohttp.ClientSession() as http:
                ws = await http.ws_connect("wss://127.0.0.1:%d/remote/%s" % (server.ws_port, token),
                                           ssl=ssl._create_unverified_context())
                assert await _receive(ws) == "KCONNECT"
                await ws.close()
                with pytest.raises(aiohttp.ClientError):  # plain HTTP is not answered on a TLS port
                    await http.ws_connect("ws://127.0.0.1:%d/remote/%s" % (server.ws_port, token))

        _run(scenario())
    finally:
        server.cleanup()
