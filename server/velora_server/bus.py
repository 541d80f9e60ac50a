"""Relay between several servers that share one PostgreSQL database (LISTEN/NOTIFY).

With SQLite there is one server and no bus. With PostgreSQL every server publishes what it relays
to its own sockets on the channel "velora_relay", and delivers what the others publish to its
own members of the same room, so session members connected to different servers hear each
other. Publishing runs on one thread, which keeps one server's messages in order.
"""

import base64
import concurrent.futures
import json
import logging
import secrets
import select
import threading

log = logging.getLogger("velora.bus")

CHANNEL = "velora_relay"
MAX_PAYLOAD = 7000  # PostgreSQL's limit is 8000 bytes per notification


class PgBus:
    def __init__(self, url, loop, deliver):
        import psycopg2
        import psycopg2.extensions

        self._psycopg2 = psycopg2
        self.url = url
        self.origin = secrets.token_hex(8)
        self._loop = loop
        self._deliver = deliver  # deliver(room, message) on the event loop
        self._stop = threading.Event()
        self._publisher = concurrent.futures.ThreadPoolExecutor(max_workers=1, thread_name_prefix="bus-pub")
        self._send_conn = None
        self._listen_conn = psycopg2.connect(url)
        self._listen_conn.set_isolation_level(psycopg2.extensions.ISOLATION_LEVEL_AUTOCOMMIT)
        self._listen_conn.cursor().execute("LISTEN " + CHANNEL)
        self._thread = threading.Thread(target=self._listen, name="bus-listen", daemon=True)
        self._thread.start()

    def _listen(self):
        conn = self._listen_conn
        while not self._stop.is_set():
            try:
                if select.select([conn], [], [], 0.5) == ([], [], []):
                    continue
                conn.poll()
            except Exception as e:  # the database went away; sockets keep working on this server
                log.warning("relay bus stopped listening: %s", e)
                return
            while conn.notifies:
                note = conn.notifies.pop(0)
                try:
                    data = json.loads(note.payload)
                    if data["o"] == self.origin:
                        continue
                    room = (data["r"][0], data["r"][1])
                    message = base64.b64decode(data["m"]) if data.get("b") else data["m"]
                except (ValueError, KeyError, TypeError, IndexError):
                    continue
                self._loop.call_soon_threadsafe(self._deliver, room, message)

    def _send(self, payload):
        try:
            if self._send_conn is None or self._send_conn.closed:
                self._send_conn = self._psycopg2.connect(self.url)
                self._send_conn.autocommit = True
            self._send_conn.cursor().execute("SELECT pg_notify(%s, %s)", (CHANNEL, payload))
        except Exception as e:
            log.warning("relay bus could not publish: %s", e)
            self._send_conn = None

    def publish(self, room, message):
        binary = isinstance(message, bytes)
        payload = json.dumps({"o": self.origin, "r": list(room), "b": binary,
                              "m": base64.b64encode(message).decode() if binary else message})
        if len(payload.encode("utf-8")) > MAX_PAYLOAD:
            log.info("message too large for the relay bus; delivered on this server only")
            return
        self._publisher.submit(self._send, payload)

    def close(self):
        self._stop.set()
        self._thread.join(timeout=2)
        self._publisher.shutdown(wait=True)
        for conn in (self._listen_conn, self._send_conn):
            if conn is not None:
                try:
                    conn.close()
                except Exception:
                    pass
