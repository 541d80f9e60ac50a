"""Registering uploaded files and thumbnails.

A file reaches the server either as the "file" part of a streamed multipart POST to
"/files/upload", or first as an object PUT to the storage endpoint (storage.py) and then as a
form POST to "/files/upload" whose "source" names that object's key.
"""

import json
import mimetypes
import os
import re

from . import records as R
from .api import ApiError, operation
from .ops_catalogue import check_department, ensure_folder

_KNOWN = {"username", "password", "source", "parent", "department", "project_id", "title", "mime-type",
          "auto_revise", "notifications", "description", "frameRate", "timecodeStart", "duration", "app_id",
          "resetsize", "link_emails", "link_comments", "source_id", "file"}
_UNSAFE = re.compile(r"[^A-Za-z0-9._-]")
THUMB_LIMIT = 10 * 1024 * 1024


def safe_name(name):
    name = _UNSAFE.sub("_", os.path.basename(name or "")) or "file"
    name = "_" + name if name.startswith(".") else name
    if len(name) > 200:  # well inside the file system's 255 bytes, keeping the extension
        stem, ext = os.path.splitext(name)
        name = stem[:200 - len(ext[:20])] + ext[:20]
    return name


def _sync_folder(path):
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def object_filename(key):
    """The original name inside a storage key "uploads/<random>-<name>"."""
    base = key.rsplit("/", 1)[-1]
    head, sep, rest = base.partition("-")
    return rest if sep and rest else base


def _latest_same_title(tx, project_id, owner, app_id, dept, parent, title):
    return tx.one("SELECT f.revision_group, f.revision FROM files f WHERE f.removed = 0 AND f.project_id = ? "
                  "AND f.owner_id = ? AND f.app_id = ? AND f.dept_id = ? AND f.parent = ? AND f.title = ? "
                  "AND f.kind <> 'commentstream' AND %s ORDER BY f.id DESC LIMIT 1" % R.LATEST,
                  (project_id, owner, app_id, dept, parent, title))


@operation("files/upload", write=True)
def upload(tx, call):
    user, service = call.user, call.service
    project_id = call.integer("project_id", required=True)
    if project_id == 0:
        raise ApiError(400, 'Parameter "project_id" must name a project')
    R.project_for(tx, user, project_id, upload=True)
    app_id = call.text("app_id", "") or ""
    dept = call.integer("department", -1)
    if project_id == R.PRIVATE:
        dept = -1
    check_department(tx, project_id, dept)
    parent = R.normalize_path(call.text("parent", "/"))
    if parent != "/":
        ensure_folder(tx, user, project_id, dept, app_id, parent)

    part, source = call.part("file"), (call.text("source") or "").strip()
    obj = None
    if part is not None:
        src, size, filename, part_type = part.path, part.size, part.filename, part.content_type
    elif source:
        obj = tx.one("SELECT * FROM objects WHERE key = ?", (source,))
        if obj is None:
            raise ApiError(404, "No stored object with the key %s" % source)
        src, size, filename, part_type = service.stored_path(obj["stored"]), obj["size"], \
            object_filename(source), obj["mime"]
    else:
        raise ApiError(400, 'The upload carries neither a "file" part nor a "source"')
    filename = R.check_name(os.path.basename((filename or "").replace("\x00", "")) or "file", "A file name")
    title = R.check_name((call.text("title") or "").strip() or filename, "A title", R.MAX_TITLE)
    mime = (call.text("mime-type") or "").strip()
    if not mime or mime == "application/octet-stream":
        mime = mimetypes.guess_type(filename)[0] or part_type or "application/octet-stream"
    timecode = call.text("timecodeStart")
    if timecode:
        R.check_timecode(timecode, "timecodeStart")
    duration = call.integer("duration", 0)
    if duration < 0:
        raise ApiError(400, 'Parameter "duration" cannot be negative')
    extra = {k: v for k, v in call.params.items() if k not in _KNOWN}
    for key in ("link_emails", "link_comments", "resetsize"):
        if call.has(key):
            extra[key] = call.text(key)

    owner = R.owner_for(user, project_id)
    group, revision = 0, 1
    if call.flag("auto_revise"):
        previous = _latest_same_title(tx, project_id, owner, app_id, dept, parent, title)
        if previous is not None:
            group, revision = previous["revision_group"], previous["revision"] + 1
    fid = tx.insert("files", {
        "project_id": project_id, "owner_id": owner, "dept_id": dept, "app_id": app_id, "parent": parent,
        "title": title, "description": call.text("description", "") or "",
        "kind": R.file_kind(mime, filename), "mime": mime, "size": size, "filename": filename,
        "creator_id": user["id"], "created": R.now(), "start_timecode": timecode or "00:00:00:00",
        "drop_frame": 1 if (timecode and ";" in timecode) else 0,
        "frame_rate": call.number("frameRate", 0.0) or 0.0, "duration": duration,
        "allow_comments": 0 if app_id else 1,
        "notifications": 1 if call.flag("notifications") else 0, "source_id": call.text("source_id", "") or "",
        "settings": json.dumps(extra, ensure_ascii=False), "revision_group": group, "revision": revision,
    })
    if group == 0:
        tx.execute("UPDATE files SET revision_group = id WHERE id = ?", (fid,))
    relative = os.path.join(service.file_folder(fid), safe_name(filename))
    folder = os.path.dirname(service.stored_path(relative))
    os.makedirs(folder, exist_ok=True)
    os.replace(src, service.stored_path(relative))
    # The bytes were flushed when they were received; the new name is, before the record commits.
    _sync_folder(folder)
    _sync_folder(os.path.dirname(folder))
    tx.execute("UPDATE files SET stored = ? WHERE id = ?", (relative, fid))
    if obj is not None:
        tx.execute("DELETE FROM objects WHERE key = ?", (source,))
    R.add_event(tx, user, project_id, "upload", "Uploaded %s" % title, fid)
    rate = call.number("frameRate", 0.0)
    call.after_commit(lambda: service.prober and service.prober.schedule(fid, not timecode, not rate, not duration))
    return R.file_record(call, R.file_for(tx, user, fid), thumbs=True)


def _image_kind(path):
    with open(path, "rb") as f:
        head = f.read(8)
    if head.startswith(b"\xff\xd8\xff"):
        return "jpeg"
    if head.startswith(b"\x89PNG\r\n\x1a\n"):
        return "png"
    return None


@operation("files/thumb", write=True)
def thumbnail(tx, call):
    f = R.file_for(tx, call.user, call.integer("file_id", required=True))
    R.require_file_change(tx, call.user, f, "change this file's thumbnail")
    part = call.part("file")
    if part is None:
        raise ApiError(400, 'The thumbnail is sent as the "file" part')
    if part.size > THUMB_LIMIT:
        raise ApiError(413, "A thumbnail cannot be larger than %d bytes" % THUMB_LIMIT)
    if _image_kind(part.path) is None:
        raise ApiError(400, "A thumbnail must be a JPEG or PNG image")
    relative = os.path.join("thumbs", "%d.jpg" % f["id"])
    os.replace(part.path, call.service.stored_path(relative))
    tx.execute("UPDATE files SET thumb = ? WHERE id = ?", (relative, f["id"]))
    f = R.file_for(tx, call.user, f["id"])
    return {"id": f["id"], "file_id": f["id"], "thumb": call.service.thumb_url(call.base_url(), f)}
