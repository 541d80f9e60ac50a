"""The HTTP API under "/api/0": form POSTs in, JSON out.

An operation is a plain function `fn(tx, call)` registered with `@operation(path)`. It runs on a
database worker inside one transaction, after the login of the request has been checked in the
same transaction, and answers a dictionary or a list. Failures are `ApiError`s, sent as
{"error": message} with their status code.
"""

import asyncio
import json
import logging
import re

from aiohttp import web

from . import auth, forms

log = logging.getLogger("velora.api")

OPERATIONS = {}


class ApiError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


class Operation:
    def __init__(self, path, fn, write, admin, prepare):
        self.path, self.fn, self.write, self.admin, self.prepare = path, fn, write, admin, prepare


def operation(path, write=False, admin=False, prepare=None):
    """Registers `fn` for "/api/0" + path; `write` operations take SQLite's write lock at once.
    `prepare(call)` runs first on the hashing threads, outside any transaction (new passwords)."""

    def register(fn):
        OPERATIONS[path.strip("/")] = Operation(path, fn, write, admin, prepare)
        return fn

    return register


_INT = re.compile(r"^-?\d+$")


class Call:
    """One request: its parameters, the signed-in user, uploaded parts and the service."""

    def __init__(self, service, request, params, parts=None):
        self.service = service
        self.request = request
        self.params = params
        self.parts = parts or []
        self.user = None
        self._after = []

    def after_commit(self, fn):
        """Runs `fn` once the operation's transaction has been committed (file removal)."""
        self._after.append(fn)

    def run_after_commit(self):
        for fn in self._after:
            try:
                fn()
            except Exception:
                log.exception("clean-up after a commit failed")

    def has(self, key):
        return key in self.params

    def text(self, key, default=None, required=False):
        value = self.params.get(key)
        if value is None:
            if required:
                raise ApiError(400, 'Missing parameter "%s"' % key)
            return default
        if "\x00" in value:
            raise ApiError(400, 'Parameter "%s" cannot hold a NUL character' % key)
        return value

    def integer(self, key, default=None, required=False):
        raw = self.text(key, None, required)
        if raw is None or (raw.strip() == "" and not required):
            return default
        raw = raw.strip()
        if not _INT.match(raw) or not -2**63 <= int(raw) < 2**63:
            raise ApiError(400, 'Parameter "%s" must be a whole number' % key)
        return int(raw)

    def number(self, key, default=None, required=False):
        raw = self.text(key, None, required)
        if raw is None or raw.strip() == "":
            if required:
                raise ApiError(400, 'Missing parameter "%s"' % key)
            return default
        try:
            value = float(raw)
        except ValueError:
            raise ApiError(400, 'Parameter "%s" must be a number' % key)
        if value != value or value in (float("inf"), float("-inf")):
            raise ApiError(400, 'Parameter "%s" must be a number' % key)
        return value

    def flag(self, key):
        raw = (self.params.get(key) or "").strip().lower()
        return raw in ("1", "true", "yes")

    def part(self, name):
        for p in self.parts:
            if p.name == name:
                return p
        return None

    def base_url(self):
        return self.service.base_url(self.request)


def json_reply(value, status=200):
    body = json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    return web.Response(body=body, status=status, content_type="application/json", charset="utf-8")


def error_reply(status, message):
    return json_reply({"error": message}, status)


def _run(tx, op, call):
    # The login was checked before the transaction; the account must still be as it was then.
    user = tx.one("SELECT * FROM users WHERE id = ?", (call.user["id"],))
    if user is None or user["pw_hash"] != call.user["pw_hash"]:
        raise ApiError(401, "Invalid username or password")
    call.user = user
    if op.admin and not call.user["is_admin"]:
        raise ApiError(403, "This operation needs an administrator account")
    return op.fn(tx, call)


async def dispatch(request):
    service = request.app["service"]
    name = request.match_info["op"].strip("/")
    op = OPERATIONS.get(name)
    if op is None:
        return error_reply(404, "Unknown operation /%s" % name)
    parts = []
    try:
        forms.check_encoding(request)
        params, parts, user = await forms.read(request, service)
        call = Call(service, request, params, parts)
        # The password check is slow on purpose: it runs before, and outside, the transaction.
        call.user = user or await service.sign_in(params.get("username"), params.get("password"), request.remote)
        if call.user is None:
            raise ApiError(401, "Invalid username or password")
        if op.prepare is not None and (not op.admin or call.user["is_admin"]):
            await asyncio.get_running_loop().run_in_executor(service.hashing, op.prepare, call)
        db = service.db
        result = await (db.write(_run, op, call) if op.write else db.read(_run, op, call))
        call.run_after_commit()
        return json_reply(result)
    except ApiError as e:
        return error_reply(e.status, e.message)
    except auth.Throttled as e:
        reply = error_reply(429, str(e))
        reply.headers["Retry-After"] = str(e.seconds)
        return reply
    except forms.FormError as e:
        return error_reply(e.status, e.message)
    except ConnectionError as e:
        log.info("/%s: the client went away (%s)", name, e)
        return error_reply(400, "The request was cut off")
    except Exception:
        log.exception("operation /%s failed", name)
        return error_reply(500, "Internal server error")
    finally:
        for p in parts:
            p.discard()


async def not_post(request):
    return error_reply(405, "Operations are sent as POST requests")


@web.middleware
async def json_errors(request, handler):
    """Failures raised by the web layer itself (a body it cannot read, say) also answer in JSON."""
    try:
        return await handler(request)
    except web.HTTPException as e:
        if "/api/0/" in request.path and e.status >= 400:
            return error_reply(e.status, e.reason)
        raise


def routes(app):
    app.router.add_post("/api/0/{op:.+}", dispatch)
    app.router.add_route("*", "/api/0/{op:.*}", not_post)
    # A server placed under a path of a shared site (https://host/velora/api/0/...).
    app.router.add_post("/{prefix:.+}/api/0/{op:.+}", dispatch)
