"""The WebSocket endpoints: live comment channels and the two sockets of a synced session.

- "/commentstream/<file id>": whatever a viewer sends (a client sends "1" after changing a
  comment) goes to every other viewer of that file, who then reloads its comments.
- "/session/<token>": membership and file messages ("KJOIN...", "KLEAVE...", "KEND", "KFILE...")
  go to the other members; "KTCREQ" also goes to the session's sync sockets, where the owner
  answers it with the current timecode.
- "/remote/<token>": transport messages go to the other members. The server itself sends
  "KCONNECT" to every member when one connects, "KDISCONNECT" to the others when one leaves, and
  answers "KPING" with "KPONG" (to the sender only).

A session token's sockets need a login of the session's owner or one of its participants
("Authorization: Basic" of user name and password digest, or "?username=...&password=..."), and
only the owner's transport words reach the others; a user's remote-control token is that user's
own. Comment sockets may come without a login. Sockets close when their user leaves the project,
is removed or changes the password. A token is a session's token or a user's remote-control token. Rooms live in this process; with a
bus (bus.py) what one server relays also reaches the members connected to the others.
"""

import asyncio
import base64
import json
import logging
import urllib.parse

from aiohttp import WSMsgType, web

from . import auth

log = logging.getLogger("velora.relay")

MAX_MESSAGE = 64 * 1024
SEND_TIMEOUT = 10
CONTROL = ("control", "")
# What a session's participants may say; every other word (transport: "KPLAY", "KPAUSE", "AB...",
# "TC...", steps, seeks, "KFILE...", "KEND") is the owner's alone and is dropped from anyone else.
PARTICIPANT_WORDS = ("KJOIN", "KLEAVE", "KTCREQ", "KREADY", "KWAIT", "KPING", "KPONG")


class Peer:
    """One open socket: who holds it, where, and what waits to be sent to it. A peer whose queue
    outgrows `limit` bytes (it does not read) is dropped, so it never holds up the others."""

    def __init__(self, ws, kind, user_id=None, project_id=None, owner_id=None, limit=1024 * 1024):
        self.ws, self.kind, self.user_id, self.project_id, self.owner_id = ws, kind, user_id, project_id, owner_id
        self.limit = limit
        self.queue = asyncio.Queue()
        self.queued = 0
        self.writer = asyncio.ensure_future(self._write())

    @property
    def closed(self):
        return self.ws.closed

    def send(self, message):
        size = len(message)
        if self.queued + size > self.limit:
            log.info("dropping a socket that does not read (%d bytes waiting)", self.queued)
            self.close(1008, b"Too slow")
            return
        self.queued += size
        self.queue.put_nowait(message)

    def close(self, code=1000, message=b""):
        self.writer.cancel()
        asyncio.ensure_future(_close(self.ws, code, message))

    async def _write(self):
        try:
            while True:
                message = await self.queue.get()
                self.queued -= len(message)
                if not await _send(self.ws, message):
                    self.close(1011, b"Cannot send")
                    return
        except asyncio.CancelledError:
            pass


async def _close(ws, code, message):
    try:
        await asyncio.wait_for(ws.close(code=code, message=message), SEND_TIMEOUT)
    except (asyncio.TimeoutError, ConnectionError, RuntimeError):
        pass


class Hub:
    def __init__(self):
        self.rooms = {}
        self.bus = None  # set when several servers share a database

    def join(self, room, peer):
        self.rooms.setdefault(room, set()).add(peer)

    def leave(self, room, peer):
        members = self.rooms.get(room)
        if members is not None:
            members.discard(peer)
            if not members:
                del self.rooms[room]
        peer.writer.cancel()

    def members(self, room):
        return list(self.rooms.get(room, ()))

    async def send(self, room, message, exclude=None, local=False):
        """Queues to the room's members here except `exclude`, and (unless `local`) to the other servers."""
        if self.bus is not None and not local:
            self.bus.publish(room, message)
        for p in self.members(room):
            if p is not exclude and not p.closed:
                p.send(message)

    def deliver(self, room, message):
        """A message relayed by another server (called on the event loop)."""
        if room == CONTROL:
            try:
                order = json.loads(message)
                self.revoke(order["user"], order["projects"], order["anonymous"], local=True)
            except (ValueError, KeyError, TypeError):
                pass
        elif room in self.rooms:
            asyncio.ensure_future(self.send(room, message, local=True))

    def revoke(self, user_id, projects=None, anonymous=(), local=False):
        """Closes the sockets of `user_id` (in `projects`, or everywhere when None), and the
        comment sockets without a login of the projects in `anonymous`: the user left them, was
        removed, or changed the password."""
        if self.bus is not None and not local:
            self.bus.publish(CONTROL, json.dumps({"user": user_id, "projects": projects,
                                                  "anonymous": list(anonymous)}))
        anonymous = set(anonymous)
        for room, members in list(self.rooms.items()):
            for p in list(members):
                mine = p.user_id == user_id and (projects is None or p.project_id in projects)
                unknown = p.user_id is None and p.kind == "comments" and (
                    p.project_id in anonymous or (p.project_id == -1 and p.owner_id == user_id))
                if mine or unknown:
                    self.leave(room, p)
                    p.close(4001, b"Access withdrawn")

    async def close_all(self):
        sockets = [p.ws for members in self.rooms.values() for p in members]
        await asyncio.gather(*(ws.close(code=1001, message=b"Server shutting down") for ws in sockets),
                             return_exceptions=True)


async def _send(ws, message):
    try:
        if isinstance(message, bytes):
            await asyncio.wait_for(ws.send_bytes(message), SEND_TIMEOUT)
        else:
            await asyncio.wait_for(ws.send_str(message), SEND_TIMEOUT)
        return True
    except (ConnectionError, asyncio.TimeoutError, RuntimeError) as e:
        log.info("a socket cannot take a message: %s", e)
        return False


def _credentials(request):
    """(user name, digest) from "Authorization: Basic" or the address's query, or None."""
    header = request.headers.get("Authorization", "")
    if header[:6].lower() == "basic ":
        try:
            user, _, digest = base64.b64decode(header[6:].strip()).decode("utf-8").partition(":")
            return user, digest
        except (ValueError, UnicodeDecodeError):
            return "", ""
    query = urllib.parse.parse_qs(request.query_string)
    if "username" in query or "password" in query:
        return (query.get("username") or [""])[0], (query.get("password") or [""])[0]
    return None


async def _login(request, required):
    """The user row of the socket's login; None without one (when allowed). Refuses before the upgrade."""
    service = request.app["service"]
    creds = _credentials(request)
    if creds is None:
        if required:
            raise web.HTTPUnauthorized(text="This socket needs a login\n")
        return None
    try:
        user = await service.sign_in(creds[0], creds[1], request.remote)
    except auth.Throttled as e:
        raise web.HTTPTooManyRequests(text=str(e) + "\n", headers={"Retry-After": str(e.seconds)})
    if user is None:
        raise web.HTTPUnauthorized(text="Invalid username or password\n")
    return user


async def _room_of_token(service, token, user):
    """For a session token: the session (its owner, project, members); for a user's remote-control
    token: that user's own room. None when unknown or not the user's."""
    def look(tx):
        row = tx.one("SELECT id, owner_id, project_id FROM sessions WHERE token = ?", (token,))
        if row is not None:
            members = {row["owner_id"]} | {r["user_id"] for r in tx.all(
                "SELECT user_id FROM session_participants WHERE session_id = ?", (row["id"],))}
            return {"owner": row["owner_id"], "project": row["project_id"], "members": members}
        uid = tx.value("SELECT id FROM users WHERE remote_token = ?", (token,))
        return None if uid is None else {"owner": uid, "project": None, "members": {uid}, "remote": True}

    if len(token) > 128:
        return None
    room = await service.db.read(look)
    if room is None:
        return None
    if room.get("remote"):
        if user is not None and user["id"] != room["owner"]:
            return None
        return room
    if user is None or (user["id"] not in room["members"] and not user["is_admin"]):
        return None
    return room


async def _open(request):
    ws = web.WebSocketResponse(heartbeat=55, max_msg_size=MAX_MESSAGE)
    await ws.prepare(request)
    return ws


async def _messages(ws):
    async for msg in ws:
        if msg.type == WSMsgType.TEXT:
            yield msg.data
        elif msg.type == WSMsgType.BINARY:
            yield msg.data
        elif msg.type == WSMsgType.ERROR:
            log.info("socket error: %s", ws.exception())
            break


async def _relay(request, room, answer, greeting=None, farewell=None, **who):
    """Keeps one socket in a room while it is open: `greeting` goes to the room when it joins,
    each message it sends goes through `answer(peer, message)`, and `farewell` goes to the others
    after it has left."""
    service = request.app["service"]
    hub = service.hub
    ws = await _open(request)
    peer = Peer(ws, room[0], limit=service.settings.socket_queue, **who)
    hub.join(room, peer)
    try:
        if greeting is not None:
            await hub.send(room, greeting)
        async for message in _messages(ws):
            await answer(peer, message)
    finally:
        hub.leave(room, peer)
        if farewell is not None:
            await hub.send(room, farewell)
    return ws


def _owners_word(room, peer, message):
    """Whether `message` from `peer` may go to the others of a session."""
    if room.get("remote") or peer.user_id == room["owner"]:
        return True
    text = message if isinstance(message, str) else ""
    return text.startswith(PARTICIPANT_WORDS)


async def comment_stream(request):
    service = request.app["service"]
    text = request.match_info["file"]
    if not text.isdigit():
        raise web.HTTPNotFound(text="No such file\n")
    file_id = int(text)
    user = await _login(request, required=False)  # the player's comment channel signs in with no login
    row = await service.db.read(lambda tx: tx.one(
        "SELECT project_id, owner_id FROM files WHERE id = ? AND removed = 0", (file_id,)))
    if row is None:
        raise web.HTTPNotFound(text="No such file\n")
    if user is not None:
        from . import records

        def visible(tx):
            try:
                records.file_for(tx, user, file_id)
                return True
            except Exception:
                return False

        if not await service.db.read(visible):
            raise web.HTTPNotFound(text="No such file\n")
    room = ("comments", file_id)

    async def answer(peer, message):
        await service.hub.send(room, message, exclude=peer)

    return await _relay(request, room, answer, user_id=user and user["id"], project_id=row["project_id"],
                        owner_id=row["owner_id"])


async def _session_room(request):
    service = request.app["service"]
    token = request.match_info["token"]
    user = await _login(request, required=False)
    room = await _room_of_token(service, token, user)
    if room is None or (user is None and not room.get("remote")):
        if room is not None:
            raise web.HTTPUnauthorized(text="This socket needs a login\n")
        raise web.HTTPNotFound(text="No such session\n")
    uid = user["id"] if user is not None else room["owner"]
    return service, token, room, uid


async def session_socket(request):
    service, token, info, uid = await _session_room(request)
    room = ("session", token)

    async def answer(peer, message):
        if not _owners_word(info, peer, message):
            return
        await service.hub.send(room, message, exclude=peer)
        if message == "KTCREQ":
            await service.hub.send(("remote", token), message)

    return await _relay(request, room, answer, user_id=uid, project_id=info["project"])


async def remote_socket(request):
    service, token, info, uid = await _session_room(request)
    room = ("remote", token)

    async def answer(peer, message):
        if message == "KPING":
            peer.send("KPONG")
        elif message not in ("KPONG", "KCONNECT", "KDISCONNECT") and _owners_word(info, peer, message):
            await service.hub.send(room, message, exclude=peer)

    return await _relay(request, room, answer, greeting="KCONNECT", farewell="KDISCONNECT", user_id=uid,
                        project_id=info["project"])


def routes(app):
    app.router.add_get("/commentstream/{file}", comment_stream)
    app.router.add_get("/session/{token}", session_socket)
    app.router.add_get("/remote/{token}", remote_socket)
