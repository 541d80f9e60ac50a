"""Running a studio's server: accounts, project members and departments (administrators only),
and changing one's own password. Passwords arrive as "new_password" in clear (over TLS) or as
"new_password_hash", the SHA-512 digest that clients send when signing in."""

from . import auth
from . import records as R
from .api import ApiError, operation


def _user_record(row):
    return {"id": row["id"], "email": row["email"], "first_name": row["first_name"],
            "last_name": row["last_name"], "name": auth.display_name(row), "admin": bool(row["is_admin"]),
            "date": row["created"]}


def _new_digest(call, generate=False):
    digest = (call.text("new_password_hash") or "").strip().lower()
    if digest:
        if not auth.is_digest(digest):
            raise ApiError(400, 'Parameter "new_password_hash" must be 128 hexadecimal digits')
        return digest, None
    clear = call.text("new_password") or ""
    if clear:
        if len(clear) < 8:
            raise ApiError(400, "A password needs at least 8 characters")
        return auth.client_digest(clear), None
    if generate:
        clear = auth.new_password()
        return auth.client_digest(clear), clear
    raise ApiError(400, 'Missing parameter "new_password" or "new_password_hash"')


def _prepare(generate):
    """Stretches the new password before the transaction (it takes a while on purpose)."""

    def prepare(call):
        try:
            digest, generated = _new_digest(call, generate)
        except ApiError:
            return  # the operation itself answers the error
        call.new_password = (digest, generated, auth.hash_for_storage(digest))

    return prepare


def _new_password(call, generate=False):
    """(digest, generated clear password or None, stored (salt, hash, rounds) or None)."""
    prepared = getattr(call, "new_password", None)
    if prepared is not None:
        return prepared
    digest, generated = _new_digest(call, generate)
    return digest, generated, None


def _withdraw(tx, call, user_id, projects=None):
    """Once committed, closes the user's sockets (of `projects`, or all) and the comment sockets
    without a login of those projects."""
    if projects is None:
        anonymous = [r["project_id"] for r in tx.all("SELECT project_id FROM project_members WHERE user_id = ?",
                                                     (user_id,))] + [R.PRIVATE]
    else:
        anonymous = list(projects)
    hub = call.service.hub
    call.after_commit(lambda: hub is not None and hub.revoke(user_id, projects, anonymous))


def _user(tx, call):
    uid = call.integer("user_id", required=True)
    row = tx.one("SELECT * FROM users WHERE id = ?", (uid,))
    if row is None:
        raise ApiError(404, "No user with id %d" % uid)
    return row


@operation("admin/users", admin=True)
def list_users(tx, call):
    return [_user_record(r) for r in tx.all("SELECT * FROM users ORDER BY id")]


@operation("admin/users/create", write=True, admin=True, prepare=_prepare(True))
def create_user(tx, call):
    email = (call.text("email", required=True) or "").strip().lower()
    if "@" not in email or any(c.isspace() for c in email):
        raise ApiError(400, "A user name must be an e-mail address")
    if tx.value("SELECT 1 FROM users WHERE email = ?", (email,)):
        raise ApiError(409, "There is already an account for %s" % email)
    digest, generated, stored = _new_password(call, generate=True)
    uid = auth.create_user(tx, email, digest, call.text("first_name", "") or "", call.text("last_name", "") or "",
                           call.flag("admin"), stored)
    record = _user_record(tx.one("SELECT * FROM users WHERE id = ?", (uid,)))
    if generated:
        record["password"] = generated
    return record


@operation("admin/users/password", write=True, admin=True, prepare=_prepare(False))
def set_user_password(tx, call):
    row = _user(tx, call)
    digest, _, stored = _new_password(call)
    auth.set_password(tx, call.service.logins, row["id"], digest, stored)
    _withdraw(tx, call, row["id"])
    return {"id": row["id"], "changed": True}


@operation("admin/users/remove", write=True, admin=True)
def remove_user(tx, call):
    row = _user(tx, call)
    if row["id"] == call.user["id"]:
        raise ApiError(400, "You cannot remove your own account")
    _withdraw(tx, call, row["id"])
    tx.execute("DELETE FROM session_participants WHERE user_id = ?", (row["id"],))
    tx.execute("DELETE FROM users WHERE id = ?", (row["id"],))
    call.service.logins.forget_user(row["id"])
    return {"id": row["id"], "removed": True}


@operation("account/password", write=True, prepare=_prepare(False))
def change_own_password(tx, call):
    digest, _, stored = _new_password(call)
    auth.set_password(tx, call.service.logins, call.user["id"], digest, stored)
    _withdraw(tx, call, call.user["id"])
    return {"id": call.user["id"], "changed": True}


def _project(tx, call):
    pid = call.integer("project_id", required=True)
    if pid == R.PRIVATE or tx.value("SELECT 1 FROM projects WHERE id = ?", (pid,)) is None:
        raise ApiError(404, "No project with id %d" % pid)
    return pid


@operation("admin/projects/members", admin=True)
def members(tx, call):
    pid = _project(tx, call)
    rows = tx.all("SELECT u.*, m.can_upload FROM users u JOIN project_members m ON m.user_id = u.id "
                  "WHERE m.project_id = ? ORDER BY u.id", (pid,))
    return [dict(_user_record(r), can_upload=bool(r["can_upload"])) for r in rows]


@operation("admin/projects/members/add", write=True, admin=True)
def add_member(tx, call):
    pid = _project(tx, call)
    row = _user(tx, call)
    can_upload = 0 if call.has("can_upload") and not call.flag("can_upload") else 1
    tx.execute("INSERT INTO project_members (project_id, user_id, can_upload) VALUES (?, ?, ?) "
               "ON CONFLICT (project_id, user_id) DO UPDATE SET can_upload = excluded.can_upload",
               (pid, row["id"], can_upload))
    return {"project_id": pid, "user_id": row["id"], "can_upload": bool(can_upload)}


@operation("admin/projects/members/remove", write=True, admin=True)
def remove_member(tx, call):
    pid = _project(tx, call)
    row = _user(tx, call)
    tx.execute("DELETE FROM project_members WHERE project_id = ? AND user_id = ?", (pid, row["id"]))
    tx.execute("DELETE FROM session_participants WHERE user_id = ? AND session_id IN "
               "(SELECT id FROM sessions WHERE project_id = ?)", (row["id"], pid))
    _withdraw(tx, call, row["id"], [pid])
    return {"project_id": pid, "user_id": row["id"], "removed": True}


@operation("admin/departments/create", write=True, admin=True)
def create_department(tx, call):
    pid = _project(tx, call)
    title = (call.text("title") or "").strip()
    if not title:
        raise ApiError(400, "A department needs a title")
    did = tx.insert("departments", {"project_id": pid, "title": title, "created": R.now()})
    return {"id": did, "type": "department", "title": title, "project_id": pid}
