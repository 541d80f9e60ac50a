"""What every request handler shares: storage, settings, folders, logins and signed links."""

import asyncio
import concurrent.futures
import fcntl
import hashlib
import hmac
import os
import secrets
import shutil
import socket
import time
import urllib.parse

from . import auth


LOCK_NAME = "velora.lock"
TMP_LOCK = ".lock"


class FolderInUse(Exception):
    pass


def _lock_is_free(path):
    try:
        fd = os.open(path, os.O_RDWR | os.O_CLOEXEC)
    except OSError:
        return False
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        return False
    finally:
        os.close(fd)  # also lets go of the lock just taken


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


class Service:
    def __init__(self, data_dir, db, settings):
        self.data_dir = os.path.abspath(data_dir)
        self.db = db
        self.settings = settings
        self.logins = auth.LoginCache()
        self.throttle = auth.Throttle(settings.login_free_attempts, settings.login_backoff,
                                      settings.login_backoff_max)
        # Password stretching runs here: off the event loop, and holding no database connection.
        self.hashing = concurrent.futures.ThreadPoolExecutor(max_workers=2, thread_name_prefix="hash")
        self.open_files = 1024
        self.files_dir = os.path.join(self.data_dir, "files")
        self.thumbs_dir = os.path.join(self.data_dir, "thumbs")
        self.objects_dir = os.path.join(self.data_dir, "objects")
        self.tmp_root = os.path.join(self.data_dir, "tmp")
        # Several servers may share one data folder: each keeps its parts in its own folder.
        self.tmp_dir = os.path.join(self.tmp_root, "%s-%d" % (socket.gethostname(), os.getpid()))
        self.secret = b""
        self._locks = []
        self.hub = None
        self.prober = None

    def lock_folder(self, shared=False):
        """Holds DIR/velora.lock for the server's life. With SQLite the folder is this server's
        alone: a second server on it refuses to start. Servers sharing a PostgreSQL database may
        share the folder and hold the lock together."""
        path = os.path.join(self.data_dir, LOCK_NAME)
        fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
        try:
            fcntl.flock(fd, (fcntl.LOCK_SH if shared else fcntl.LOCK_EX) | fcntl.LOCK_NB)
        except BlockingIOError:
            holder = os.pread(fd, 200, 0).decode("utf-8", "replace").strip()
            os.close(fd)
            raise FolderInUse("the data folder %s is in use by another velora-server%s" % (
                self.data_dir, " (%s)" % holder if holder else ""))
        if not shared:
            os.ftruncate(fd, 0)
            os.pwrite(fd, ("pid %d on %s\n" % (os.getpid(), socket.gethostname())).encode(), 0)
        self._locks.append(fd)

    def prepare_folders(self):
        for d in (self.data_dir, self.files_dir, self.thumbs_dir, self.objects_dir, self.tmp_root):
            os.makedirs(d, mode=0o700, exist_ok=True)
        # The folder holds the link secret, tokens and password hashes: the owner's alone, also
        # when an earlier version made it readable by everyone.
        for d in (self.data_dir, self.files_dir, self.thumbs_dir, self.objects_dir, self.tmp_root):
            os.chmod(d, 0o700)
        for name in os.listdir(self.data_dir):
            path = os.path.join(self.data_dir, name)
            if os.path.isfile(path) and (name.startswith("velora.db") or name in ("settings.ini", LOCK_NAME)):
                os.chmod(path, 0o600)
        # Parts of uploads cut off by an earlier stop are of no use to anyone. A running server
        # holds the lock of its own folder; one whose lock is free has stopped. Folders of older
        # versions (no lock): those of stopped servers of this host, and anything a day old.
        host = socket.gethostname() + "-"
        for name in os.listdir(self.tmp_root):
            path = os.path.join(self.tmp_root, name)
            lock = os.path.join(path, TMP_LOCK)
            if os.path.exists(lock):
                stale = _lock_is_free(lock)
            else:
                pid = name[len(host):]
                stale = name.startswith(host) and pid.isdigit() and not _alive(int(pid))
                try:
                    stale = stale or time.time() - os.path.getmtime(path) > 86400
                except OSError:
                    continue
            if stale:
                shutil.rmtree(path, ignore_errors=True)
        os.makedirs(self.tmp_dir, mode=0o700, exist_ok=True)
        fd = os.open(os.path.join(self.tmp_dir, TMP_LOCK), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
        fcntl.flock(fd, fcntl.LOCK_EX)
        self._locks.append(fd)

    async def sign_in(self, email, digest, address):
        """The user row of a valid login, or None; raises auth.Throttled while the login backs off."""
        login = auth.normalize(email, digest)
        if login is None:
            email = (email or "").strip().lower()
            if email and len(email) <= 320:
                self.throttle.failed(email, address)
            return None
        email, digest = login
        row = await self.db.read(lambda tx: tx.one("SELECT * FROM users WHERE email = ?", (email,)))
        hit = self.logins.get(email, digest)
        if row is not None and hit is not None and hit == (row["id"], row["pw_hash"]):
            return row
        wait = self.throttle.wait(email, address)
        if wait > 0:
            raise auth.Throttled(wait)
        # Counted before the check, so that guesses sent together all count.
        self.throttle.failed(email, address)
        if not await asyncio.get_running_loop().run_in_executor(self.hashing, auth.check, row, digest):
            return None
        self.throttle.succeeded(email, address)
        self.logins.put(email, digest, row["id"], row["pw_hash"])
        return row

    def load_secret(self):
        """The key that signs streaming links; kept in the database so every server shares it."""

        def fetch(tx):
            value = tx.value("SELECT value FROM settings WHERE key = 'link_secret'")
            if value is None:
                value = secrets.token_hex(32)
                tx.execute("INSERT INTO settings (key, value) VALUES ('link_secret', ?) "
                           "ON CONFLICT (key) DO NOTHING", (value,))
                value = tx.value("SELECT value FROM settings WHERE key = 'link_secret'")
            return value

        self.secret = bytes.fromhex(self.db.run_sync(fetch))

    # Addresses

    def base_url(self, request):
        if self.settings.public_url:
            return self.settings.public_url
        scheme = request.headers.get("X-Forwarded-Proto", request.scheme)
        host = request.headers.get("X-Forwarded-Host", request.host)
        return "%s://%s" % (scheme, host)

    def _signature(self, kind, item_id, expires):
        message = ("%s:%d:%d" % (kind, item_id, expires)).encode("ascii")
        return hmac.new(self.secret, message, hashlib.sha256).hexdigest()[:32]

    def signed_token(self, kind, item_id):
        expires = int(time.time()) + max(60, self.settings.link_lifetime)
        return "%d-%s" % (expires, self._signature(kind, item_id, expires))

    def check_token(self, kind, item_id, token):
        expires, _, sig = token.partition("-")
        if not expires.isdigit() or int(expires) < time.time():
            return False
        return hmac.compare_digest(sig, self._signature(kind, item_id, int(expires)))

    def media_url(self, base, file_row):
        name = file_row["filename"] or "file"
        return "%s/media/%d/%s/%s" % (base, file_row["id"], self.signed_token("media", file_row["id"]),
                                      urllib.parse.quote(name))

    def thumb_url(self, base, file_row):
        return "%s/thumbs/%d/%s.jpg" % (base, file_row["id"], self.signed_token("thumb", file_row["id"]))

    # Stored files

    def stored_path(self, relative):
        return os.path.join(self.data_dir, relative)

    def file_folder(self, file_id):
        return os.path.join("files", "%02x" % (file_id % 256), str(file_id))
