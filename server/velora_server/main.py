"""Command line and start-up of velora-server."""

import argparse
import asyncio
import logging
import os
import signal
import ssl
import sys

from aiohttp import web

from . import VERSION, api, auth, config, guard, probe, relay, storage
from . import ops_admin, ops_catalogue, ops_files, ops_review, ops_sessions, uploads  # noqa: F401 (registers)
from .db import Database, DatabaseError, default_url
from .service import FolderInUse, Service

log = logging.getLogger("velora")

DEFAULT_ADMIN = "admin@velora.local"


def parse_args(argv):
    p = argparse.ArgumentParser(prog="velora-server", description="Self-hostable Velora review server.")
    p.add_argument("--data", required=True, metavar="DIR",
                   help="folder for the database (SQLite), uploaded files, thumbnails and settings.ini")
    p.add_argument("--port", type=int, default=8080, metavar="N", help="HTTP port of the API (default 8080; 0 picks a free one)")
    p.add_argument("--ws-port", type=int, default=8000, metavar="N",
                   help="WebSocket port (default 8000, where clients look for it; 0 picks a free one)")
    p.add_argument("--host", default="127.0.0.1", metavar="ADDR",
                   help="address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)")
    p.add_argument("--database", metavar="URL",
                   help="sqlite:///PATH (default: DIR/velora.db) or postgresql://USER@HOST/DB")
    p.add_argument("--tls-cert", metavar="FILE", help="certificate chain (PEM): serve HTTPS and WSS on both ports")
    p.add_argument("--tls-key", metavar="FILE", help="private key (PEM) of --tls-cert")
    p.add_argument("--config", metavar="FILE", help="settings file (default: DIR/settings.ini)")
    p.add_argument("--access-log", action="store_true", help="log every request")
    p.add_argument("--log-level", default="info", choices=["debug", "info", "warning", "error"])
    p.add_argument("--version", action="version", version="velora-server " + VERSION)
    return p.parse_args(argv)


def build_apps(service):
    """The API app (which also serves the sockets, for a proxy in front) and the WebSocket app."""
    http_app = web.Application(middlewares=[api.json_errors])
    http_app["service"] = service
    api.routes(http_app)
    relay.routes(http_app)
    storage.routes(http_app)
    ws_app = web.Application()
    ws_app["service"] = service
    relay.routes(ws_app)
    return http_app, ws_app


def ensure_admin(service, environ):
    """Creates the first administrator on a new database; answers None, or (e-mail, the generated
    password, or None when the environment chose it)."""
    email = (environ.get("VELORA_ADMIN_EMAIL") or DEFAULT_ADMIN).strip().lower()
    chosen = environ.get("VELORA_ADMIN_PASSWORD")
    password = chosen or auth.new_password()

    def create(tx):
        if tx.dialect == "postgresql":  # two servers starting together create one administrator
            tx.execute("SELECT pg_advisory_xact_lock(7346151)")
        if tx.value("SELECT count(*) FROM users"):
            return None
        auth.create_user(tx, email, auth.client_digest(password), "Administrator", "", True)
        return email, None if chosen else password

    return service.db.run_sync(create)


def tls_context(args):
    if not args.tls_cert:
        return None
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.tls_cert, args.tls_key)
    return context


def _port(listener):
    return listener.sockets[0].getsockname()[1]


async def serve(args, service):
    http_app, ws_app = build_apps(service)
    access = logging.getLogger("aiohttp.access") if args.access_log else None
    limits = service.settings
    # Bodies are read as sent (never inflated); idle keep-alive connections close after idle_timeout.
    options = dict(access_log=access, auto_decompress=False, keepalive_timeout=limits.idle_timeout)
    http_runner = web.AppRunner(http_app, **options)
    ws_runner = web.AppRunner(ws_app, **options)
    loop = asyncio.get_running_loop()
    loop.set_exception_handler(guard.loop_exception_handler)
    connections = guard.Guard(limits, guard.connection_cap(service.open_files, limits.max_connections))
    service.prober = probe.Prober(service)
    if service.db.dialect == "postgresql":
        from .bus import PgBus

        service.hub.bus = await loop.run_in_executor(None, PgBus, service.db.url, loop, service.hub.deliver)
    await http_runner.setup()
    await ws_runner.setup()
    tls = tls_context(args)
    listeners = []
    for runner, port in ((http_runner, args.port), (ws_runner, args.ws_port)):
        listeners.append(await loop.create_server(connections.factory(runner), args.host, port, ssl=tls,
                                                  reuse_address=True, backlog=1024))
    connections.start()
    print("velora-server: listening on %s://%s:%d (WebSocket port %d), data in %s"
          % ("https" if tls else "http", args.host, _port(listeners[0]), _port(listeners[1]), service.data_dir),
          flush=True)

    stop = asyncio.Event()
    for sig in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    log.info("stopping")
    for listener in listeners:
        listener.close()
    await connections.stop()
    await service.hub.close_all()
    for task in list(service.prober.pending):
        task.cancel()
    await ws_runner.cleanup()
    await http_runner.cleanup()
    if service.hub.bus is not None:
        service.hub.bus.close()


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if bool(args.tls_cert) != bool(args.tls_key):
        print("velora-server: --tls-cert and --tls-key go together", file=sys.stderr)
        return 2
    logging.basicConfig(stream=sys.stderr, level=getattr(logging, args.log_level.upper()),
                        format="%(asctime)s %(name)s %(levelname)s %(message)s")
    open_files = guard.raise_open_file_limit()
    data_dir = os.path.abspath(args.data)
    # Everything the server writes (database, uploads, thumbnails) is its owner's alone.
    os.umask(0o077)
    try:
        os.makedirs(data_dir, mode=0o700, exist_ok=True)
        settings = config.load(args.config or os.path.join(data_dir, "settings.ini"))
        db = Database(args.database or default_url(data_dir))
        service = Service(data_dir, db, settings)
        service.open_files = open_files
        for handler in logging.getLogger().handlers:  # an error that repeats is logged once per interval
            handler.addFilter(guard.RepeatFilter(settings.log_repeat_interval))
        service.lock_folder(shared=db.dialect == "postgresql")
        service.prepare_folders()
        db.create_schema()
        service.load_secret()
        storage.expire_objects(service)
        service.hub = relay.Hub()
        created = ensure_admin(service, os.environ)
    except (OSError, config.SettingsError, DatabaseError, FolderInUse) as e:
        print("velora-server: %s" % e, file=sys.stderr)
        return 1
    except Exception as e:  # a database that cannot be reached, for one
        print("velora-server: cannot open the database: %s" % e, file=sys.stderr)
        return 1
    if created and created[1] is None:
        print("velora-server: created administrator %s with the password of VELORA_ADMIN_PASSWORD" % created[0],
              flush=True)
    elif created:
        print("velora-server: created administrator %s with password %s (shown only this once)" % created,
              flush=True)
    if not settings.storage_enabled:
        log.info("storage PUT endpoint off: no access_key/secret_key in the settings")
    try:
        asyncio.run(serve(args, service))
    except (OSError, ssl.SSLError) as e:
        print("velora-server: %s" % e, file=sys.stderr)
        return 1
    finally:
        db.close()
    return 0
