"""Deployment settings: a settings file (INI) with environment variables taking precedence.

    [server]
    public_url = https://review.example.com   ; address put into streaming links (default: from the request)
    link_lifetime = 86400                     ; seconds a streaming link stays valid
    max_upload = 0                            ; largest upload in bytes, 0 for no limit

    [limits]                                  ; what one client may hold of the server
    header_timeout = 15                       ; seconds to send a request's headers
    body_timeout = 60                         ; seconds a request body may stall
    idle_timeout = 60                         ; seconds an idle connection stays open
    max_connections = 0                       ; open connections in all (0: from the open-file limit)
    max_connections_per_address = 512
    login_free_attempts = 5                   ; failed logins before the back-off starts
    login_backoff = 1                         ; first back-off in seconds, doubled per failure
    login_backoff_max = 300
    socket_queue = 1048576                    ; bytes queued for one slow WebSocket before it is dropped
    log_repeat_interval = 60                  ; an error that repeats is logged once per interval

    [storage]
    bucket = velo_bucket                      ; bucket name accepted by the storage PUT endpoint
    access_key = ...                          ; storage credentials; without them the PUT endpoint is off
    secret_key = ...

Environment: VELORA_PUBLIC_URL, VELORA_LINK_LIFETIME, VELORA_MAX_UPLOAD, VELORA_<LIMIT> for each
limit (VELORA_HEADER_TIMEOUT, ...), VELORA_S3_BUCKET,
VELORA_S3_ACCESS_KEY, VELORA_S3_SECRET_KEY; also VELORA_ADMIN_EMAIL and VELORA_ADMIN_PASSWORD (the
first administrator) and VELORA_PASSWORD_ITERATIONS (PBKDF2 rounds for new passwords, default 120000).
"""

import configparser
import os
from dataclasses import dataclass

_KEYS = [
    # field, section, option, environment, type
    ("public_url", "server", "public_url", "VELORA_PUBLIC_URL", str),
    ("link_lifetime", "server", "link_lifetime", "VELORA_LINK_LIFETIME", int),
    ("max_upload", "server", "max_upload", "VELORA_MAX_UPLOAD", int),
    ("bucket", "storage", "bucket", "VELORA_S3_BUCKET", str),
] + [(name, "limits", name, "VELORA_" + name.upper(), kind) for name, kind in [
    ("header_timeout", float), ("body_timeout", float), ("idle_timeout", float), ("max_connections", int),
    ("max_connections_per_address", int), ("login_free_attempts", int), ("login_backoff", float),
    ("login_backoff_max", float), ("socket_queue", int), ("log_repeat_interval", float)]] + [
    ("access_key", "storage", "access_key", "VELORA_S3_ACCESS_KEY", str),
    ("secret_key", "storage", "secret_key", "VELORA_S3_SECRET_KEY", str),
]


@dataclass
class Settings:
    public_url: str = ""
    link_lifetime: int = 86400
    max_upload: int = 0
    bucket: str = "velo_bucket"
    access_key: str = ""
    secret_key: str = ""
    header_timeout: float = 15.0
    body_timeout: float = 60.0
    idle_timeout: float = 60.0
    max_connections: int = 0
    max_connections_per_address: int = 512
    login_free_attempts: int = 5
    login_backoff: float = 1.0
    login_backoff_max: float = 300.0
    socket_queue: int = 1024 * 1024
    log_repeat_interval: float = 60.0

    @property
    def storage_enabled(self):
        return bool(self.access_key and self.secret_key)


class SettingsError(Exception):
    pass


def load(path, environ=None):
    """Reads the settings file (when it exists) and then the environment."""
    environ = os.environ if environ is None else environ
    settings = Settings()
    parser = configparser.ConfigParser(inline_comment_prefixes=(";", "#"))
    if path and os.path.exists(path):
        try:
            parser.read(path, encoding="utf-8")
        except configparser.Error as e:
            raise SettingsError("cannot read %s: %s" % (path, e))
    for field, section, option, env, kind in _KEYS:
        raw = environ.get(env)
        if raw is None and parser.has_option(section, option):
            raw = parser.get(section, option)
        if raw is None or raw == "":
            continue
        try:
            setattr(settings, field, kind(raw.strip()))
        except ValueError:
            raise SettingsError("%s: %r is not a valid %s" % (env, raw, kind.__name__))
    settings.public_url = settings.public_url.rstrip("/")
    return settings
