"""Reading a form POST: urlencoded (also with no Content-Type at all) or multipart.

File parts of a multipart body are streamed to a temporary file in chunks, never held whole in
memory, and only after the request's login has been checked: a client that sends its file part
before "username" and "password" is refused before a byte of the file is stored.
"""

import asyncio
import os
import tempfile
import urllib.parse

from aiohttp.http_exceptions import HttpProcessingError


FORM_LIMIT = 64 * 1024 * 1024  # an urlencoded body; annotations can be large
TEXT_PART_LIMIT = 1024 * 1024  # one text part of a multipart body (the fields of an upload)
MAX_PARTS = 64                 # parts of one multipart body
MAX_FIELDS = 10000             # fields of one urlencoded body
PARSE_ON_LOOP = 64 * 1024      # larger forms are taken apart on a worker thread
CHUNK = 1024 * 1024


class FormError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


class UploadedPart:
    """A file part stored in the service's temporary folder until an operation keeps it."""

    def __init__(self, name, filename, content_type, path):
        self.name = name
        self.filename = filename
        self.content_type = content_type
        self.path = path
        self.size = 0

    def discard(self):
        if self.path and os.path.exists(self.path):
            try:
                os.unlink(self.path)
            except OSError:
                pass


def _decode(raw, what):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        raise FormError(400, "%s is not valid UTF-8 text" % what)


def parse_urlencoded(text):
    params = {}
    for key, value in urllib.parse.parse_qsl(text, keep_blank_values=True, encoding="utf-8",
                                             errors="strict", max_num_fields=MAX_FIELDS):
        params[key] = value
    return params


async def _read_limited(stream_read, limit, what):
    chunks, total = [], 0
    while True:
        chunk = await stream_read()
        if not chunk:
            break
        total += len(chunk)
        if total > limit:
            raise FormError(413, "%s is too large" % what)
        chunks.append(chunk)
    return b"".join(chunks)


async def read(request, service):
    """Answers (params, uploaded parts, user or None). The user is known only after a file part."""
    ctype = request.content_type or ""
    if ctype.startswith("multipart/"):
        return await _read_multipart(request, service)
    if request.content_length is not None and request.content_length > FORM_LIMIT:
        raise FormError(413, "The request is too large")
    raw = await _read_limited(lambda: request.content.read(CHUNK), FORM_LIMIT, "The request")
    if raw.count(b"&") >= MAX_FIELDS:
        raise FormError(413, "The request has more than %d fields" % MAX_FIELDS)

    def parse():
        return parse_urlencoded(_decode(raw, "The request"))

    try:
        if len(raw) > PARSE_ON_LOOP:
            params = await asyncio.get_running_loop().run_in_executor(None, parse)
        else:
            params = parse()
    except ValueError as e:
        raise FormError(400, "The request's form cannot be read: %s" % e)
    return params, [], None


def check_encoding(request):
    """Request bodies are taken as sent: a compressed one (a few kilobytes that would expand to
    gigabytes) is refused before a byte of it is read."""
    encoding = request.headers.get("Content-Encoding", "identity").strip().lower()
    if encoding not in ("", "identity"):
        raise FormError(415, "Compressed request bodies (Content-Encoding: %s) are not accepted" % encoding[:40])


async def _read_multipart(request, service):
    limit = service.settings.max_upload
    if limit and request.content_length is not None and request.content_length > limit + FORM_LIMIT:
        raise FormError(413, "The request is too large")
    try:
        reader = await request.multipart()
    except (ValueError, AssertionError) as e:
        raise FormError(400, "The multipart body cannot be read: %s" % e)
    params, parts, user, count = {}, [], None, 0
    try:
        while True:
            part = await reader.next()
            if part is None:
                break
            count += 1
            if count > MAX_PARTS:
                raise FormError(413, "A multipart body can have at most %d parts" % MAX_PARTS)
            if not hasattr(part, "read_chunk"):
                raise FormError(400, "Nested multipart bodies are not accepted")
            if part.headers.get("Content-Encoding", "identity").strip().lower() not in ("", "identity"):
                raise FormError(415, "Compressed parts are not accepted")
            if part.filename is None:
                raw = await _read_limited(lambda: part.read_chunk(64 * 1024), TEXT_PART_LIMIT,
                                          'The field "%s"' % (part.name or "")[:100])
                params[part.name or ""] = _decode(raw, 'The field "%s"' % (part.name or ""))
                continue
            if user is None:
                user = await service.sign_in(params.get("username"), params.get("password"), request.remote)
                if user is None:
                    raise FormError(401, "Invalid username or password")
            stored = UploadedPart(part.name or "", part.filename,
                                  part.headers.get("Content-Type", "application/octet-stream"), None)
            parts.append(stored)
            await _store_part(part, stored, service)
    except FormError:
        for p in parts:
            p.discard()
        raise
    except (ValueError, AssertionError, asyncio.IncompleteReadError, HttpProcessingError) as e:
        for p in parts:
            p.discard()
        raise FormError(400, "The multipart body cannot be read: %s" % e)
    except BaseException:
        for p in parts:
            p.discard()
        raise
    return params, parts, user


async def _store_part(part, stored, service):
    fd, stored.path = tempfile.mkstemp(prefix="part-", dir=service.tmp_dir)
    loop = asyncio.get_running_loop()
    limit = service.settings.max_upload
    with os.fdopen(fd, "wb", buffering=0) as out:
        while True:
            chunk = await part.read_chunk(CHUNK)
            if not chunk:
                break
            stored.size += len(chunk)
            if limit and stored.size > limit:
                raise FormError(413, "The file is larger than this server accepts (%d bytes)" % limit)
            await loop.run_in_executor(None, out.write, chunk)
        # On disk before any record names the file.
        await loop.run_in_executor(None, os.fsync, out.fileno())
