"""Synced review sessions, the sync address and remote-control tokens."""

import ipaddress

from . import records as R
from .api import ApiError, operation
from .auth import display_name, new_token


def _record(tx, row, user):
    names = R.user_names(tx, [row["owner_id"]])
    participants = [r["user_id"] for r in tx.all(
        "SELECT user_id FROM session_participants WHERE session_id = ? ORDER BY user_id", (row["id"],))]
    return {
        "id": row["id"],
        "title": row["title"],
        "token": row["token"],
        "project_id": row["project_id"],
        "owner_id": row["owner_id"],
        "owner_name": names.get(row["owner_id"], ""),
        "isUserOwner": row["owner_id"] == user["id"],
        "current_file_id": row["current_file_id"],
        "participants": participants,
        "date": row["created"],
    }


def _session(tx, call, key):
    sid = call.integer(key, required=True)
    row = tx.one("SELECT * FROM sessions WHERE id = ?", (sid,))
    if row is None:
        raise ApiError(404, "No session with id %d" % sid)
    user = call.user
    if row["owner_id"] != user["id"] and not user["is_admin"] and tx.value(
            "SELECT 1 FROM session_participants WHERE session_id = ? AND user_id = ?",
            (sid, user["id"])) is None:
        raise ApiError(404, "No session with id %d" % sid)
    return row


@operation("sessions")
def sessions(tx, call):
    user = call.user
    project_id = call.integer("project_id", required=True)
    R.project_for(tx, user, project_id)
    rows = tx.all("SELECT * FROM sessions s WHERE s.project_id = ? AND (s.owner_id = ? OR EXISTS "
                  "(SELECT 1 FROM session_participants p WHERE p.session_id = s.id AND p.user_id = ?)) "
                  "ORDER BY s.id", (project_id, user["id"], user["id"]))
    return [_record(tx, r, user) for r in rows]


@operation("sessions/create", write=True)
def create_session(tx, call):
    user = call.user
    project_id = call.integer("project_id", required=True)
    if project_id == R.PRIVATE:
        raise ApiError(400, "Sessions belong to a project")
    R.project_for(tx, user, project_id)
    name = (call.text("name") or "").strip()
    if not name:
        raise ApiError(400, "A session needs a name")
    ids = []
    for text in (call.text("participants") or "").split(","):
        text = text.strip()
        if not text:
            continue
        if not text.lstrip("-").isdigit():
            raise ApiError(400, 'Parameter "participants" must list user ids separated by ","')
        ids.append(int(text))
    ids = sorted(set(i for i in ids if i != user["id"]))
    if not ids:
        raise ApiError(400, "A session needs at least one participant besides its owner")
    for uid in ids:
        if tx.value("SELECT 1 FROM project_members WHERE project_id = ? AND user_id = ?",
                    (project_id, uid)) is None:
            raise ApiError(400, "User %d is not a member of this project" % uid)
    token = new_token(32)
    sid = tx.insert("sessions", {"project_id": project_id, "title": name, "token": token,
                                 "owner_id": user["id"], "created": R.now()})
    for uid in ids:
        tx.execute("INSERT INTO session_participants (session_id, user_id) VALUES (?, ?)", (sid, uid))
    R.add_event(tx, user, project_id, "session", "%s started the session %s" % (display_name(user), name))
    return _record(tx, tx.one("SELECT * FROM sessions WHERE id = ?", (sid,)), user)


@operation("sessions/fileid", write=True)
def session_file(tx, call):
    row = _session(tx, call, "session_id")
    if row["owner_id"] != call.user["id"] and not call.user["is_admin"]:
        raise ApiError(403, "Only the session's owner chooses its file")
    file_id = call.integer("file_id", required=True)
    if file_id >= 0:
        f = R.file_for(tx, call.user, file_id)
        if f["project_id"] != row["project_id"]:
            raise ApiError(400, "The file is not part of the session's project")
    tx.execute("UPDATE sessions SET current_file_id = ? WHERE id = ?", (file_id, row["id"]))
    return _record(tx, tx.one("SELECT * FROM sessions WHERE id = ?", (row["id"],)), call.user)


@operation("sessions/remove", write=True)
def remove_session(tx, call):
    row = _session(tx, call, "id")
    if row["owner_id"] != call.user["id"] and not call.user["is_admin"]:
        raise ApiError(403, "You cannot remove sessions you don't own")
    tx.execute("DELETE FROM session_participants WHERE session_id = ?", (row["id"],))
    tx.execute("DELETE FROM sessions WHERE id = ?", (row["id"],))
    return {"id": row["id"], "removed": True}


@operation("sync/localip", write=True)
def sync_ip(tx, call):
    text = (call.text("ip", required=True) or "").strip()
    try:
        address = str(ipaddress.ip_address(text))
    except ValueError:
        raise ApiError(400, 'Parameter "ip" must be an IP address')
    tx.execute("UPDATE users SET sync_ip = ? WHERE id = ?", (address, call.user["id"]))
    return {"ip": address}


@operation("remote/token", write=True)
def remote_token(tx, call):
    token = tx.value("SELECT remote_token FROM users WHERE id = ?", (call.user["id"],))
    if not token:
        token = new_token(32)
        tx.execute("UPDATE users SET remote_token = ? WHERE id = ?", (token, call.user["id"]))
    return {"token": token}
