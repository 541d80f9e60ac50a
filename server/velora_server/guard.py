"""What keeps one client from holding the server: connection caps, header, body and idle
timeouts, the open-file limit, and logging that does not repeat itself.

Both listening ports accept through one `Guard`. Each connection is counted against a cap per
address and one in all; past either it is answered "503" and closed. A watchdog closes a
connection whose request headers are not complete `header_timeout` seconds after they began, whose
request body has not moved for `body_timeout` seconds, or that has sat idle between requests for
`idle_timeout` seconds.
"""

import asyncio
import logging
import resource
import time

log = logging.getLogger("velora.guard")

REFUSAL = b"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"


def raise_open_file_limit():
    """Raises the soft limit of open files to the hard one; answers the limit in force."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard == resource.RLIM_INFINITY:
        hard = 1 << 20
    if soft == resource.RLIM_INFINITY or soft >= hard:
        return soft if soft != resource.RLIM_INFINITY else hard
    try:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        return hard
    except (ValueError, OSError):
        return soft


def connection_cap(open_files, configured):
    """Connections in all: as configured, else what the open-file limit leaves after a reserve
    for the database, uploads, child processes and the listening sockets."""
    if configured > 0:
        return configured
    return max(16, open_files - max(64, open_files // 4))


class RepeatFilter(logging.Filter):
    """Lets a warning or error through once per `interval` seconds for each (logger, message);
    the next one that passes says how many were held back."""

    def __init__(self, interval, clock=time.monotonic):
        super().__init__()
        self.interval = interval
        self.clock = clock
        self._seen = {}

    def filter(self, record):
        if record.levelno < logging.WARNING or self.interval <= 0:
            return True
        key = (record.name, str(record.msg), record.exc_info[0] if record.exc_info else None)
        now = self.clock()
        last, held = self._seen.get(key, (None, 0))
        if last is not None and now - last < self.interval:
            self._seen[key] = (last, held + 1)
            return False
        if len(self._seen) > 1000:
            self._seen.clear()
        self._seen[key] = (now, 0)
        if held:
            record.msg = "%s (and %d more like it in the last %.0f s)" % (record.getMessage(), held, now - last)
            record.args = ()
        return True


def loop_exception_handler(loop, context):
    """The event loop's errors (an accept() out of file descriptors, for one) go through logging,
    where the repeat filter holds back copies."""
    exc = context.get("exception")
    log.error("%s%s", context.get("message", "event loop error"), ": %r" % (exc,) if exc else "")


class _Connection:
    __slots__ = ("handler", "transport", "address", "since", "last_data", "partial")

    def __init__(self, handler, transport, address, now):
        self.handler, self.transport, self.address = handler, transport, address
        self.since = now        # when it began waiting for a request
        self.last_data = now
        self.partial = False    # bytes of a request whose headers are not complete


class _Protocol(asyncio.Protocol):
    """Stands between the transport and aiohttp's request handler to count and watch it."""

    def __init__(self, guard, handler):
        self._guard, self._handler, self._conn = guard, handler, None

    def connection_made(self, transport):
        self._conn = self._guard._admit(self._handler, transport)
        if self._conn is not None:
            self._handler.connection_made(transport)

    def data_received(self, data):
        conn = self._conn
        if conn is None:
            return
        handler = self._handler
        conn.last_data = self._guard.clock()
        before = getattr(handler, "_request_count", 0)
        handler.data_received(data)
        if getattr(handler, "_request_count", 0) != before:  # the headers of a request came in
            conn.partial = False
        elif getattr(handler, "_current_request", None) is None and not getattr(handler, "_messages", None):
            if not conn.partial:  # the start of the next request's headers
                conn.partial = True
                conn.since = conn.last_data

    def eof_received(self):
        return self._handler.eof_received() if self._conn is not None else None

    def connection_lost(self, exc):
        if self._conn is not None:
            self._guard._forget(self._conn)
            self._handler.connection_lost(exc)

    def pause_writing(self):
        if self._conn is not None:
            self._handler.pause_writing()

    def resume_writing(self):
        if self._conn is not None:
            self._handler.resume_writing()


class Guard:
    def __init__(self, settings, total):
        self.settings = settings
        self.total = total
        self.per_address = settings.max_connections_per_address
        self.clock = time.monotonic
        self.connections = set()
        self.by_address = {}
        self._watchdog = None

    def factory(self, runner):
        """A protocol factory for loop.create_server() serving `runner`'s application."""
        return lambda: _Protocol(self, runner.server())

    def _admit(self, handler, transport):
        peer = transport.get_extra_info("peername")
        address = peer[0] if peer else ""
        count = self.by_address.get(address, 0)
        if len(self.connections) >= self.total or (self.per_address > 0 and count >= self.per_address):
            log.warning("refusing connections: %d open in all, %d from the address %s",
                        len(self.connections), count, address)
            try:
                transport.write(REFUSAL)
            finally:
                transport.close()
            return None
        conn = _Connection(handler, transport, address, self.clock())
        self.connections.add(conn)
        self.by_address[address] = count + 1
        return conn

    def _forget(self, conn):
        if conn in self.connections:
            self.connections.discard(conn)
            left = self.by_address.get(conn.address, 1) - 1
            if left > 0:
                self.by_address[conn.address] = left
            else:
                self.by_address.pop(conn.address, None)

    def start(self):
        s = self.settings
        tick = max(0.05, min(s.header_timeout, s.body_timeout, s.idle_timeout, 4.0) / 4)
        self._watchdog = asyncio.ensure_future(self._watch(tick))

    async def stop(self):
        if self._watchdog is not None:
            self._watchdog.cancel()
            try:
                await self._watchdog
            except asyncio.CancelledError:
                pass

    async def _watch(self, tick):
        while True:
            await asyncio.sleep(tick)
            try:
                self.check()
            except Exception:
                log.exception("watching the connections failed")

    def check(self):
        now, s = self.clock(), self.settings
        for conn in list(self.connections):
            handler = conn.handler
            waiting = getattr(handler, "_waiter", None) is not None
            if not waiting:  # a request is being answered; the clocks start when it is done
                conn.since = now
                conn.partial = False
            reason = None
            if waiting:
                if conn.partial and now - conn.since > s.header_timeout:
                    reason = "its request headers took longer than %g s" % s.header_timeout
                elif not conn.partial and now - conn.since > s.idle_timeout:
                    reason = "it was idle for %g s" % s.idle_timeout
            else:
                request = getattr(handler, "_current_request", None)
                if request is not None and not request.content.is_eof() and now - conn.last_data > s.body_timeout:
                    reason = "its request body stalled for %g s" % s.body_timeout
            if reason:
                log.debug("closing a connection from %s: %s", conn.address, reason)
                self._forget(conn)
                conn.transport.abort()
