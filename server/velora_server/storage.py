"""Storage-compatible object PUT (signature version 2) and the signed media and thumbnail links.

PUT http://<bucket>.<host>/<key> (virtual-host style) or PUT http://<host>/<bucket>/<key> (path
style), signed "AWS <access key>:<Base64 HMAC-SHA1 of the string to sign>" with the credentials of
the deployment's settings. The body is streamed to disk; the object waits under its key until a
"/files/upload" with "source" = key registers it as a file.
"""

import asyncio
import base64
import email.utils
import hashlib
import hmac
import logging
import os
import re
import tempfile
import time
import urllib.parse
from xml.sax.saxutils import escape

from aiohttp import web

log = logging.getLogger("velora.storage")

CLOCK_SKEW = 15 * 60
CHUNK = 1024 * 1024


def xml_error(status, code, message):
    body = ('<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>%s</Code><Message>%s</Message></Error>'
            % (escape(code), escape(message)))
    return web.Response(status=status, text=body, content_type="application/xml")


def string_to_sign(method, headers, resource):
    amz = {}
    for name, value in headers.items():
        lower = name.lower()
        if lower.startswith("x-amz-"):
            amz.setdefault(lower, []).append(" ".join(value.strip().split()))
    date = "" if "x-amz-date" in amz else headers.get("Date", "")
    lines = [method, headers.get("Content-MD5", ""), headers.get("Content-Type", ""), date]
    text = "\n".join(lines) + "\n"
    for name in sorted(amz):
        text += "%s:%s\n" % (name, ",".join(amz[name]))
    return text + resource


def sign(secret, text):
    return base64.b64encode(hmac.new(secret.encode("utf-8"), text.encode("utf-8"), hashlib.sha1).digest()).decode()


def _bucket_and_key(request, bucket):
    host = request.host.split(":")[0]
    path = request.raw_path.split("?")[0]
    if host.lower().startswith(bucket.lower() + "."):
        return bucket, path.lstrip("/"), path
    first, _, rest = path.lstrip("/").partition("/")
    return urllib.parse.unquote(first), rest, "/" + rest


def _signed_date(request):
    text = request.headers.get("x-amz-date") or request.headers.get("Date")
    if not text:
        return None
    try:
        return email.utils.parsedate_to_datetime(text).timestamp()
    except (TypeError, ValueError):
        return None


async def put_object(request):
    service = request.app["service"]
    settings = service.settings
    if not settings.storage_enabled:
        return xml_error(403, "AccessDenied", "Storage uploads are not configured on this server")
    if request.headers.get("Content-Encoding", "identity").strip().lower() not in ("", "identity"):
        return xml_error(415, "NotImplemented", "Compressed request bodies are not accepted")
    bucket, raw_key, raw_key_path = _bucket_and_key(request, settings.bucket)
    key = urllib.parse.unquote(raw_key)
    if bucket != settings.bucket:
        return xml_error(404, "NoSuchBucket", "The bucket %s does not exist" % bucket)
    if len(key) > 1024:
        return xml_error(400, "KeyTooLongError", "The object key is longer than 1024 characters")
    if not key or key.endswith("/") or ".." in key.split("/"):
        return xml_error(400, "InvalidArgument", "The object key is not valid")
    authorization = request.headers.get("Authorization", "")
    scheme, _, credential = authorization.partition(" ")
    access_key, _, signature = credential.partition(":")
    if scheme != "AWS" or not signature:
        return xml_error(403, "AccessDenied", "The request is not signed")
    if not hmac.compare_digest(access_key, settings.access_key):
        return xml_error(403, "InvalidAccessKeyId", "The access key id is not known")
    signed_at = _signed_date(request)
    if signed_at is None or abs(time.time() - signed_at) > CLOCK_SKEW:
        return xml_error(403, "RequestTimeTooSkewed", "The request's date is missing or too far from the server's time")
    # The resource is signed as sent; keys of letters, digits and "/._-" read the same either way.
    candidates = {"/%s/%s" % (bucket, key), "/%s/%s" % (bucket, raw_key)}
    if not any(hmac.compare_digest(sign(settings.secret_key, string_to_sign("PUT", request.headers, r)), signature)
               for r in candidates):
        return xml_error(403, "SignatureDoesNotMatch", "The request signature does not match")

    loop = asyncio.get_running_loop()
    fd, tmp = tempfile.mkstemp(prefix="object-", dir=service.tmp_dir)
    md5, size, limit = hashlib.md5(), 0, settings.max_upload
    try:
        with os.fdopen(fd, "wb", buffering=0) as out:
            async for chunk in request.content.iter_chunked(CHUNK):
                size += len(chunk)
                if limit and size > limit:
                    return xml_error(400, "EntityTooLarge", "The object is larger than this server accepts")
                md5.update(chunk)
                await loop.run_in_executor(None, out.write, chunk)
            await loop.run_in_executor(None, os.fsync, out.fileno())
        if request.content_length is not None and size != request.content_length:
            return xml_error(400, "IncompleteBody", "The body is shorter than its Content-Length")
        expected = request.headers.get("Content-MD5")
        if expected and base64.b64encode(md5.digest()).decode() != expected.strip():
            return xml_error(400, "BadDigest", "The Content-MD5 does not match the body")
        stored = os.path.join("objects", hashlib.sha256(key.encode("utf-8")).hexdigest())
        os.replace(tmp, service.stored_path(stored))
        mime = request.headers.get("Content-Type", "application/octet-stream")
        etag = md5.hexdigest()

        def record(tx):
            tx.execute("INSERT INTO objects (key, stored, size, etag, mime, created) VALUES (?, ?, ?, ?, ?, ?) "
                       "ON CONFLICT (key) DO UPDATE SET stored = excluded.stored, size = excluded.size, "
                       "etag = excluded.etag, mime = excluded.mime, created = excluded.created",
                       (key, stored, size, etag, mime, int(time.time())))

        await service.db.write(record)
        return web.Response(status=200, headers={"ETag": '"%s"' % etag})
    except ConnectionError as e:
        log.info("storage PUT of %s cut off: %s", key, e)
        return xml_error(400, "IncompleteBody", "The body was cut off")
    finally:
        if os.path.exists(tmp):
            os.unlink(tmp)


OBJECT_LIFETIME = 7 * 86400


def expire_objects(service, lifetime=OBJECT_LIFETIME):
    """Removes stored objects never registered as files (their upload stopped half way); at start-up."""

    def take(tx):
        rows = tx.all("SELECT key, stored FROM objects WHERE created < ?", (int(time.time()) - lifetime,))
        tx.execute("DELETE FROM objects WHERE created < ?", (int(time.time()) - lifetime,))
        return rows

    for row in service.db.run_sync(take):
        try:
            os.unlink(service.stored_path(row["stored"]))
        except OSError:
            pass


_MIME = re.compile(r"^[a-z0-9][a-z0-9.+-]*/[a-z0-9][a-z0-9.+-]*$")


def served_type(mime):
    """The type stored media is served with: the uploader's own when it is one of movie, sound or
    (not scriptable) image, else application/octet-stream, so that nothing uploaded is ever taken
    for a page of this server's origin."""
    mime = (mime or "").split(";")[0].strip().lower()
    top = mime.partition("/")[0]
    if _MIME.match(mime) and (top in ("video", "audio") or (top == "image" and "xml" not in mime
                                                             and "svg" not in mime)):
        return mime
    return "application/octet-stream"


async def _served_file(request, kind, column):
    service = request.app["service"]
    try:
        item_id = int(request.match_info["id"])
    except ValueError:
        raise web.HTTPNotFound()
    token = request.match_info["token"]
    if not service.check_token(kind, item_id, token):
        return web.Response(status=403, text="This link has expired or is not valid\n")
    row = await service.db.read(lambda tx: tx.one(
        "SELECT %s AS path, mime FROM files WHERE id = ? AND removed = 0" % column, (item_id,)))
    if row is None or not row["path"]:
        raise web.HTTPNotFound()
    path = service.stored_path(row["path"])
    if not os.path.exists(path):
        raise web.HTTPNotFound()
    ctype = "image/jpeg" if kind == "thumb" else served_type(row["mime"])
    return web.FileResponse(path, headers={"Content-Type": ctype, "Accept-Ranges": "bytes",
                                           "Cache-Control": "private, max-age=3600",
                                           "X-Content-Type-Options": "nosniff",
                                           "Content-Security-Policy": "default-src 'none'; sandbox"})


async def media(request):
    return await _served_file(request, "media", "stored")


async def thumb(request):
    return await _served_file(request, "thumb", "thumb")


def routes(app):
    app.router.add_get("/media/{id}/{token}/{name:.*}", media)
    app.router.add_get("/thumbs/{id}/{token}.jpg", thumb)
    app.router.add_put("/{path:.*}", put_object)
