"""Signing in, projects, departments, folders and the file listings."""

from . import records as R
from .api import ApiError, operation
from .auth import display_name


@operation("authenticate")
def authenticate(tx, call):
    user = call.user
    return {"id": user["id"], "name": display_name(user), "username": user["email"],
            "first_name": user["first_name"], "last_name": user["last_name"],
            "admin": bool(user["is_admin"])}


@operation("projects")
def projects(tx, call):
    user = call.user
    if user["is_admin"]:
        rows = tx.all("SELECT * FROM projects ORDER BY title, id")
    else:
        rows = tx.all("SELECT p.* FROM projects p JOIN project_members m ON m.project_id = p.id "
                      "WHERE m.user_id = ? ORDER BY p.title, p.id", (user["id"],))
    names = R.user_names(tx, [r["creator_id"] for r in rows])
    result = [R.project_record(r, names.get(r["creator_id"], "")) for r in rows]
    if call.flag("privateStorage"):
        result.insert(0, {"id": R.PRIVATE, "title": "Private Storage", "description": "", "client": "",
                          "status": 0, "unique_project_id": "", "creator": display_name(user), "date": 0})
    return result


@operation("projects/create", write=True)
def create_project(tx, call):
    title = (call.text("title") or "").strip()
    if not title:
        raise ApiError(400, "A project needs a title")
    unique = (call.text("unique_project_id") or "").strip() or None
    if unique and tx.value("SELECT 1 FROM projects WHERE unique_project_id = ?", (unique,)):
        raise ApiError(409, "The project id %s is taken" % unique)
    pid = tx.insert("projects", {"title": title, "description": call.text("description", ""),
                                 "client": call.text("client", ""), "status": call.integer("status", 0),
                                 "unique_project_id": unique, "creator_id": call.user["id"],
                                 "created": R.now()})
    tx.execute("INSERT INTO project_members (project_id, user_id, can_upload) VALUES (?, ?, 1)",
               (pid, call.user["id"]))
    R.add_event(tx, call.user, pid, "project", "Created project %s" % title)
    row = tx.one("SELECT * FROM projects WHERE id = ?", (pid,))
    return R.project_record(row, display_name(call.user))


@operation("uniqueprojectid")
def unique_project_id(tx, call):
    text = (call.text("unique_project_id", required=True) or "").strip()
    if not text:
        raise ApiError(400, "The project id is empty")
    taken = tx.value("SELECT 1 FROM projects WHERE unique_project_id = ?", (text,)) is not None
    return {"unique_project_id": text, "unique": not taken}


@operation("projects/departments")
def departments(tx, call):
    project = R.project_for(tx, call.user, call.integer("project_id", required=True))
    rows = tx.all("SELECT * FROM departments WHERE project_id = ? ORDER BY id", (project["id"],))
    return [{"id": r["id"], "type": "department", "title": r["title"], "project_id": r["project_id"],
             "date": r["created"]} for r in rows]


_KINDS = {
    "projects/files": ("video", "audio", "image", "file"),
    "apps/files": ("video", "audio", "image", "file"),
    "projects/files/video": ("video",),
    "projects/files/audiovideo": ("video", "audio"),
}


def _list_files(tx, call, path):
    user = call.user
    project_id = call.integer("project_id", required=True)
    if project_id == 0:
        raise ApiError(400, 'Parameter "project_id" must name a project')
    app_id = (call.text("app_id") or "") if path == "apps/files" else ""
    if path == "apps/files" and not app_id:
        raise ApiError(400, 'Missing parameter "app_id"')
    if app_id:
        project_id = R.PRIVATE
    R.project_for(tx, user, project_id)
    dept = call.integer("dept", -1)
    parent = R.normalize_path(call.text("parent", "/"))
    owner = R.owner_for(user, project_id)
    items = []
    if call.flag("depts") and dept == -1 and parent == "/" and project_id != R.PRIVATE:
        for r in tx.all("SELECT * FROM departments WHERE project_id = ? ORDER BY id", (project_id,)):
            items.append({"id": r["id"], "type": "department", "title": r["title"], "department": r["id"],
                          "creator": "", "date": r["created"]})
    if call.flag("folders"):
        rows = tx.all("SELECT * FROM folders WHERE project_id = ? AND owner_id = ? AND dept_id = ? "
                      "AND app_id = ? AND parent = ? ORDER BY title, id",
                      (project_id, owner, dept, app_id, parent))
        names = R.user_names(tx, [r["creator_id"] for r in rows])
        items += [R.folder_record(r, names.get(r["creator_id"], "")) for r in rows]
    kinds = list(_KINDS[path])
    if call.flag("commentstreams"):
        kinds.append("commentstream")
    rows = tx.all("SELECT %s %s WHERE f.removed = 0 AND f.project_id = ? AND f.owner_id = ? "
                  "AND f.dept_id = ? AND f.app_id = ? AND f.parent = ? AND f.kind IN (%s) AND %s "
                  "ORDER BY f.title, f.id" % (R.FILE_COLUMNS, R.FILE_JOINS, ",".join("?" for _ in kinds),
                                               R.LATEST),
                  [user["id"], project_id, owner, dept, app_id, parent] + kinds)
    thumbs, last_pos = call.flag("thumbs"), call.flag("showLastPlaybackPos")
    items += [R.file_record(call, f, thumbs, last_pos) for f in rows]
    return items


for _path in _KINDS:
    operation(_path)(lambda tx, call, _p=_path: _list_files(tx, call, _p))


@operation("projects/folders")
def folders(tx, call):
    user = call.user
    project_id = call.integer("project_id", required=True)
    R.project_for(tx, user, project_id)
    dept = call.integer("dept", -1)
    parent = R.normalize_path(call.text("parent", "/"))
    owner = R.owner_for(user, project_id)
    if call.flag("subfolders"):
        prefix = "/" if parent == "/" else parent + "/"
        rows = tx.all("SELECT * FROM folders WHERE project_id = ? AND owner_id = ? AND dept_id = ? "
                      "AND app_id = '' AND substr(path, 1, ?) = ? ORDER BY path, id",
                      (project_id, owner, dept, len(prefix), prefix))
    else:
        rows = tx.all("SELECT * FROM folders WHERE project_id = ? AND owner_id = ? AND dept_id = ? "
                      "AND app_id = '' AND parent = ? ORDER BY title, id", (project_id, owner, dept, parent))
    names = R.user_names(tx, [r["creator_id"] for r in rows])
    return [R.folder_record(r, names.get(r["creator_id"], "")) for r in rows]


def ensure_folder(tx, user, project_id, dept, app_id, path):
    """Creates the folder at `path` and any missing parents; answers the deepest one's row."""
    owner = R.owner_for(user, project_id)
    row, parent = None, "/"
    for title in [p for p in path.split("/") if p]:
        full = R.join_path(parent, title)
        row = tx.one("SELECT * FROM folders WHERE project_id = ? AND owner_id = ? AND dept_id = ? "
                     "AND app_id = ? AND path = ?", (project_id, owner, dept, app_id, full))
        if row is None:
            fid = tx.insert("folders", {"project_id": project_id, "owner_id": owner, "dept_id": dept,
                                        "app_id": app_id, "parent": parent, "title": title, "path": full,
                                        "creator_id": user["id"], "created": R.now()})
            row = tx.one("SELECT * FROM folders WHERE id = ?", (fid,))
        parent = full
    return row


def check_department(tx, project_id, dept):
    if dept != -1 and tx.value("SELECT 1 FROM departments WHERE id = ? AND project_id = ?",
                               (dept, project_id)) is None:
        raise ApiError(404, "No department with id %d in this project" % dept)


@operation("folders/create", write=True)
def create_folders(tx, call):
    user = call.user
    project_id = call.integer("project_id", required=True)
    R.project_for(tx, user, project_id, upload=True)
    dept = call.integer("dept", -1)
    check_department(tx, project_id, dept)
    names = [n.strip() for n in (call.text("folder", required=True) or "").split(";")]
    names = [n for n in names if n.strip("/")]
    if not names:
        raise ApiError(400, "A folder needs a name")
    created = []
    for name in names:
        if any(ord(c) < 32 for c in name):
            raise ApiError(400, "A folder name cannot hold control characters")
        row = ensure_folder(tx, user, project_id, dept, "", R.normalize_path(name))
        created.append(R.folder_record(row, display_name(user)))
    return created


@operation("commentstream/create", write=True)
def create_comment_stream(tx, call):
    user = call.user
    project_id = call.integer("project_id", required=True)
    R.project_for(tx, user, project_id, upload=True)
    title = R.check_name((call.text("title") or "").strip(), "A title", R.MAX_TITLE)
    if not title:
        raise ApiError(400, "A comment stream needs a title")
    dept = call.integer("dept_id", -1)
    check_department(tx, project_id, dept)
    parent = R.normalize_path(call.text("folder", "/"))
    if parent != "/":
        ensure_folder(tx, user, project_id, dept, "", parent)
    timecode = R.check_timecode(call.text("timecode") or "00:00:00:00")
    fid = tx.insert("files", {"project_id": project_id, "owner_id": R.owner_for(user, project_id),
                              "dept_id": dept, "parent": parent, "title": title, "kind": "commentstream",
                              "creator_id": user["id"], "created": R.now(), "start_timecode": timecode,
                              "drop_frame": 1 if call.flag("drop_frame") else 0,
                              "frame_rate": call.number("frame_rate", 0.0)})
    tx.execute("UPDATE files SET revision_group = id WHERE id = ?", (fid,))
    R.add_event(tx, user, project_id, "commentstream", "Created comment stream %s" % title, fid)
    return R.file_record(call, R.file_for(tx, user, fid))


@operation("users")
def users(tx, call):
    project_id = call.integer("project_id", required=True)
    R.project_for(tx, call.user, project_id)
    if project_id == R.PRIVATE:
        return []
    rows = tx.all("SELECT u.id, u.first_name, u.last_name, u.email FROM users u "
                  "JOIN project_members m ON m.user_id = u.id WHERE m.project_id = ? AND u.id <> ? "
                  "ORDER BY u.last_name, u.first_name, u.id", (project_id, call.user["id"]))
    return [{"id": r["id"], "first_name": r["first_name"], "last_name": r["last_name"],
             "email": r["email"], "name": display_name(r)} for r in rows]


@operation("files/canupload")
def can_upload(tx, call):
    project_id = call.integer("project_id", required=True)
    R.project_for(tx, call.user, project_id, upload=True)
    return {"project_id": project_id, "canUpload": True}


@operation("projects/events")
def events(tx, call):
    user = call.user
    since = call.integer("since", 0)
    if user["is_admin"]:
        rows = tx.all("SELECT * FROM events WHERE created >= ? AND project_id <> ? ORDER BY id DESC LIMIT 1000",
                      (since, R.PRIVATE))
    else:
        rows = tx.all("SELECT e.* FROM events e JOIN project_members m ON m.project_id = e.project_id "
                      "WHERE m.user_id = ? AND e.created >= ? ORDER BY e.id DESC LIMIT 1000",
                      (user["id"], since))
    names = R.user_names(tx, [r["user_id"] for r in rows])
    return [{"id": r["id"], "type": r["kind"], "description": r["description"], "date": r["created"],
             "project_id": r["project_id"], "file_id": r["file_id"], "user": names.get(r["user_id"], "")}
            for r in rows]
