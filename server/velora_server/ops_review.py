"""Comments with colours and their annotations."""

from . import records as R
from .api import ApiError, operation
from .auth import display_name

MAX_COLOR = 10


_WITH_AUTHOR = ("SELECT c.*, a.id AS annotation_id, u.first_name, u.last_name, u.email FROM comments c "
                "LEFT JOIN annotations a ON a.comment_id = c.id LEFT JOIN users u ON u.id = c.user_id ")


def _author(row):
    return display_name(row) if row["email"] is not None else ""


def _comment_record(row, user, author, annotation_id, admin=False):
    record = {
        "id": row["id"],
        "file_id": row["file_id"],
        "body": row["body"],
        "position": row["position"],
        "color": row["color"],
        "user": author,
        "user_id": row["user_id"],
        "isCurrentUser": row["user_id"] == user["id"],
        "can_edit": row["user_id"] == user["id"] or admin,
        "date": row["created"],
    }
    if row["edited"]:
        record["edited"] = row["edited"]
    if annotation_id is not None:
        record["annotation"] = annotation_id
    return record


def _color(call, default):
    color = call.integer("color", default)
    if color is not None and not 0 <= color <= MAX_COLOR:
        raise ApiError(400, 'Parameter "color" must be between 0 and %d' % MAX_COLOR)
    return color


def _comment(tx, call, comment_id, editing):
    row = tx.one("SELECT * FROM comments WHERE id = ?", (comment_id,))
    if row is None:
        raise ApiError(404, "No comment with id %d" % comment_id)
    f = R.file_for(tx, call.user, row["file_id"])
    if editing:
        R.require_comment_change(tx, call.user, row, f)
    return row


def _reply(tx, call, comment_id):
    row = tx.one(_WITH_AUTHOR + "WHERE c.id = ?", (comment_id,))
    f = tx.one("SELECT project_id FROM files WHERE id = ?", (row["file_id"],))
    return _comment_record(row, call.user, _author(row), row["annotation_id"],
                           R.is_project_admin(tx, call.user, f["project_id"]))


@operation("comments")
def comments(tx, call):
    f = R.file_for(tx, call.user, call.integer("file_id", required=True))
    rows = tx.all(_WITH_AUTHOR + "WHERE c.file_id = ? ORDER BY c.id", (f["id"],))
    admin = R.is_project_admin(tx, call.user, f["project_id"])
    return [_comment_record(r, call.user, _author(r), r["annotation_id"], admin) for r in rows]


@operation("comments/create", write=True)
def create_comment(tx, call):
    f = R.file_for(tx, call.user, call.integer("file_id", required=True))
    if not f["allow_comments"]:
        raise ApiError(403, "Comments are switched off for this file")
    body = call.text("body", required=True)
    timecode = R.check_timecode(call.text("timecode", required=True))
    cid = tx.insert("comments", {"file_id": f["id"], "user_id": call.user["id"], "body": body,
                                 "position": timecode, "color": _color(call, 0), "created": R.now()})
    R.add_event(tx, call.user, f["project_id"], "comment",
                "%s commented on %s at %s" % (display_name(call.user), f["title"], timecode), f["id"])
    return _reply(tx, call, cid)


@operation("comments/edit", write=True)
def edit_comment(tx, call):
    row = _comment(tx, call, call.integer("comment_id", required=True), editing=True)
    body = call.text("body", required=True)
    timecode = call.text("timecode")
    if timecode is not None:
        R.check_timecode(timecode)
    color = _color(call, None)
    tx.execute("UPDATE comments SET body = ?, position = ?, color = ?, edited = ? WHERE id = ?",
               (body, timecode if timecode is not None else row["position"],
                color if color is not None else row["color"], R.now(), row["id"]))
    return _reply(tx, call, row["id"])


@operation("comments/remove", write=True)
def remove_comment(tx, call):
    row = _comment(tx, call, call.integer("comment_id", required=True), editing=True)
    tx.execute("DELETE FROM annotations WHERE comment_id = ?", (row["id"],))
    tx.execute("DELETE FROM comments WHERE id = ?", (row["id"],))
    return {"id": row["id"], "comment_id": row["id"], "removed": True}


def _annotation_reply(row):
    return {"annotation_id": row["id"], "comment_id": row["comment_id"], "data": row["data"]}


def _annotation(tx, call, annotation_id, editing):
    row = tx.one("SELECT * FROM annotations WHERE id = ?", (annotation_id,))
    if row is None:
        raise ApiError(404, "No annotation with id %d" % annotation_id)
    _comment(tx, call, row["comment_id"], editing)
    return row


@operation("annotation", write=True)
def annotation(tx, call):
    if not call.has("comment_id"):
        return _annotation_reply(_annotation(tx, call, call.integer("annotation_id", required=True), False))
    comment = _comment(tx, call, call.integer("comment_id", required=True), editing=True)
    data = call.text("data", required=True)
    if not data.strip():
        raise ApiError(400, "An annotation cannot be empty")
    tx.execute("INSERT INTO annotations (comment_id, user_id, data, created) VALUES (?, ?, ?, ?) "
               "ON CONFLICT (comment_id) DO UPDATE SET data = excluded.data, created = excluded.created",
               (comment["id"], call.user["id"], data, R.now()))
    return _annotation_reply(tx.one("SELECT * FROM annotations WHERE comment_id = ?", (comment["id"],)))


@operation("annotation/remove", write=True)
def remove_annotation(tx, call):
    row = _annotation(tx, call, call.integer("annotation_id", required=True), True)
    tx.execute("DELETE FROM annotations WHERE id = ?", (row["id"],))
    return {"annotation_id": row["id"], "comment_id": row["comment_id"], "removed": True}
