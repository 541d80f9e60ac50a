"""Signing in, error replies, projects, departments, folders and file listings."""

import pytest

from harness import sha512


@pytest.fixture(scope="module")
def studio(server):
    """A project with a department, folders, an editor (member) and an outsider (not a member)."""
    server.add_user("editor@studio.test", "editor-pass-1", "Edie", "Tor")
    server.add_user("outsider@studio.test", "outsider-pass-1", "Out", "Sider")
    users = {u["email"]: u["id"] for u in server.call("admin/users")}
    project = server.call("projects/create", {"title": "Feature", "status": 1})
    server.call("admin/projects/members/add", {"project_id": project["id"], "user_id": users["editor@studio.test"]})
    dept = server.call("admin/departments/create", {"project_id": project["id"], "title": "Editorial"})
    server.call("folders/create", {"folder": "Dailies;Dailies/Day 1", "dept": -1, "project_id": project["id"]})
    server.call("folders/create", {"folder": "Cuts", "dept": dept["id"], "project_id": project["id"]})
    return {"project": project["id"], "dept": dept["id"], "users": users,
            "editor": ("editor@studio.test", "editor-pass-1"), "outsider": ("outsider@studio.test", "outsider-pass-1")}


def upload(server, project, name, parent="/", dept=-1, login=None, data=b"0123456789", **params):
    fields = {"project_id": project, "parent": parent, "department": dept, "auto_revise": 1, "notifications": 0}
    fields.update(params)
    r = server.post_file("files/upload", fields, name, data, login=login)
    assert r.status == 200, r.body
    return r.json()


def test_login_checks_the_sha512_digest_of_the_password(server, studio):
    admin_email, admin_password = server.admin
    cases = [
        # (user name, password field as sent, status, reply key to check)
        (admin_email, sha512(admin_password), 200, "name"),
        (admin_email.upper(), sha512(admin_password), 200, "name"),
        (admin_email, sha512(admin_password).upper(), 200, "name"),
        (admin_email, admin_password, 401, "error"),  # the clear password is never accepted
        (admin_email, sha512(admin_password + "x"), 401, "error"),
        ("nobody@studio.test", sha512(admin_password), 401, "error"),
        ("", sha512(admin_password), 401, "error"),
        (admin_email, "", 401, "error"),
    ]
    for email, password, status, key in cases:
        from harness import form_body
        r = server.request("POST", "/api/0/authenticate", form_body({"username": email, "password": password}))
        assert r.status == status, (email, password, r.body)
        assert key in r.json()
    assert server.call("authenticate", login=studio["editor"])["name"] == "Edie Tor"
    assert server.post("authenticate", login=("editor@studio.test", "wrong")).json() == {
        "error": "Invalid username or password"}


def test_error_replies_are_json_with_a_status(server, studio):
    cases = [
        ("POST", "/api/0/no/such/operation", 404),
        ("GET", "/api/0/projects", 405),
    ]
    for method, path, status in cases:
        r = server.request(method, path)
        assert r.status == status
        assert r.headers["Content-Type"].startswith("application/json")
        assert isinstance(r.json()["error"], str) and r.json()["error"]
    for op, params, status in [
        ("comments", {}, 400),                               # missing file_id
        ("comments", {"file_id": "twelve"}, 400),            # not a number
        ("comments", {"file_id": 987654}, 404),              # no such file
        ("projects/files", {"project_id": 0}, 400),
        ("admin/users", {}, 403),                            # the editor is no administrator
    ]:
        r = server.post(op, params, login=studio["editor"])
        assert r.status == status, (op, params, r.body)
        assert "error" in r.json()


def test_form_values_arrive_as_sent(server, studio):
    # Reserved characters, "+", a space and non-ASCII text, percent-encoded as the player does.
    title = "Cut 3 & 4: x=y? 50+50 <final> \"quoted\" take #2; 100% Ünïcødé 日本"
    created = server.call("projects/create", {"title": title, "description": "a&b", "client": "c+d"})
    listed = {p["id"]: p for p in server.call("projects", {"privateStorage": "0"})}
    assert listed[created["id"]]["title"] == title
    assert listed[created["id"]]["description"] == "a&b"
    assert listed[created["id"]]["client"] == "c+d"


def test_projects_list_only_what_the_user_belongs_to(server, studio):
    editor = [p["id"] for p in server.call("projects", {"privateStorage": "1"}, login=studio["editor"])]
    outsider = [p["id"] for p in server.call("projects", {"privateStorage": "0"}, login=studio["outsider"])]
    assert editor == [-1, studio["project"]]  # private storage first when asked for
    assert outsider == []
    r = server.post("projects/files", {"project_id": studio["project"]}, login=studio["outsider"])
    assert r.status == 404 and "error" in r.json()


def test_listing_shows_departments_folders_and_latest_files_of_one_place(server, studio):
    pid = studio["project"]
    upload(server, pid, "a.mov", "/Dailies", title="Shot A", login=studio["editor"])
    upload(server, pid, "a2.mov", "/Dailies", title="Shot A", login=studio["editor"])  # second revision
    upload(server, pid, "voice.wav", "/Dailies", title="Voice")
    upload(server, pid, "notes.txt", "/Dailies", title="Notes")
    upload(server, pid, "cut.mov", "/Cuts", dept=studio["dept"], title="Cut 1")
    base = {"project_id": pid, "dept": -1, "thumbs": 1, "folders": 1, "depts": 1}

    top = server.call("projects/files/audiovideo", dict(base, parent="/"), login=studio["editor"])
    assert [(i["type"], i["title"]) for i in top] == [("department", "Editorial"), ("folder", "Dailies")]

    dailies = server.call("projects/files/audiovideo", dict(base, parent="/Dailies", showLastPlaybackPos=1))
    assert [(i["type"], i["title"]) for i in dailies] == [("folder", "Day 1"), ("video", "Shot A"),
                                                          ("audio", "Voice")]
    shot = dailies[1]
    assert shot["filename"] == "a2.mov" and shot["revision"] == 2 and shot["creator"] == "Edie Tor"
    for key in ("id", "department", "date", "viewed", "status", "startTimecode", "dropFrame", "size",
                "last_pos", "audio"):
        assert key in shot
    assert dailies[2]["audio"] is True and shot["audio"] is False

    video = server.call("projects/files/video", dict(base, parent="/Dailies"))
    assert [i["title"] for i in video if i["type"] != "folder"] == ["Shot A"]
    every = server.call("projects/files", dict(base, parent="/Dailies"))
    assert sorted(i["title"] for i in every if i["type"] != "folder") == ["Notes", "Shot A", "Voice"]

    dept = server.call("projects/files/audiovideo", dict(base, parent="/", dept=studio["dept"]))
    assert [(i["type"], i["title"]) for i in dept] == [("folder", "Cuts")]
    cuts = server.call("projects/files/audiovideo", dict(base, parent="/Cuts", dept=studio["dept"]))
    assert [i["title"] for i in cuts] == ["Cut 1"]

    revisions = server.call("projects/files/revisions", {"file_id": shot["id"], "thumbs": 1})
    assert [r["revision"] for r in revisions] == [1, 2]
    assert [("latest_revision" in r) for r in revisions] == [False, True]
    assert revisions[1]["id"] == shot["id"]


def test_folders_and_departments(server, studio):
    pid = studio["project"]
    depts = server.call("projects/departments", {"project_id": pid})
    assert [(d["id"], d["title"]) for d in depts] == [(studio["dept"], "Editorial")]
    top = server.call("projects/folders", {"project_id": pid, "dept": -1, "parent": "/"})
    assert [f["path"] for f in top] == ["/Dailies"]
    below = server.call("projects/folders", {"project_id": pid, "dept": -1, "parent": "/", "subfolders": 1})
    assert [f["path"] for f in below] == ["/Dailies", "/Dailies/Day 1"]
    again = server.call("folders/create", {"folder": "Dailies", "dept": -1, "project_id": pid})
    assert again[0]["id"] == top[0]["id"]  # creating an existing folder answers it
    r = server.post("folders/create", {"folder": "X", "dept": 99999, "project_id": pid})
    assert r.status == 404


def test_private_storage_is_private(server, studio):
    mine = upload(server, -1, "prefs.plist", "/", login=studio["editor"], title="Notes to self")
    assert server.call("file", {"file_id": mine["id"]}, login=studio["editor"])["title"] == "Notes to self"
    for login in (studio["outsider"], None):
        r = server.post("file", {"file_id": mine["id"]}, login=login)
        assert r.status == 404
    listed = server.call("projects/files", {"project_id": -1, "dept": -1, "parent": "/"}, login=studio["outsider"])
    assert listed == []


def test_unique_project_id_and_can_upload(server, studio):
    server.call("projects/create", {"title": "Coded", "unique_project_id": "FEAT-001"})
    assert server.call("uniqueprojectid", {"unique_project_id": "FEAT-001"})["unique"] is False
    assert server.call("uniqueprojectid", {"unique_project_id": "FEAT-002"})["unique"] is True
    assert server.post("projects/create", {"title": "Dup", "unique_project_id": "FEAT-001"}).status == 409
    assert server.call("files/canupload", {"project_id": studio["project"]}, login=studio["editor"])["canUpload"]
    assert server.post("files/canupload", {"project_id": studio["project"]}, login=studio["outsider"]).status == 404


def test_uploads_are_refused_before_any_byte_is_kept(server, studio):
    import os
    pid = studio["project"]
    readonly = server.add_user("viewer@studio.test", "viewer-pass-1", "Vi", "Ewer")
    server.call("admin/projects/members/add", {"project_id": pid, "user_id": readonly["id"], "can_upload": 0})
    boundary = "axhTsLbOxNzArUD"
    file_first = ("--%s\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.mov\"\r\n\r\n%s\r\n"
                  "--%s\r\nContent-Disposition: form-data; name=\"username\"\r\n\r\n%s\r\n"
                  "--%s\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\n%s\r\n--%s--\r\n"
                  % (boundary, "x" * 1000, boundary, server.admin[0], boundary, sha512(server.admin[1]), boundary))
    r = server.request("POST", "/api/0/files/upload", file_first.encode(),
                       {"Content-Type": "multipart/form-data; boundary=" + boundary})
    assert r.status == 401 and "error" in r.json()
    cases = [
        ({"project_id": pid}, ("editor@studio.test", "wrong"), 401),
        ({"project_id": pid}, ("viewer@studio.test", "viewer-pass-1"), 403),
        ({"project_id": pid}, studio["outsider"], 404),
        ({"project_id": 0}, None, 400),
        ({"project_id": pid, "timecodeStart": "soon"}, None, 400),
        ({"project_id": pid, "department": 424242}, None, 404),
    ]
    for params, login, status in cases:
        r = server.post_file("files/upload", dict({"parent": "/"}, **params), "a.mov", b"y" * 5000, login=login)
        assert r.status == status, (params, login, r.body)
    assert server.post("files/upload", {"project_id": pid}).status == 400  # neither file nor source
    tmp = os.path.join(server.data, "tmp")
    assert [[n for n in os.listdir(os.path.join(tmp, d)) if n != ".lock"] for d in os.listdir(tmp)] == [[]]
    # Nothing of the refused uploads was registered.
    listed = server.call("projects/files", {"project_id": pid, "dept": -1, "parent": "/"})
    assert [f["filename"] for f in listed] == []


def test_every_operation_path_of_the_client_is_served(server, studio):
    paths = ["authenticate", "projects", "projects/create", "projects/departments", "projects/files/video",
             "projects/files/audiovideo", "projects/files", "apps/files", "projects/folders",
             "projects/files/revisions", "projects/events", "commentstream/create", "file", "apps/files/remove",
             "files/url", "folders/create", "files/thumb", "files/metadata", "files/approve", "files/reject",
             "comments", "comments/create", "comments/edit", "comments/remove", "files/playbackpos", "sync/localip",
             "remote/token", "sessions", "sessions/create", "sessions/fileid", "sessions/remove", "users",
             "relationships", "annotation", "annotation/remove", "files/canupload", "uniqueprojectid",
             "files/upload"]
    for path in paths:
        r = server.post(path, {})
        assert r.status != 404 or "Unknown operation" not in r.json()["error"], path
        assert r.status < 500, (path, r.body)


def test_streamed_upload_layout_of_the_request_layer(server, studio):
    # Boundary "0xKhTmLbOuNdArY-" + a UUID, a charset before the boundary, values before the file.
    boundary = "0xKhTmLbOuNdArY-0F6A8C52-3B1D-4E8F-9A7C-2D5E6F708192"
    values = {"username": server.admin[0], "password": sha512(server.admin[1]), "project_id": str(studio["project"]),
              "parent": "/Dailies/Day 1", "title": "Streamed", "department": "-1"}
    body = "--%s\r\n" % boundary
    for k, v in values.items():
        body += 'Content-Disposition: form-data; name="%s"\r\n\r\n%s\r\n--%s\r\n' % (k, v, boundary)
    body += 'Content-Disposition: form-data; name="file"; filename="day1.mp4"\r\nContent-Type: video/mp4\r\n\r\n'
    data = bytes(range(256)) * 64
    r = server.request("POST", "/api/0/files/upload", body.encode() + data + ("\r\n--%s--\r\n" % boundary).encode(),
                       {"Content-Type": "multipart/form-data; charset=utf-8; boundary=" + boundary})
    assert r.status == 200, r.body
    record = r.json()
    assert (record["title"], record["parent"], record["size"], record["mime"]) == (
        "Streamed", "/Dailies/Day 1", len(data), "video/mp4")
    url = server.call("files/url", {"file_id": record["id"]})["url"]
    assert server.request("GET", url.split(str(server.port), 1)[1]).body == data


def test_passwords_are_stored_stretched_never_as_sent():
    import os
    import sqlite3

    import harness

    fresh = harness.Server(env={"VELORA_PASSWORD_ITERATIONS": ""}).start()
    try:
        assert fresh.call("authenticate")["username"] == fresh.admin[0]
        with sqlite3.connect(os.path.join(fresh.data, "velora.db")) as db:
            rounds, stored, salt = db.execute("SELECT pw_iterations, pw_hash, pw_salt FROM users").fetchone()
        assert rounds == 120000 and len(salt) == 32
        assert stored not in (fresh.admin[1], sha512(fresh.admin[1]))
        import hashlib
        expected = hashlib.pbkdf2_hmac("sha256", sha512(fresh.admin[1]).encode(), bytes.fromhex(salt), rounds).hex()
        assert stored == expected
    finally:
        fresh.cleanup()
