"""What every request handler shares: storage, settings, folders, logins and signed links."""

import hashlib
import hmac
import os
import secrets
import shutil
import socket
import time
import urllib.parse

from . import auth


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
        self.files_dir = os.path.join(self.data_dir, "files")
        self.thumbs_dir = os.path.join(self.data_dir, "thumbs")
        self.objects_dir = os.path.join(self.data_dir, "objects")
        self.tmp_root = os.path.join(self.data_dir, "tmp")
        # Several servers may share one data folder: each keeps its parts in its own folder.
        self.tmp_dir = os.path.join(self.tmp_root, "%s-%d" % (socket.gethostname(), os.getpid()))
        self.secret = b""
        self.hub = None
        self.prober = None

    def prepare_folders(self):
        for d in (self.data_dir, self.files_dir, self.thumbs_dir, self.objects_dir, self.tmp_root):
            os.makedirs(d, exist_ok=True)
        # Parts of uploads cut off by an earlier stop are of no use to anyone: those of stopped
        # servers of this host, and anything a day old.
        host = socket.gethostname() + "-"
        for name in os.listdir(self.tmp_root):
            path = os.path.join(self.tmp_root, name)
            pid = name[len(host):]
            stale = name.startswith(host) and pid.isdigit() and not _alive(int(pid))
            try:
                stale = stale or time.time() - os.path.getmtime(path) > 86400
            except OSError:
                continue
            if stale:
                shutil.rmtree(path, ignore_errors=True)
        os.makedirs(self.tmp_dir, exist_ok=True)

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
