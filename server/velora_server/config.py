"""Deployment settings: a settings file (INI) with environment variables taking precedence.

    [server]
    public_url = https://review.example.com   ; address put into streaming links (default: from the request)
    link_lifetime = 86400                     ; seconds a streaming link stays valid
    max_upload = 0                            ; largest upload in bytes, 0 for no limit

    [storage]
    bucket = velo_bucket                      ; bucket name accepted by the storage PUT endpoint
    access_key = ...                          ; storage credentials; without them the PUT endpoint is off
    secret_key = ...

Environment: VELORA_PUBLIC_URL, VELORA_LINK_LIFETIME, VELORA_MAX_UPLOAD, VELORA_S3_BUCKET,
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
