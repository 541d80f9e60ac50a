"""Who may see what, and the reply records built from rows."""

import json
import os
import re
import time

from .api import ApiError
from .auth import display_name

PRIVATE = -1  # the project id of each user's private storage

_VIDEO = {"mov", "mp4", "m4v", "mxf", "avi", "mkv", "webm", "mpg", "mpeg", "mts", "m2ts", "ts", "dv",
          "3gp", "flv", "wmv", "ogv", "y4m"}
_AUDIO = {"wav", "aif", "aiff", "mp3", "m4a", "aac", "flac", "ogg", "oga", "opus", "wma", "bwf", "caf"}
_IMAGE = {"png", "jpg", "jpeg", "tif", "tiff", "bmp", "gif", "exr", "dpx", "tga", "webp", "psd"}
_TIMECODE = re.compile(r"^\d{1,3}:\d{1,2}:\d{1,2}[:;.]\d{1,3}$")

FILE_COLUMNS = ("f.*, u.first_name AS c_first, u.last_name AS c_last, u.email AS c_email, "
                "v.viewed AS v_viewed, v.last_pos AS v_last_pos")
FILE_JOINS = ("FROM files f LEFT JOIN users u ON u.id = f.creator_id "
              "LEFT JOIN file_views v ON v.file_id = f.id AND v.user_id = ?")
LATEST = ("f.revision = (SELECT MAX(g.revision) FROM files g "
          "WHERE g.revision_group = f.revision_group AND g.removed = 0)")


def now():
    return int(time.time())


MAX_DEPTH = 32      # folders inside folders
MAX_NAME = 255      # characters of a folder's or a file's name
MAX_TITLE = 1024


def normalize_path(path):
    parts = [p for p in (path or "/").split("/") if p]
    if len(parts) > MAX_DEPTH:
        raise ApiError(400, "A folder path can be at most %d folders deep" % MAX_DEPTH)
    if any(len(p) > MAX_NAME for p in parts):
        raise ApiError(400, "A folder name can have at most %d characters" % MAX_NAME)
    return "/" + "/".join(parts)


def check_name(text, what, limit=MAX_NAME):
    if len(text) > limit:
        raise ApiError(400, "%s can have at most %d characters" % (what, limit))
    return text


def join_path(parent, title):
    return title and ("/" + title if parent == "/" else parent + "/" + title)


def check_timecode(text, key="timecode"):
    if not _TIMECODE.match(text or ""):
        raise ApiError(400, 'Parameter "%s" must be a timecode such as 01:00:00:00' % key)
    return text


def file_kind(mime, filename):
    ext = os.path.splitext(filename or "")[1].lower().lstrip(".")
    if ext in _VIDEO or (mime or "").startswith("video/"):
        return "video"
    if ext in _AUDIO or (mime or "").startswith("audio/"):
        return "audio"
    if ext in _IMAGE or (mime or "").startswith("image/"):
        return "image"
    return "file"


def is_member(tx, user, project_id):
    if user["is_admin"]:
        return True
    return tx.value("SELECT 1 FROM project_members WHERE project_id = ? AND user_id = ?",
                    (project_id, user["id"])) is not None


def project_for(tx, user, project_id, upload=False):
    """The project row (a stand-in for private storage); 404 when the user may not see it."""
    if project_id == PRIVATE:
        return {"id": PRIVATE, "title": "Private Storage"}
    project = tx.one("SELECT * FROM projects WHERE id = ?", (project_id,))
    if project is None or not is_member(tx, user, project_id):
        raise ApiError(404, "No project with id %d" % project_id)
    if upload and not user["is_admin"]:
        allowed = tx.value("SELECT can_upload FROM project_members WHERE project_id = ? AND user_id = ?",
                           (project_id, user["id"]))
        if not allowed:
            raise ApiError(403, "You cannot upload to this project")
    return project


def owner_for(user, project_id):
    """Files and folders of private storage belong to one user; project items to nobody."""
    return user["id"] if project_id == PRIVATE else 0


def file_for(tx, user, file_id):
    """The file row with its creator and this user's view; 404 when it is not visible."""
    f = tx.one("SELECT %s, (SELECT 1 FROM project_members m WHERE m.project_id = f.project_id AND m.user_id = ?) "
               "AS member %s WHERE f.id = ? AND f.removed = 0" % (FILE_COLUMNS, FILE_JOINS),
               (user["id"], user["id"], file_id))
    if f is None:
        raise ApiError(404, "No file with id %d" % file_id)
    if f["project_id"] == PRIVATE:
        if f["owner_id"] != user["id"]:
            raise ApiError(404, "No file with id %d" % file_id)
    elif not (f["member"] or user["is_admin"]):
        raise ApiError(404, "No file with id %d" % file_id)
    return f


def is_project_admin(tx, user, project_id):
    """A server administrator, or the creator of the project (its administrator)."""
    if user["is_admin"]:
        return True
    if project_id == PRIVATE:
        return False
    return tx.value("SELECT 1 FROM projects WHERE id = ? AND creator_id = ?", (project_id, user["id"])) is not None


def may_change(tx, user, project_id, author_id, owner_id=0):
    """The one rule for changing or removing a file, a revision, a comment or a file's status: the
    one who made it (the uploader, the comment's author), the project's administrator or a server
    administrator. Private storage belongs to its owner alone."""
    if project_id == PRIVATE:
        return owner_id == user["id"]
    return author_id == user["id"] or is_project_admin(tx, user, project_id)


def require_file_change(tx, user, f, what="change this file"):
    """Raises 403 unless the user may change the visible file row `f`."""
    if not may_change(tx, user, f["project_id"], f["creator_id"], f["owner_id"]):
        raise ApiError(403, "Only the uploader or an administrator can %s" % what)


def require_group_change(tx, user, f, what="remove this file"):
    require_file_change(tx, user, f, what)
    for r in tx.all("SELECT project_id, creator_id, owner_id FROM files WHERE revision_group = ? AND removed = 0",
                    (f["revision_group"],)):
        if not may_change(tx, user, r["project_id"], r["creator_id"], r["owner_id"]):
            raise ApiError(403, "Only the uploader or an administrator can %s" % what)


def require_comment_change(tx, user, comment, f):
    if not may_change(tx, user, f["project_id"], comment["user_id"], f["owner_id"]):
        raise ApiError(403, "Only its author or an administrator can change this comment")


def _creator(row):
    if row.get("c_email") is None:
        return ""
    return display_name({"first_name": row["c_first"], "last_name": row["c_last"], "email": row["c_email"]})


def file_record(call, f, thumbs=False, last_pos=False):
    record = {
        "id": f["id"],
        "type": f["kind"],
        "title": f["title"],
        "description": f["description"],
        "project_id": f["project_id"],
        "department": f["dept_id"],
        "parent": f["parent"],
        "creator": _creator(f),
        "date": f["created"],
        "viewed": bool(f.get("v_viewed")),
        "status": f["status"],
        "startTimecode": f["start_timecode"],
        "dropFrame": bool(f["drop_frame"]),
        "frameRate": f["frame_rate"],
        "duration": f["duration"],
        "size": f["size"],
        "mime": f["mime"],
        "filename": f["filename"],
        "audio": f["kind"] == "audio",
        "revision": f["revision"],
        "allowComments": bool(f["allow_comments"]),
    }
    if f["app_id"]:
        record["app_id"] = f["app_id"]
    if last_pos:
        record["last_pos"] = float(f.get("v_last_pos") or 0.0)
    if thumbs and f["thumb"]:
        record["thumb"] = call.service.thumb_url(call.base_url(), f)
    return record


def file_settings(f):
    try:
        settings = json.loads(f["settings"] or "{}")
    except ValueError:
        settings = {}
    return settings if isinstance(settings, dict) else {}


def folder_record(row, creator=""):
    return {
        "id": row["id"],
        "type": "folder",
        "title": row["title"],
        "path": row["path"],
        "parent": row["parent"],
        "department": row["dept_id"],
        "project_id": row["project_id"],
        "creator": creator,
        "date": row["created"],
    }


def user_names(tx, ids):
    ids = sorted(set(i for i in ids if i))
    if not ids:
        return {}
    rows = tx.all("SELECT id, first_name, last_name, email FROM users WHERE id IN (%s)"
                  % ",".join("?" for _ in ids), ids)
    return {r["id"]: display_name(r) for r in rows}


def project_record(row, creator=""):
    return {
        "id": row["id"],
        "title": row["title"],
        "description": row["description"],
        "client": row["client"],
        "status": row["status"],
        "unique_project_id": row["unique_project_id"] or "",
        "creator": creator,
        "date": row["created"],
    }


def add_event(tx, user, project_id, kind, description, file_id=-1):
    tx.insert("events", {"project_id": project_id, "file_id": file_id, "user_id": user["id"],
                         "kind": kind, "description": description, "created": now()})
