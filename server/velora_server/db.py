"""Storage behind the service: SQLite (default) or PostgreSQL through the same statements.

Statements are written once with "?" placeholders. Every unit of work is a plain function that
receives a `Tx` and runs on a worker thread of a small pool, so the event loop never waits on
the database; each worker keeps its own connection. A unit of work is one transaction: it is
committed before its caller's reply is sent, so an acknowledged write survives a crash.
"""

import asyncio
import concurrent.futures
import logging
import os
import sqlite3
import threading
import urllib.parse

from . import schema

log = logging.getLogger("velora.db")


class DatabaseError(Exception):
    pass


class Tx:
    """One transaction on one connection; rows come back as dictionaries."""

    def __init__(self, conn, dialect):
        self._conn = conn
        self.dialect = dialect

    def _sql(self, sql):
        if self.dialect == "postgresql":
            return sql.replace("%", "%%").replace("?", "%s")
        return sql

    def execute(self, sql, params=()):
        cur = self._conn.cursor()
        cur.execute(self._sql(sql), tuple(params))
        return cur

    def all(self, sql, params=()):
        cur = self.execute(sql, params)
        if cur.description is None:
            return []
        names = [d[0] for d in cur.description]
        return [dict(zip(names, row)) for row in cur.fetchall()]

    def one(self, sql, params=()):
        rows = self.all(sql, params)
        return rows[0] if rows else None

    def value(self, sql, params=()):
        row = self.one(sql, params)
        return None if row is None else next(iter(row.values()))

    def insert(self, table, values):
        """Inserts one row and answers its new id."""
        cols = list(values)
        sql = "INSERT INTO %s (%s) VALUES (%s) RETURNING id" % (
            table, ", ".join(cols), ", ".join("?" for _ in cols))
        return self.value(sql, [values[c] for c in cols])


class Database:
    """A pool of worker threads, each with its own connection to the same database."""

    def __init__(self, url, workers=4):
        self.url = url
        parsed = urllib.parse.urlparse(url)
        if parsed.scheme in ("postgresql", "postgres"):
            self.dialect = "postgresql"
        elif parsed.scheme == "sqlite":
            self.dialect = "sqlite"
            # sqlite:///absolute/path or sqlite:relative/path
            self._path = parsed.path if parsed.netloc == "" else parsed.netloc + parsed.path
            if url.startswith("sqlite:///"):
                self._path = url[len("sqlite://"):]
        else:
            raise DatabaseError("unsupported database URL %r (use sqlite:///PATH or postgresql://...)" % url)
        self._local = threading.local()
        self._connections = []
        self._lock = threading.Lock()
        self._pool = concurrent.futures.ThreadPoolExecutor(max_workers=workers, thread_name_prefix="db")

    def _connect(self):
        if self.dialect == "sqlite":
            conn = sqlite3.connect(self._path, timeout=30, isolation_level=None, check_same_thread=False)
            conn.execute("PRAGMA journal_mode=WAL")
            conn.execute("PRAGMA synchronous=FULL")
            conn.execute("PRAGMA foreign_keys=ON")
            conn.execute("PRAGMA busy_timeout=30000")
        else:
            import psycopg2  # only needed for a PostgreSQL deployment

            conn = psycopg2.connect(self.url)
            conn.autocommit = False
        with self._lock:
            self._connections.append(conn)
        return conn

    def _connection(self):
        conn = getattr(self._local, "conn", None)
        if conn is None:
            conn = self._connect()
            self._local.conn = conn
        return conn

    def _run(self, fn, args, write):
        conn = self._connection()
        if self.dialect == "sqlite":
            # IMMEDIATE takes the write lock up front, so two writers never deadlock on upgrade.
            conn.execute("BEGIN IMMEDIATE" if write else "BEGIN")
        elif conn.autocommit == write:
            # Reads need no transaction of their own: that spares two round trips per request.
            conn.autocommit = not write
        try:
            result = fn(Tx(conn, self.dialect), *args)
        except BaseException:
            try:
                conn.rollback() if self.dialect == "postgresql" else conn.execute("ROLLBACK")
            except Exception:  # the connection may be gone; the next call opens a new one
                self._local.conn = None
            raise
        if self.dialect == "sqlite":
            conn.execute("COMMIT")
        else:
            conn.commit()
        return result

    def run_sync(self, fn, *args, write=True):
        return self._run(fn, args, write)

    async def read(self, fn, *args):
        return await asyncio.get_running_loop().run_in_executor(self._pool, self._run, fn, args, False)

    async def write(self, fn, *args):
        return await asyncio.get_running_loop().run_in_executor(self._pool, self._run, fn, args, True)

    def _columns(self, tx, table):
        if self.dialect == "sqlite":
            return {r["name"] for r in tx.all("PRAGMA table_info(%s)" % table)}
        return {r["column_name"] for r in tx.all(
            "SELECT column_name FROM information_schema.columns WHERE table_name = ?", (table,))}

    def create_schema(self):
        def apply(tx):
            for statement in schema.statements(self.dialect):
                tx.execute(statement)
            for table, column, definition in schema.COLUMNS_ADDED:
                if column not in self._columns(tx, table):
                    tx.execute("ALTER TABLE %s ADD COLUMN %s %s" % (table, column, definition))

        if self.dialect == "postgresql":
            # Two servers starting at once must not both create the tables.
            def locked(tx):
                tx.execute("SELECT pg_advisory_xact_lock(7346150)")
                apply(tx)

            self.run_sync(locked)
        else:
            self.run_sync(apply)

    def close(self):
        self._pool.shutdown(wait=True)
        with self._lock:
            for conn in self._connections:
                try:
                    conn.close()
                except Exception:
                    pass
            self._connections.clear()


def default_url(data_dir):
    return "sqlite:///" + os.path.abspath(os.path.join(data_dir, "velora.db"))
