"""Comments, annotations, approvals, metadata, playback positions, links and app files."""

import pytest


@pytest.fixture(scope="module")
def review(server):
    server.add_user("director@studio.test", "director-pass", "Dee", "Rector")
    server.add_user("colorist@studio.test", "colorist-pass", "Col", "Orist")
    ids = {u["email"]: u["id"] for u in server.call("admin/users")}
    project = server.call("projects/create", {"title": "Review"})["id"]
    for email in ("director@studio.test", "colorist@studio.test"):
        server.call("admin/projects/members/add", {"project_id": project, "user_id": ids[email]})
    r = server.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1, "title": "Reel 1",
                                          "timecodeStart": "01:00:00:00", "frameRate": "23.98", "duration": 2400,
                                          "auto_revise": 1, "notifications": 0},
                         "reel1.mov", b"\0" * 4096, login=("director@studio.test", "director-pass"))
    assert r.status == 200, r.body
    return {"project": project, "file": r.json()["id"], "ids": ids,
            "director": ("director@studio.test", "director-pass"), "colorist": ("colorist@studio.test", "colorist-pass")}


def test_comments_carry_author_colour_and_edit_rights(server, review):
    fid, director, colorist = review["file"], review["director"], review["colorist"]
    made = [
        (director, {"body": "Too dark", "timecode": "01:00:10:00"}, 0),      # no colour sent: 0
        (colorist, {"body": "Grain", "timecode": "01:00:05:00", "color": 3}, 3),
        (director, {"body": "Sky & sea", "timecode": "01:00:10:00", "color": 10}, 10),
    ]
    ids = []
    for login, params, colour in made:
        reply = server.call("comments/create", dict(params, file_id=fid), login=login)
        assert reply["color"] == colour and reply["position"] == params["timecode"]
        ids.append(reply["id"])
    seen = server.call("comments", {"file_id": fid}, login=director)
    assert [c["id"] for c in seen] == ids  # in the order they were made
    assert [(c["body"], c["position"], c["color"]) for c in seen] == [
        ("Too dark", "01:00:10:00", 0), ("Grain", "01:00:05:00", 3), ("Sky & sea", "01:00:10:00", 10)]
    assert [(c["isCurrentUser"], c["can_edit"], c["user"]) for c in seen] == [
        (True, True, "Dee Rector"), (False, False, "Col Orist"), (True, True, "Dee Rector")]
    assert all("annotation" not in c for c in seen)

    for params, status in [
        ({"body": "x", "timecode": "1 hour"}, 400),
        ({"body": "x", "timecode": "01:00:00:00", "color": 11}, 400),
        ({"body": "x", "timecode": "01:00:00:00", "color": -2}, 400),
        ({"timecode": "01:00:00:00"}, 400),
    ]:
        assert server.post("comments/create", dict(params, file_id=fid), login=director).status == status

    # Only the author (or an administrator) edits or removes a comment.
    assert server.post("comments/edit", {"comment_id": ids[1], "body": "mine now"}, login=director).status == 403
    edited = server.call("comments/edit", {"comment_id": ids[1], "body": "Grain (shot 4)"}, login=colorist)
    assert (edited["body"], edited["position"], edited["color"]) == ("Grain (shot 4)", "01:00:05:00", 3)
    edited = server.call("comments/edit", {"comment_id": ids[1], "body": "Grain", "timecode": "01:00:06:12",
                                           "color": 5}, login=colorist)
    assert (edited["position"], edited["color"]) == ("01:00:06:12", 5)
    assert server.post("comments/remove", {"comment_id": ids[0]}, login=colorist).status == 403
    assert server.call("comments/remove", {"comment_id": ids[0]}, login=director)["id"] == ids[0]
    assert server.call("comments/remove", {"comment_id": ids[2]})["id"] == ids[2]  # the administrator
    assert [c["id"] for c in server.call("comments", {"file_id": fid}, login=colorist)] == [ids[1]]
    assert server.post("comments/remove", {"comment_id": ids[0]}, login=director).status == 404


def test_annotations_belong_to_a_comment(server, review):
    fid, director, colorist = review["file"], review["director"], review["colorist"]
    comment = server.call("comments/create", {"file_id": fid, "body": "Mask", "timecode": "01:00:01:00"},
                          login=director)["id"]
    svg = '<svg xmlns="http://www.w3.org/2000/svg"><path d="M1 1 L9 9" stroke="#ff0000"/></svg>'
    saved = server.call("annotation", {"comment_id": comment, "data": svg}, login=director)
    assert saved["comment_id"] == comment and saved["data"] == svg
    aid = saved["annotation_id"]
    fetched = server.call("annotation", {"annotation_id": aid}, login=colorist)
    assert fetched == {"annotation_id": aid, "comment_id": comment, "data": svg}
    listed = {c["id"]: c for c in server.call("comments", {"file_id": fid}, login=colorist)}
    assert listed[comment]["annotation"] == aid
    # Saving again replaces the drawing and keeps its id.
    again = server.call("annotation", {"comment_id": comment, "data": svg.replace("9 9", "5 5")}, login=director)
    assert again["annotation_id"] == aid and "5 5" in again["data"]
    assert server.post("annotation", {"comment_id": comment, "data": svg}, login=colorist).status == 403
    assert server.post("annotation/remove", {"annotation_id": aid}, login=colorist).status == 403
    assert server.call("annotation/remove", {"annotation_id": aid}, login=director)["annotation_id"] == aid
    assert server.post("annotation", {"annotation_id": aid}, login=director).status == 404
    listed = {c["id"]: c for c in server.call("comments", {"file_id": fid}, login=director)}
    assert "annotation" not in listed[comment]


def test_approval_and_rejection_set_the_status(server, review):
    fid, director, colorist = review["file"], review["director"], review["colorist"]
    assert server.call("file", {"file_id": fid}, login=director)["status"] == 1
    # The uploader, the project's administrator (here the server's, who made the project) decide;
    # another member does not.
    assert server.post("files/reject", {"file_id": fid}, login=colorist).status == 403
    for op, login, comment, status in [("files/reject", None, "Needs a regrade", 3),
                                       ("files/approve", director, "", 4)]:
        params = {"file_id": fid}
        if comment:
            params["comment"] = comment
        assert server.call(op, params, login=login)["status"] == status
        assert server.call("file", {"file_id": fid}, login=login)["status"] == status
    history = server.call("files/approvals", {"file_id": fid}, login=director)
    assert [(a["status"], a["comment"], a["user"]) for a in history] == [
        (3, "Needs a regrade", "Administrator"), (4, "", "Dee Rector")]
    listed = server.call("projects/files", {"project_id": review["project"], "dept": -1, "parent": "/"}, login=colorist)
    assert [f["status"] for f in listed if f["id"] == fid] == [4]


def test_metadata_round_trip(server, review):
    fid, director = review["file"], review["director"]
    got = server.call("files/metadata", {"file_id": fid}, login=director)
    assert got["metadata"] == {"Title": "Reel 1"}
    text = "<=|=>".join(["Camera", "A cam", "Lens", "35mm <wide>"])
    got = server.call("files/metadata", {"file_id": fid, "metadata": text}, login=director)
    assert list(got["metadata"].items()) == [("Title", "Reel 1"), ("Camera", "A cam"), ("Lens", "35mm <wide>")]
    assert server.post("files/metadata", {"file_id": fid, "metadata": "Camera<=|=>A<=|=>odd"},
                       login=director).status == 400
    assert server.post("files/metadata", {"file_id": fid, "metadata": ""}, login=review["colorist"]).status == 403
    got = server.call("files/metadata", {"file_id": fid, "metadata": ""}, login=director)
    assert got["metadata"] == {"Title": "Reel 1"}


def test_playback_position_and_viewed_are_per_user(server, review):
    fid, director, colorist = review["file"], review["director"], review["colorist"]
    server.call("files/playbackpos", {"file_id": fid, "position": "%f" % 12.5}, login=director)
    url = server.call("files/url", {"file_id": fid}, login=director)
    assert url["id"] == fid and url["timecode"] == "01:00:00:00"

    def listed(login):
        items = server.call("projects/files/audiovideo", {"project_id": review["project"], "dept": -1,
                                                          "parent": "/", "showLastPlaybackPos": 1}, login=login)
        return [(f["last_pos"], f["viewed"]) for f in items if f["id"] == fid][0]

    assert listed(director) == (12.5, True)
    assert listed(colorist) == (0.0, False)
    assert server.post("files/playbackpos", {"file_id": fid, "position": "-1"}, login=director).status == 400


def test_app_files_for_preference_backups(server, review):
    app, director = "Qm7Tz2VbNc4XrW9pLs3K", review["director"]

    def backup(content, title="Reelmark"):
        r = server.post_file("files/upload", {"project_id": -1, "department": -1, "parent": "/", "title": title,
                                              "mime-type": "application/octet-stream", "auto_revise": 1,
                                              "notifications": 0, "app_id": app, "date": "1700000000"},
                             "com.brightvane.reelmark.plist", content, login=director, leading_crlf=True)
        assert r.status == 200, r.body
        return r.json()

    backup(b"<plist>one</plist>")
    second = backup(b"<plist>two</plist>")
    backup(b"<plist>other</plist>", title="Other App")
    listing = server.call("apps/files", {"project_id": -1, "dept": -1, "parent": "/", "app_id": app}, login=director)
    assert sorted(f["title"] for f in listing) == ["Other App", "Reelmark"]
    latest = [f for f in listing if f["title"] == "Reelmark"][0]
    assert latest["id"] == second["id"]  # the newest backup answers for the title
    url = server.call("files/url", {"file_id": latest["id"]}, login=director)["url"]
    body = server.request("GET", url.split(str(server.port), 1)[1]).body
    assert body == b"<plist>two</plist>"
    # App files are kept apart from ordinary private storage and from other users.
    assert server.call("projects/files", {"project_id": -1, "dept": -1, "parent": "/"}, login=director) == []
    assert server.call("apps/files", {"project_id": -1, "dept": -1, "parent": "/", "app_id": app},
                       login=review["colorist"]) == []
    assert server.post("apps/files/remove", {"file_id": latest["id"], "app_id": "wrong"}, login=director).status == 404
    server.call("apps/files/remove", {"file_id": latest["id"], "app_id": app}, login=director)
    listing = server.call("apps/files", {"project_id": -1, "dept": -1, "parent": "/", "app_id": app}, login=director)
    assert [f["title"] for f in listing] == ["Other App"]


def test_relationships_events_and_comment_streams(server, review):
    pid, director = review["project"], review["director"]
    stream = server.call("commentstream/create", {"project_id": pid, "title": "Live notes", "frame_rate": "25.00",
                                                  "timecode": "10:00:00:00", "drop_frame": 0, "dept_id": -1,
                                                  "folder": "/"}, login=director)
    assert stream["type"] == "commentstream" and stream["startTimecode"] == "10:00:00:00"
    base = {"project_id": pid, "dept": -1, "parent": "/"}
    assert stream["id"] not in [f["id"] for f in server.call("projects/files", base, login=director)]
    assert stream["id"] in [f["id"] for f in server.call("projects/files", dict(base, commentstreams=1), login=director)]
    assert server.post("files/url", {"file_id": stream["id"]}, login=director).status == 404

    link = server.call("relationships/create", {"file_id": review["file"], "related_file_id": stream["id"],
                                                "linktype": "notes"}, login=director)
    both = server.call("relationships", {"file_id": stream["id"]}, login=director)
    assert [(r["linktype"], r["related_file_id"]) for r in both] == [("notes", review["file"])]
    assert both[0]["id"] == link["id"]
    assert server.call("relationships", {"file_id": stream["id"], "linktypes": "revision"}, login=director) == []

    events = server.call("projects/events", {"since": "0"}, login=director)
    kinds = {e["type"] for e in events if e["project_id"] == pid}
    assert {"upload", "comment", "commentstream"} <= kinds
    assert server.call("projects/events", {"since": "99999999999"}, login=director) == []


def test_removing_a_revision_brings_back_the_one_before(server, review):
    pid, director, colorist = review["project"], review["director"], review["colorist"]
    made = []
    for n in range(3):
        r = server.post_file("files/upload", {"project_id": pid, "parent": "/Trims", "department": -1, "title": "Trim",
                                              "auto_revise": 1}, "trim%d.mov" % n, b"%d" % n, login=director)
        made.append(r.json()["id"])

    def latest():
        items = server.call("projects/files", {"project_id": pid, "dept": -1, "parent": "/Trims"}, login=colorist)
        return [(f["id"], f["revision"]) for f in items]

    assert latest() == [(made[2], 3)]
    assert server.post("files/remove", {"file_id": made[2]}, login=colorist).status == 403
    server.call("files/remove", {"file_id": made[2]}, login=director)
    assert latest() == [(made[1], 2)]
    assert [r["id"] for r in server.call("projects/files/revisions", {"file_id": made[0]}, login=director)] == made[:2]
    assert server.post("files/url", {"file_id": made[2]}, login=director).status == 404
    server.call("files/remove", {"file_id": made[0], "all_revisions": 1}, login=director)
    assert latest() == []
