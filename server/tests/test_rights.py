"""Who may change or remove files, revisions, comments and statuses, whatever operation asks."""

import pytest

PNG = b"\x89PNG\r\n\x1a\n" + b"\0" * 64


@pytest.fixture(scope="module")
def crew(server):
    """A project made by its lead (its administrator), an editor who uploads, a viewer without the
    upload right and an outsider."""
    logins = {}
    for name in ("lead", "editor", "viewer", "outsider"):
        email, password = "%s@rights.test" % name, "%s-pass-1" % name
        logins[name] = (email, password)
        logins[name + "_id"] = server.add_user(email, password, name.capitalize(), "R")["id"]
    project = server.call("projects/create", {"title": "Rights"}, login=logins["lead"])["id"]
    for name, upload in (("editor", 1), ("viewer", 0)):
        server.call("admin/projects/members/add", {"project_id": project, "user_id": logins[name + "_id"],
                                                   "can_upload": upload})
    return dict(logins, project=project)


def _place(server, crew):
    """A file in two revisions, a second file, a comment with a drawing: all the editor's."""
    editor, pid = crew["editor"], crew["project"]
    made = []
    for n in range(2):
        r = server.post_file("files/upload", {"project_id": pid, "parent": "/", "department": -1, "title": "Take",
                                              "auto_revise": 1}, "take%d.mov" % n, b"%d" % n, login=editor)
        assert r.status == 200, r.body
        made.append(r.json()["id"])
    other = server.post_file("files/upload", {"project_id": pid, "parent": "/", "department": -1, "title": "Other"},
                             "other.mov", b"o", login=editor).json()["id"]
    comment = server.call("comments/create", {"file_id": made[1], "body": "Keep", "timecode": "00:00:01:00"},
                          login=editor)["id"]
    drawing = server.call("annotation", {"comment_id": comment, "data": "<svg/>"}, login=editor)["annotation_id"]
    return made, other, comment, drawing


def _state(server, crew, made, comment):
    editor, pid = crew["editor"], crew["project"]
    revisions = [(r["id"], r["status"]) for r in
                 server.call("projects/files/revisions", {"file_id": made[0]}, login=editor)]
    comments = [(c["id"], c["body"], c.get("annotation")) for c in
                server.call("comments", {"file_id": made[1]}, login=editor)]
    metadata = server.call("files/metadata", {"file_id": made[1]}, login=editor)["metadata"]
    links = server.call("relationships", {"file_id": made[1], "linktypes": "cut"}, login=editor)
    listed = [f["id"] for f in server.call("projects/files", {"project_id": pid, "dept": -1, "parent": "/"},
                                           login=editor)]
    thumb = "thumb" in server.call("file", {"file_id": made[1]}, login=editor)
    return revisions, comments, metadata, links, listed, thumb


def test_members_without_rights_and_outsiders_change_nothing(server, crew):
    made, other, comment, drawing = _place(server, crew)
    before = _state(server, crew, made, comment)
    latest = made[1]
    writes = [
        # (operation, parameters); every one changes or removes something of the editor's
        ("apps/files/remove", {"file_id": latest, "app_id": ""}),
        ("apps/files/remove", {"file_id": made[0], "app_id": ""}),
        ("files/remove", {"file_id": latest}),
        ("files/remove", {"file_id": made[0], "all_revisions": 1}),
        ("files/metadata", {"file_id": latest, "metadata": "Camera<=|=>B"}),
        ("files/approve", {"file_id": latest, "comment": "fine"}),
        ("files/reject", {"file_id": latest, "comment": "no"}),
        ("comments/edit", {"comment_id": comment, "body": "Changed"}),
        ("comments/remove", {"comment_id": comment}),
        ("annotation", {"comment_id": comment, "data": "<svg>other</svg>"}),
        ("annotation/remove", {"annotation_id": drawing}),
        ("relationships/create", {"file_id": latest, "related_file_id": other, "linktype": "cut"}),
    ]
    for who in ("viewer", "outsider"):
        for op, params in writes:
            r = server.post(op, params, login=crew[who])
            assert r.status in (403, 404), (who, op, params, r.status, r.body)
            assert "error" in r.json()
        r = server.post_file("files/thumb", {"file_id": latest}, "t.png", PNG, login=crew[who])
        assert r.status in (403, 404), (who, r.body)
        for op, params in [("files/upload", {"project_id": crew["project"], "parent": "/"}),
                           ("folders/create", {"project_id": crew["project"], "folder": "Mine"}),
                           ("commentstream/create", {"project_id": crew["project"], "title": "Mine"})]:
            r = server.post_file(op, params, "x.mov", b"x", login=crew[who])
            assert r.status in (403, 404), (who, op, r.body)
        assert _state(server, crew, made, comment) == before, who


def test_the_uploader_and_the_project_lead_may(server, crew):
    made, other, comment, drawing = _place(server, crew)
    lead, editor = crew["lead"], crew["editor"]
    # The lead made the project and administers it: approves and removes what the editor made.
    assert server.call("files/approve", {"file_id": made[1]}, login=lead)["status"] == 4
    record = [c for c in server.call("comments", {"file_id": made[1]}, login=lead) if c["id"] == comment][0]
    assert record["can_edit"] is True and record["isCurrentUser"] is False
    assert server.call("comments/remove", {"comment_id": comment}, login=lead)["removed"] is True
    # The uploader removes a revision of their own; the lead the whole file.
    assert server.call("files/remove", {"file_id": made[1]}, login=editor)["removed"] is True
    assert server.call("files/remove", {"file_id": made[0], "all_revisions": 1}, login=lead)["removed"] is True
    assert server.post("file", {"file_id": made[0]}, login=editor).status == 404
    assert server.call("apps/files/remove", {"file_id": other, "app_id": ""}, login=editor, status=404)
