"""Storage PUT with signature version 2, registering stored objects, and byte-range streaming."""

import base64
import email.utils
import hashlib
import hmac
import os
import sys
import time

import pytest

import harness

ACCESS = "AKSTORAGETEST0000001"
SECRET = "storage-secret-key-for-the-tests-000000"


@pytest.fixture(scope="module")
def store():
    s = harness.Server(settings="[storage]\naccess_key = %s\nsecret_key = %s\n" % (ACCESS, SECRET)).start()
    yield s
    s.cleanup()


def signed_put(server, key, body, content_type="video/quicktime", secret=SECRET, access=ACCESS, date=None,
               virtual_host=True, extra=None, bucket="velo_bucket", tamper=None):
    date = date or email.utils.formatdate(usegmt=True)
    headers = {"Date": date, "Content-Type": content_type}
    headers.update(extra or {})
    amz = "".join("%s:%s\n" % (k.lower(), v) for k, v in sorted(headers.items()) if k.lower().startswith("x-amz-"))
    to_sign = "PUT\n%s\n%s\n%s\n%s/%s/%s" % (headers.get("Content-MD5", ""), content_type, date, amz, bucket, key)
    signature = base64.b64encode(hmac.new(secret.encode(), to_sign.encode(), hashlib.sha1).digest()).decode()
    headers["Authorization"] = "AWS %s:%s" % (access, signature)
    headers.update(tamper or {})
    if virtual_host:
        headers["Host"] = "%s.localhost:%d" % (bucket, server.port)
        path = "/" + key
    else:
        path = "/%s/%s" % (bucket, key)
    return server.request("PUT", path, body, headers)


def test_signed_put_then_registration_gives_the_same_bytes(store):
    body = os.urandom(300000)
    key = "uploads/abcdefghijklmnopqrstuvwxyz012345-shot_1.mov"
    r = signed_put(store, key, body, extra={"x-amz-acl": "private"})
    assert r.status == 200, r.body
    assert r.headers["ETag"] == '"%s"' % hashlib.md5(body).hexdigest()
    project = store.call("projects/create", {"title": "Stored"})["id"]
    f = store.call("files/upload", {"source": key, "parent": "/", "department": -1, "project_id": project,
                                    "title": "Shot 1", "mime-type": "video/quicktime", "auto_revise": 0,
                                    "notifications": 0, "file": "/Users/x/shot 1.mov"})
    assert (f["title"], f["size"], f["filename"], f["type"]) == ("Shot 1", len(body), "shot_1.mov", "video")
    url = store.call("files/url", {"file_id": f["id"]})["url"]
    path = url.split(str(store.port), 1)[1]
    assert path.endswith(".mov")  # the player's cache names its copy after the link's extension
    assert store.request("GET", path).body == body
    # A stored object is registered once.
    again = store.post("files/upload", {"source": key, "project_id": project})
    assert again.status == 404 and "error" in again.json()

    path_style = signed_put(store, "uploads/second.mov", b"path style", virtual_host=False)
    assert path_style.status == 200, path_style.body


def test_unsigned_or_badly_signed_puts_are_refused(store):
    key, body = "uploads/refused.mov", b"payload"
    cases = [
        ("no signature", dict(tamper={"Authorization": ""}), 403, "AccessDenied"),
        ("unknown key id", dict(access="AKUNKNOWN00000000000"), 403, "InvalidAccessKeyId"),
        ("wrong secret", dict(secret="not-the-secret"), 403, "SignatureDoesNotMatch"),
        ("type changed after signing", dict(tamper={"Content-Type": "text/plain"}), 403, "SignatureDoesNotMatch"),
        ("old date", dict(date=email.utils.formatdate(time.time() - 3600, usegmt=True)), 403, "RequestTimeTooSkewed"),
        ("other bucket", dict(bucket="someone_elses"), 404, "NoSuchBucket"),
        ("wrong Content-MD5", dict(extra={"Content-MD5": base64.b64encode(hashlib.md5(b"x").digest()).decode()}),
         400, "BadDigest"),
    ]
    for name, kw, status, code in cases:
        r = signed_put(store, key, body, **kw)
        assert r.status == status, (name, r.status, r.body)
        assert b"<Code>%s</Code>" % code.encode() in r.body, (name, r.body)
    assert store.post("files/upload", {"source": key, "project_id": -1}).status == 404


def test_put_is_off_without_credentials(server):
    r = signed_put(server, "uploads/x.mov", b"x")
    assert r.status == 403 and b"AccessDenied" in r.body


def test_media_links_serve_byte_ranges(server):
    data = bytes(range(256)) * 40  # 10240 bytes whose values say their offset
    project = server.call("projects/create", {"title": "Ranges"})["id"]
    r = server.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1}, "clip.mp4", data)
    fid = r.json()["id"]
    path = server.call("files/url", {"file_id": fid})["url"].split(str(server.port), 1)[1]
    for header, status, expected in [
        (None, 200, data),
        ("bytes=0-0", 206, data[:1]),
        ("bytes=1000-1999", 206, data[1000:2000]),
        ("bytes=10000-", 206, data[10000:]),
        ("bytes=-16", 206, data[-16:]),
    ]:
        reply = server.request("GET", path, headers={"Range": header} if header else {})
        assert reply.status == status, header
        assert reply.body == expected, header
        assert reply.headers["Content-Type"] == "video/mp4"
    head = server.request("HEAD", path)
    assert head.status == 200 and head.headers["Content-Length"] == str(len(data))
    assert server.request("GET", path, headers={"Range": "bytes=20000-"}).status == 416

    _, media, ident, token, name = path.split("/")
    expires, sig = token.split("-")
    for bad in ["%s-%s" % (int(expires) + 1, sig), "%s-%s" % (expires, "0" * 32), "garbage"]:
        assert server.request("GET", "/%s/%s/%s/%s" % (media, ident, bad, name)).status == 403
    other = server.request("GET", "/%s/%d/%s/%s" % (media, fid + 1, token, name))
    assert other.status in (403, 404)


def test_settings_file_and_environment():
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    from velora_server import config

    folder = harness.tempfile.mkdtemp()
    path = os.path.join(folder, "settings.ini")
    with open(path, "w") as f:
        f.write("[storage]\naccess_key = FROMFILE\nsecret_key = filesecret ; the file's\n"
                "[server]\npublic_url = https://review.example.com/\nlink_lifetime = 600\n")
    settings = config.load(path, environ={"VELORA_S3_SECRET_KEY": "envsecret"})
    assert (settings.access_key, settings.secret_key, settings.bucket) == ("FROMFILE", "envsecret", "velo_bucket")
    assert (settings.public_url, settings.link_lifetime) == ("https://review.example.com", 600)
    with pytest.raises(config.SettingsError):
        config.load(path, environ={"VELORA_LINK_LIFETIME": "soon"})
    assert not config.load(os.path.join(folder, "missing.ini"), environ={}).storage_enabled


def test_an_encoded_key_signed_as_sent_registers_under_its_plain_name(store):
    # The request layer writes the date as "Tue, 8 Dec 2026 13:30:00 +0000" and signs the key as it
    # appears in the address, percent-encoded.
    date = time.strftime("%a, %-d %b %Y %H:%M:%S +0000", time.gmtime())
    r = signed_put(store, "uploads/a%20b/c%2Bd.mov", b"encoded key", date=date)
    assert r.status == 200, r.body
    project = store.call("projects/create", {"title": "Encoded"})["id"]
    f = store.call("files/upload", {"source": "uploads/a b/c+d.mov", "project_id": project, "parent": "/"})
    assert (f["filename"], f["size"]) == ("c+d.mov", len(b"encoded key"))


def test_objects_never_registered_expire_after_a_week():
    import sqlite3

    s = harness.Server(env={"VELORA_S3_ACCESS_KEY": ACCESS, "VELORA_S3_SECRET_KEY": SECRET}).start()
    try:
        for key in ("uploads/old.mov", "uploads/new.mov"):
            assert signed_put(s, key, b"bytes of " + key.encode()).status == 200
        s.stop()
        with sqlite3.connect(os.path.join(s.data, "velora.db")) as db:
            db.execute("UPDATE objects SET created = created - 8 * 86400 WHERE key = 'uploads/old.mov'")
        stored = {k: p for k, p in sqlite3.connect(os.path.join(s.data, "velora.db")).execute(
            "SELECT key, stored FROM objects")}
        admin = s.admin
        s.start()
        s.admin = admin
        assert not os.path.exists(os.path.join(s.data, stored["uploads/old.mov"]))
        assert os.path.exists(os.path.join(s.data, stored["uploads/new.mov"]))
        assert s.post("files/upload", {"source": "uploads/old.mov", "project_id": -1}).status == 404
        assert s.post("files/upload", {"source": "uploads/new.mov", "project_id": -1}).status == 200
    finally:
        s.cleanup()
