"""Starts velora-server as its own process and talks to it the way the player's client does."""

import hashlib
import http.client
import json
import os
import re
import shutil
import signal
import ssl
import subprocess
import tempfile
import threading
import time
import urllib.parse

SERVER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "velora-server")
PYTHON = "/usr/bin/python3"

_LISTENING = re.compile(r"listening on (https?)://([\d.]+):(\d+) \(WebSocket port (\d+)\)")
_ADMIN = re.compile(r"created administrator (\S+) with password (\S+)")


def sha512(text):
    return hashlib.sha512(text.encode("utf-8")).hexdigest()


def client_value(value):
    """Percent-encodes a value as the player's client does before it adds its own replacements."""
    text = urllib.parse.quote(str(value), safe="!$&'()*+,-./:;=?@_~#")
    for a, b in (("&", "%26"), ('"', "%22"), ("<", "%3C"), (">", "%3E"), ("=", "%3D"), ("?", "%3F"),
                 ("+", "%2B")):
        text = text.replace(a, b)
    return text


def form_body(params):
    return "".join("&%s=%s" % (k, client_value(v)) for k, v in params.items()).encode("utf-8")


def multipart_body(params, filename, data, boundary="axhTsLbOxNzArUD", leading_crlf=False):
    """The player's multipart layout (prefsync's starts with an extra CRLF)."""
    head = ("\r\n" if leading_crlf else "") + "--" + boundary + "\r\n"
    for k, v in params.items():
        head += 'Content-Disposition: form-data; name="%s"\r\n\r\n%s\r\n--%s\r\n' % (k, v, boundary)
    head += 'Content-Disposition: form-data; name="file"; filename="%s"\r\n' % filename
    head += "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n\r\n"
    return head.encode("utf-8") + data + ("\r\n--%s--\r\n" % boundary).encode("utf-8"), \
        "multipart/form-data; boundary=" + boundary


class Reply:
    def __init__(self, status, body, headers):
        self.status = status
        self.body = body
        self.headers = headers

    def json(self):
        return json.loads(self.body.decode("utf-8"))


class Server:
    def __init__(self, database=None, env=None, data=None, settings=None, args=(), wrapper=(), preexec=None):
        self.owns_data = data is None
        self.data = data or tempfile.mkdtemp(prefix="velora-test-")
        self.database = database
        # Passwords are stretched less than in a deployment, to keep the tests quick; one test
        # checks the deployment's strength.
        # Tests sign in wrongly on purpose, all from 127.0.0.1: the back-off of failed logins has
        # its own test.
        self.env = dict(os.environ, VELORA_PASSWORD_ITERATIONS="1000", VELORA_LOGIN_FREE_ATTEMPTS="1000")
        self.env.update(env or {})
        if settings:
            with open(os.path.join(self.data, "settings.ini"), "w") as f:
                f.write(settings)
        self.args = list(args)
        self.wrapper = list(wrapper)  # a command the server runs under (strace, prlimit)
        self.preexec = preexec
        self.stdout = []
        self.proc = None
        self.admin = None
        self.stderr = []

    def start(self, timeout=20):
        args = self.wrapper + [PYTHON, SERVER, "--data", self.data, "--port", "0", "--ws-port", "0"]
        if self.database:
            args += ["--database", self.database]
        args += self.args
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env,
                                     text=True, start_new_session=True, preexec_fn=self.preexec)
        self._drainer = threading.Thread(target=self._drain, daemon=True)
        self._drainer.start()
        deadline = time.time() + timeout
        while time.time() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                self.proc.wait(5)
                self._drainer.join(5)
                raise RuntimeError("velora-server stopped: %s" % "".join(self.stderr[-20:]))
            self.stdout.append(line)
            m = _ADMIN.search(line)
            if m:
                self.admin = (m.group(1), m.group(2))
            m = _LISTENING.search(line)
            if m:
                self.scheme, self.host = m.group(1), m.group(2)
                self.port, self.ws_port = int(m.group(3)), int(m.group(4))
                return self
        raise RuntimeError("velora-server did not start in time")

    def _drain(self):
        for line in self.proc.stderr:
            self.stderr.append(line)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def kill(self):
        self.proc.kill()
        self.proc.wait()

    def cleanup(self):
        self.stop()
        if self.owns_data:
            shutil.rmtree(self.data, ignore_errors=True)

    # Requests

    def request(self, method, path, body=None, headers=None, source=None):
        """`source`: the client's own address (127.0.0.2, ...: another machine, as the server sees it)."""
        source = (source, 0) if source else None
        if self.scheme == "https":
            conn = http.client.HTTPSConnection(self.host, self.port, timeout=60, source_address=source,
                                               context=ssl._create_unverified_context())
        else:
            conn = http.client.HTTPConnection(self.host, self.port, timeout=60, source_address=source)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            r = conn.getresponse()
            return Reply(r.status, r.read(), dict(r.getheaders()))
        finally:
            conn.close()

    def post(self, op, params=None, login=None, source=None):
        """A form POST as the player sends it: body starting with "&", no Content-Type of its own."""
        params = dict(params or {})
        email, password = login or self.admin
        params["username"] = email
        params["password"] = sha512(password)
        return self.request("POST", "/api/0/" + op, form_body(params), {}, source=source)

    def call(self, op, params=None, login=None, status=200):
        r = self.post(op, params, login)
        assert r.status == status, (op, r.status, r.body)
        return r.json()

    def post_file(self, op, params, filename, data, login=None, **kw):
        params = dict(params)
        email, password = login or self.admin
        params = dict({"username": email, "password": sha512(password)}, **params)
        body, ctype = multipart_body(params, filename, data, **kw)
        return self.request("POST", "/api/0/" + op, body, {"Content-Type": ctype})

    def add_user(self, email, password, first="", last="", admin=False):
        return self.call("admin/users/create", {"email": email, "new_password": password, "first_name": first,
                                                "last_name": last, "admin": "1" if admin else "0"})
