"""One file: its record, streaming address, revisions, metadata, approvals, position, links."""

import os

from . import records as R
from .api import ApiError, operation
from .auth import display_name

METADATA_SEPARATOR = "<=|=>"


def _file(tx, call, key="file_id"):
    return R.file_for(tx, call.user, call.integer(key, required=True))


@operation("file")
def get_file(tx, call):
    f = _file(tx, call)
    record = R.file_record(call, f, thumbs=True, last_pos=True)
    record["settings"] = R.file_settings(f)
    return record


@operation("files/url", write=True)
def file_url(tx, call):
    f = _file(tx, call)
    if not f["stored"]:
        raise ApiError(404, "The file %d has no media to play" % f["id"])
    tx.execute("INSERT INTO file_views (file_id, user_id, viewed) VALUES (?, ?, 1) "
               "ON CONFLICT (file_id, user_id) DO UPDATE SET viewed = 1", (f["id"], call.user["id"]))
    return {"id": f["id"], "url": call.service.media_url(call.base_url(), f), "timecode": f["start_timecode"],
            "dropFrame": bool(f["drop_frame"]), "title": f["title"], "size": f["size"], "mime": f["mime"]}


@operation("projects/files/revisions")
def revisions(tx, call):
    f = _file(tx, call)
    rows = tx.all("SELECT %s %s WHERE f.revision_group = ? AND f.removed = 0 ORDER BY f.revision, f.id"
                  % (R.FILE_COLUMNS, R.FILE_JOINS), (call.user["id"], f["revision_group"]))
    thumbs = call.flag("thumbs")
    result = [R.file_record(call, r, thumbs=thumbs) for r in rows]
    if result:
        result[-1]["latest_revision"] = True
    return result


def _metadata(tx, f):
    entries = {"Title": f["title"]}
    for row in tx.all("SELECT key, value FROM file_metadata WHERE file_id = ? ORDER BY position", (f["id"],)):
        if row["key"] != "Title":
            entries[row["key"]] = row["value"]
    return {"file_id": f["id"], "metadata": entries}


def parse_metadata(text):
    """"k1<=|=>v1<=|=>k2<=|=>v2" -> [(k1, v1), (k2, v2)]; the empty text is no entries."""
    if text == "":
        return []
    fields = text.split(METADATA_SEPARATOR)
    if len(fields) % 2:
        raise ApiError(400, "Metadata must be pairs of key and value separated by %s" % METADATA_SEPARATOR)
    pairs = list(zip(fields[0::2], fields[1::2]))
    if any(not k for k, _ in pairs):
        raise ApiError(400, "A metadata key cannot be empty")
    return pairs


@operation("files/metadata", write=True)
def metadata(tx, call):
    f = _file(tx, call)
    if call.has("metadata"):
        pairs = parse_metadata(call.text("metadata"))
        R.require_file_change(tx, call.user, f, "change this file's metadata")
        tx.execute("DELETE FROM file_metadata WHERE file_id = ?", (f["id"],))
        for i, (key, value) in enumerate(pairs):
            if key == "Title":
                if value.strip():
                    tx.execute("UPDATE files SET title = ? WHERE id = ?", (value.strip(), f["id"]))
                continue
            tx.execute("INSERT INTO file_metadata (file_id, position, key, value) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT (file_id, position) DO UPDATE SET key = excluded.key, value = excluded.value",
                       (f["id"], i, key, value))
        f = R.file_for(tx, call.user, f["id"])
    return _metadata(tx, f)


def _decide(tx, call, status, verb):
    f = _file(tx, call)
    R.require_file_change(tx, call.user, f, "%s this file" % verb[:-1])
    comment = call.text("comment", "")
    tx.execute("UPDATE files SET status = ? WHERE id = ?", (status, f["id"]))
    approval = tx.insert("approvals", {"file_id": f["id"], "user_id": call.user["id"], "status": status,
                                       "comment": comment, "created": R.now()})
    R.add_event(tx, call.user, f["project_id"], verb, "%s %s" % (verb.capitalize(), f["title"]), f["id"])
    return {"id": f["id"], "file_id": f["id"], "status": status, "approval_id": approval,
            "comment": comment, "user": display_name(call.user)}


@operation("files/approve", write=True)
def approve(tx, call):
    return _decide(tx, call, 4, "approved")


@operation("files/reject", write=True)
def reject(tx, call):
    return _decide(tx, call, 3, "rejected")


@operation("files/approvals")
def approvals(tx, call):
    f = _file(tx, call)
    rows = tx.all("SELECT * FROM approvals WHERE file_id = ? ORDER BY id", (f["id"],))
    names = R.user_names(tx, [r["user_id"] for r in rows])
    return [{"id": r["id"], "status": r["status"], "comment": r["comment"], "date": r["created"],
             "user": names.get(r["user_id"], "")} for r in rows]


@operation("files/playbackpos", write=True)
def playback_position(tx, call):
    f = _file(tx, call)
    position = call.number("position", required=True)
    if position < 0:
        raise ApiError(400, 'Parameter "position" cannot be negative')
    tx.execute("INSERT INTO file_views (file_id, user_id, last_pos) VALUES (?, ?, ?) "
               "ON CONFLICT (file_id, user_id) DO UPDATE SET last_pos = excluded.last_pos",
               (f["id"], call.user["id"], position))
    return {"file_id": f["id"], "position": position}


@operation("relationships")
def relationships(tx, call):
    f = _file(tx, call)
    wanted = [t.strip() for t in (call.text("linktypes") or "").split(",") if t.strip()]
    links = []
    for r in tx.all("SELECT * FROM relationships WHERE file_id = ? OR related_file_id = ? ORDER BY id",
                    (f["id"], f["id"])):
        other = r["related_file_id"] if r["file_id"] == f["id"] else r["file_id"]
        links.append((r["id"], r["link_type"], other))
    for r in tx.all("SELECT id FROM files WHERE revision_group = ? AND id <> ? AND removed = 0 ORDER BY revision",
                    (f["revision_group"], f["id"])):
        links.append((None, "revision", r["id"]))
    result = []
    for link_id, link_type, other in links:
        if wanted and link_type not in wanted:
            continue
        try:
            o = R.file_for(tx, call.user, other)
        except ApiError:
            continue  # a linked file the user cannot see stays hidden
        result.append({"id": link_id if link_id is not None else -1, "linktype": link_type,
                       "file_id": f["id"], "related_file_id": o["id"], "title": o["title"], "type": o["kind"]})
    return result


@operation("relationships/create", write=True)
def create_relationship(tx, call):
    f = _file(tx, call)
    R.require_file_change(tx, call.user, f, "link this file")
    other = R.file_for(tx, call.user, call.integer("related_file_id", required=True))
    link_type = (call.text("linktype") or "").strip()
    if not link_type or link_type == "revision":
        raise ApiError(400, 'Parameter "linktype" must name a kind of link other than "revision"')
    if other["id"] == f["id"]:
        raise ApiError(400, "A file cannot be linked to itself")
    rid = tx.insert("relationships", {"file_id": f["id"], "related_file_id": other["id"],
                                      "link_type": link_type, "created": R.now()})
    return {"id": rid, "linktype": link_type, "file_id": f["id"], "related_file_id": other["id"]}


@operation("apps/files/remove", write=True)
def remove_app_file(tx, call):
    f = _file(tx, call)
    app_id = call.text("app_id", required=True)
    if not app_id or f["app_id"] != app_id:
        raise ApiError(404, "No file with id %d for this application" % f["id"])
    R.require_group_change(tx, call.user, f)
    remove_group(tx, call, f)
    return {"id": f["id"], "removed": True}


@operation("files/remove", write=True)
def remove_file(tx, call):
    """Removes one revision, or with "all_revisions" the file with every revision (uploader or admin)."""
    f = _file(tx, call)
    if f["app_id"]:
        raise ApiError(404, "No file with id %d" % f["id"])
    if call.flag("all_revisions"):
        R.require_group_change(tx, call.user, f)
        remove_group(tx, call, f)
    else:
        R.require_file_change(tx, call.user, f, "remove this file")
        tx.execute("UPDATE files SET removed = 1 WHERE id = ?", (f["id"],))
        paths = [call.service.stored_path(rel) for rel in (f["stored"], f["thumb"]) if rel]
        call.after_commit(lambda: _unlink_all(paths))
    return {"id": f["id"], "removed": True}


def remove_group(tx, call, f):
    """Removes a file with all its revisions; their bytes go once the removal is committed."""
    rows = tx.all("SELECT id, stored, thumb FROM files WHERE revision_group = ? AND removed = 0",
                  (f["revision_group"],))
    tx.execute("UPDATE files SET removed = 1 WHERE revision_group = ?", (f["revision_group"],))
    paths = [call.service.stored_path(rel) for r in rows for rel in (r["stored"], r["thumb"]) if rel]
    call.after_commit(lambda: _unlink_all(paths))


def _unlink_all(paths):
    for path in paths:
        try:
            os.unlink(path)
        except OSError:
            pass
