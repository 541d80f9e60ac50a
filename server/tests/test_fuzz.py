"""Malformed and random input never makes the server fail internally (no 500, always JSON)."""

import random

from harness import form_body, sha512

OPS = ["authenticate", "projects", "projects/files/audiovideo", "apps/files", "projects/folders", "file", "files/url",
       "files/metadata", "comments", "comments/create", "comments/edit", "annotation", "sessions/create",
       "sessions/fileid", "folders/create", "files/upload", "relationships", "projects/events", "files/playbackpos",
       "commentstream/create", "admin/users/create", "sync/localip"]
KEYS = ["file_id", "project_id", "dept", "parent", "body", "timecode", "color", "comment_id", "metadata", "data",
        "participants", "name", "folder", "since", "position", "source", "title", "linktypes", "email", "ip",
        "new_password", "session_id", "annotation_id", "thumbs", "folders", "depts", "app_id"]
VALUES = ["", "-1", "0", "1", "2", "99999999999999999999999", "1e308", "nan", "inf", "-0", "01:00:00:00",
          "25:61:61;99", "a<=|=>b<=|=>c", "<=|=>", "/", "//x//y/", "../../etc", "%00", "\u0000", "日本",
          "x" * 5000, "1,2,,3", "'; DROP TABLE users; --", "\ud7ff", "1.5", " 7 "]


def test_random_requests_get_json_answers(server):
    rng = random.Random(20240601)
    project = server.call("projects/create", {"title": "Fuzz"})["id"]
    email, password = server.admin
    raw_cases = [
        b"&&&===&", b"%", b"%zz=1", b"\xff\xfe\x00", b"username=" + b"a" * 10000, b"",
        b"username=a%00b%40c&password=" + sha512("x").encode(),
    ]
    for body in raw_cases:
        r = server.request("POST", "/api/0/comments", body)
        assert r.status < 500 and "error" in r.json(), body
    for _ in range(400):
        op = rng.choice(OPS)
        params = {k: rng.choice(VALUES) for k in rng.sample(KEYS, rng.randint(0, 6))}
        if rng.random() < 0.5:
            params["project_id"] = str(project)
        params["username"], params["password"] = email, sha512(password)
        r = server.request("POST", "/api/0/" + op, form_body(params))
        assert r.status < 500, (op, params, r.body)
        reply = r.json()
        if r.status != 200:
            assert isinstance(reply.get("error"), str), (op, params, reply)
    broken_multipart = [
        ("multipart/form-data; boundary=abc", b"--abc\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\nunterminated"),
        ("multipart/form-data", b"--abc\r\n\r\n"),
        ("multipart/form-data; boundary=abc", b"garbage without any boundary"),
        ("multipart/mixed; boundary=abc", b"--abc--\r\n"),
    ]
    nul_name = ("--abc\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\n%s\r\n--abc\r\n"
                "Content-Disposition: form-data; name=\"password\"\r\n\r\n%s\r\n--abc\r\n"
                "Content-Disposition: form-data; name=\"project_id\"\r\n\r\n%d\r\n--abc\r\n"
                "Content-Disposition: form-data; name=\"file\"; filename=\"a\x00b.mov\"\r\n\r\nxyz\r\n--abc--\r\n"
                % (email, sha512(password), project))
    broken_multipart.append(("multipart/form-data; boundary=abc", nul_name.encode()))
    for ctype, body in broken_multipart:
        r = server.request("POST", "/api/0/files/upload", body, {"Content-Type": ctype})
        assert r.status < 500 and "error" in r.json(), (ctype, body, r.body)
