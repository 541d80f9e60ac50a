"""Fixtures: a velora-server on SQLite and one on a PostgreSQL cluster started here."""

import os
import pwd
import shutil
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402

PG_BIN = "/usr/lib/postgresql/15/bin"


class Postgres:
    """A throw-away cluster on a private socket folder; as root it runs as "nobody"."""

    def __init__(self):
        # As root the cluster runs as "nobody", who must reach the folder: keep it out of a private TMPDIR.
        self.root = tempfile.mkdtemp(prefix="velora-pg-", dir="/tmp" if os.geteuid() == 0 else None)
        self.data = os.path.join(self.root, "data")
        self.sock = os.path.join(self.root, "sock")
        os.mkdir(self.sock)
        self.prefix = []
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            for d in (self.root, self.sock):
                os.chown(d, nobody.pw_uid, nobody.pw_gid)
            self.prefix = ["runuser", "-u", "nobody", "--"]

    def _run(self, *args):
        return subprocess.run(self.prefix + list(args), capture_output=True, text=True, cwd="/", timeout=120)

    def start(self):
        r = self._run(os.path.join(PG_BIN, "initdb"), "-D", self.data, "-A", "trust", "-U", "velora",
                      "-E", "UTF8", "--no-sync")
        if r.returncode:
            raise RuntimeError("initdb failed: " + r.stderr)
        r = self._run(os.path.join(PG_BIN, "pg_ctl"), "-D", self.data, "-w", "-l", os.path.join(self.root, "log"),
                      "-o", "-k %s -c listen_addresses= -c fsync=off" % self.sock, "start")
        if r.returncode:
            raise RuntimeError("pg_ctl start failed: " + r.stderr + r.stdout)
        self.databases = 0
        return self

    def new_database(self):
        self.databases += 1
        name = "velora%d" % self.databases
        r = self._run(os.path.join(PG_BIN, "createdb"), "-h", self.sock, "-U", "velora", name)
        if r.returncode:
            raise RuntimeError("createdb failed: " + r.stderr)
        return "postgresql:///%s?host=%s&user=velora" % (name, self.sock)

    def stop(self):
        self._run(os.path.join(PG_BIN, "pg_ctl"), "-D", self.data, "-m", "immediate", "stop")
        shutil.rmtree(self.root, ignore_errors=True)


@pytest.fixture(scope="session")
def postgres():
    if not os.path.exists(os.path.join(PG_BIN, "initdb")):
        pytest.skip("PostgreSQL 15 server binaries are not installed (Debian package postgresql)")
    try:
        import psycopg2  # noqa: F401
    except ImportError:
        pytest.skip("python3-psycopg2 is not installed")
    cluster = Postgres().start()
    yield cluster
    cluster.stop()


@pytest.fixture(scope="module", params=["sqlite", "postgresql"])
def server(request):
    database = None
    if request.param == "postgresql":
        database = request.getfixturevalue("postgres").new_database()
    s = harness.Server(database=database).start()
    yield s
    s.cleanup()


@pytest.fixture(scope="module")
def sqlite_server():
    """For behaviour that does not depend on where the records are kept."""
    s = harness.Server().start()
    yield s
    s.cleanup()
