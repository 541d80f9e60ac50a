"""The WebSocket endpoints: live comment channels and the two sockets of a synced session.

- "/commentstream/<file id>": whatever a viewer sends (a client sends "1" after changing a
  comment) goes to every other viewer of that file, who then reloads its comments.
- "/session/<token>": membership and file messages ("KJOIN...", "KLEAVE...", "KEND", "KFILE...")
  go to the other members; "KTCREQ" also goes to the session's sync sockets, where the owner
  answers it with the current timecode.
- "/remote/<token>": transport messages go to the other members. The server itself sends
  "KCONNECT" to every member when one connects, "KDISCONNECT" to the others when one leaves, and
  answers "KPING" with "KPONG" (to the sender only).

A token is a session's token or a user's remote-control token. Rooms live in this process; with a
bus (bus.py) what one server relays also reaches the members connected to the others.
"""

import asyncio
import logging

from aiohttp import WSMsgType, web

log = logging.getLogger("velora.relay")

MAX_MESSAGE = 64 * 1024
SEND_TIMEOUT = 10


class Hub:
    def __init__(self):
        self.rooms = {}
        self.bus = None  # set when several servers share a database

    def join(self, room, ws):
        self.rooms.setdefault(room, set()).add(ws)

    def leave(self, room, ws):
        members = self.rooms.get(room)
        if members is not None:
            members.discard(ws)
            if not members:
                del self.rooms[room]

    def members(self, room):
        return list(self.rooms.get(room, ()))

    async def send(self, room, message, exclude=None, local=False):
        """Sends to the room's members here except `exclude`, and (unless `local`) to the other servers."""
        if self.bus is not None and not local:
            self.bus.publish(room, message)
        peers = [p for p in self.members(room) if p is not exclude and not p.closed]
        if peers:
            await asyncio.gather(*(_send(p, message) for p in peers))

    def deliver(self, room, message):
        """A message relayed by another server (called on the event loop)."""
        if room in self.rooms:
            asyncio.ensure_future(self.send(room, message, local=True))

    async def close_all(self):
        sockets = [ws for members in self.rooms.values() for ws in members]
        await asyncio.gather(*(ws.close(code=1001, message=b"Server shutting down") for ws in sockets),
                             return_exceptions=True)


async def _send(ws, message):
    try:
        if isinstance(message, bytes):
            await asyncio.wait_for(ws.send_bytes(message), SEND_TIMEOUT)
        else:
            await asyncio.wait_for(ws.send_str(message), SEND_TIMEOUT)
    except (ConnectionError, asyncio.TimeoutError, RuntimeError) as e:
        log.info("dropping a message to a socket that cannot take it: %s", e)


async def _known_token(service, token):
    def look(tx):
        if tx.value("SELECT 1 FROM sessions WHERE token = ?", (token,)) is not None:
            return True
        return tx.value("SELECT 1 FROM users WHERE remote_token = ?", (token,)) is not None

    return len(token) <= 128 and await service.db.read(look)


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


async def _relay(request, room, answer, greeting=None, farewell=None):
    """Keeps one socket in a room while it is open: `greeting` goes to the room when it joins,
    each message it sends goes through `answer(ws, message)`, and `farewell` goes to the others
    after it has left."""
    hub = request.app["service"].hub
    ws = await _open(request)
    hub.join(room, ws)
    try:
        if greeting is not None:
            await hub.send(room, greeting)
        async for message in _messages(ws):
            await answer(ws, message)
    finally:
        hub.leave(room, ws)
        if farewell is not None:
            await hub.send(room, farewell)
    return ws


async def comment_stream(request):
    service = request.app["service"]
    text = request.match_info["file"]
    if not text.isdigit():
        raise web.HTTPNotFound(text="No such file\n")
    file_id = int(text)
    exists = await service.db.read(lambda tx: tx.value(
        "SELECT 1 FROM files WHERE id = ? AND removed = 0", (file_id,)))
    if not exists:
        raise web.HTTPNotFound(text="No such file\n")
    room = ("comments", file_id)

    async def answer(ws, message):
        await service.hub.send(room, message, exclude=ws)

    return await _relay(request, room, answer)


async def session_socket(request):
    service = request.app["service"]
    token = request.match_info["token"]
    if not await _known_token(service, token):
        raise web.HTTPNotFound(text="No such session\n")
    room = ("session", token)

    async def answer(ws, message):
        await service.hub.send(room, message, exclude=ws)
        if message == "KTCREQ":
            await service.hub.send(("remote", token), message)

    return await _relay(request, room, answer)


async def remote_socket(request):
    service = request.app["service"]
    token = request.match_info["token"]
    if not await _known_token(service, token):
        raise web.HTTPNotFound(text="No such session\n")
    room = ("remote", token)

    async def answer(ws, message):
        if message == "KPING":
            await _send(ws, "KPONG")
        elif message not in ("KPONG", "KCONNECT", "KDISCONNECT"):
            await service.hub.send(room, message, exclude=ws)

    return await _relay(request, room, answer, greeting="KCONNECT", farewell="KDISCONNECT")


def routes(app):
    app.router.add_get("/commentstream/{file}", comment_stream)
    app.router.add_get("/session/{token}", session_socket)
    app.router.add_get("/remote/{token}", remote_socket)
