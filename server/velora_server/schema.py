"""Tables of the service, written once for both SQLite and PostgreSQL.

Times are whole seconds since 1970; flags are 0 or 1; a missing department or folder is -1 or "/".
Project -1 is each user's private storage (owner_id says whose).
"""

_TABLES = """
CREATE TABLE IF NOT EXISTS settings (
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS users (
    id {id},
    email TEXT NOT NULL UNIQUE,
    first_name TEXT NOT NULL DEFAULT '',
    last_name TEXT NOT NULL DEFAULT '',
    pw_salt TEXT NOT NULL,
    pw_hash TEXT NOT NULL,
    pw_iterations INTEGER NOT NULL,
    is_admin INTEGER NOT NULL DEFAULT 0,
    sync_ip TEXT NOT NULL DEFAULT '',
    remote_token TEXT UNIQUE,
    created BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS projects (
    id {id},
    title TEXT NOT NULL,
    description TEXT NOT NULL DEFAULT '',
    client TEXT NOT NULL DEFAULT '',
    status INTEGER NOT NULL DEFAULT 0,
    unique_project_id TEXT UNIQUE,
    creator_id BIGINT NOT NULL,
    created BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS project_members (
    project_id BIGINT NOT NULL REFERENCES projects(id) ON DELETE CASCADE,
    user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    can_upload INTEGER NOT NULL DEFAULT 1,
    PRIMARY KEY (project_id, user_id)
);
CREATE TABLE IF NOT EXISTS departments (
    id {id},
    project_id BIGINT NOT NULL REFERENCES projects(id) ON DELETE CASCADE,
    title TEXT NOT NULL,
    created BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS folders (
    id {id},
    project_id BIGINT NOT NULL,
    owner_id BIGINT NOT NULL,
    dept_id BIGINT NOT NULL,
    app_id TEXT NOT NULL DEFAULT '',
    parent TEXT NOT NULL,
    title TEXT NOT NULL,
    path TEXT NOT NULL,
    creator_id BIGINT NOT NULL,
    created BIGINT NOT NULL,
    UNIQUE (project_id, owner_id, dept_id, app_id, path)
);
CREATE TABLE IF NOT EXISTS files (
    id {id},
    project_id BIGINT NOT NULL,
    owner_id BIGINT NOT NULL,
    dept_id BIGINT NOT NULL DEFAULT -1,
    app_id TEXT NOT NULL DEFAULT '',
    parent TEXT NOT NULL DEFAULT '/',
    title TEXT NOT NULL,
    description TEXT NOT NULL DEFAULT '',
    kind TEXT NOT NULL,
    mime TEXT NOT NULL DEFAULT 'application/octet-stream',
    size BIGINT NOT NULL DEFAULT 0,
    stored TEXT NOT NULL DEFAULT '',
    filename TEXT NOT NULL DEFAULT '',
    thumb TEXT NOT NULL DEFAULT '',
    creator_id BIGINT NOT NULL,
    created BIGINT NOT NULL,
    status INTEGER NOT NULL DEFAULT 1,
    start_timecode TEXT NOT NULL DEFAULT '00:00:00:00',
    drop_frame INTEGER NOT NULL DEFAULT 0,
    frame_rate DOUBLE PRECISION NOT NULL DEFAULT 0,
    duration BIGINT NOT NULL DEFAULT 0,
    allow_comments INTEGER NOT NULL DEFAULT 1,
    notifications INTEGER NOT NULL DEFAULT 1,
    source_id TEXT NOT NULL DEFAULT '',
    settings TEXT NOT NULL DEFAULT '{{}}',
    revision_group BIGINT NOT NULL DEFAULT 0,
    revision INTEGER NOT NULL DEFAULT 1,
    removed INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS files_place ON files (project_id, dept_id, parent);
CREATE INDEX IF NOT EXISTS files_group ON files (revision_group);
CREATE TABLE IF NOT EXISTS file_metadata (
    file_id BIGINT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    key TEXT NOT NULL,
    value TEXT NOT NULL,
    PRIMARY KEY (file_id, position)
);
CREATE TABLE IF NOT EXISTS file_views (
    file_id BIGINT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    user_id BIGINT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    last_pos DOUBLE PRECISION NOT NULL DEFAULT 0,
    viewed INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (file_id, user_id)
);
CREATE TABLE IF NOT EXISTS approvals (
    id {id},
    file_id BIGINT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    user_id BIGINT NOT NULL,
    status INTEGER NOT NULL,
    comment TEXT NOT NULL DEFAULT '',
    created BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS comments (
    id {id},
    file_id BIGINT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    user_id BIGINT NOT NULL,
    body TEXT NOT NULL,
    position TEXT NOT NULL DEFAULT '00:00:00:00',
    color INTEGER NOT NULL DEFAULT 0,
    created BIGINT NOT NULL,
    edited BIGINT NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS comments_file ON comments (file_id);
CREATE TABLE IF NOT EXISTS annotations (
    id {id},
    comment_id BIGINT NOT NULL UNIQUE REFERENCES comments(id) ON DELETE CASCADE,
    user_id BIGINT NOT NULL,
    data TEXT NOT NULL,
    created BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS sessions (
    id {id},
    project_id BIGINT NOT NULL,
    title TEXT NOT NULL,
    token TEXT NOT NULL UNIQUE,
    owner_id BIGINT NOT NULL,
    current_file_id BIGINT NOT NULL DEFAULT -1,
    created BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS session_participants (
    session_id BIGINT NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
    user_id BIGINT NOT NULL,
    PRIMARY KEY (session_id, user_id)
);
CREATE TABLE IF NOT EXISTS events (
    id {id},
    project_id BIGINT NOT NULL,
    file_id BIGINT NOT NULL DEFAULT -1,
    user_id BIGINT NOT NULL,
    kind TEXT NOT NULL,
    description TEXT NOT NULL DEFAULT '',
    created BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS events_created ON events (created);
CREATE TABLE IF NOT EXISTS relationships (
    id {id},
    file_id BIGINT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    related_file_id BIGINT NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    link_type TEXT NOT NULL,
    created BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS objects (
    key TEXT PRIMARY KEY,
    stored TEXT NOT NULL,
    size BIGINT NOT NULL,
    etag TEXT NOT NULL,
    mime TEXT NOT NULL,
    created BIGINT NOT NULL
)
"""

# Columns added after a table was first made: (table, column, definition for older databases).
COLUMNS_ADDED = [
    ("users", "pw_iterations", "INTEGER NOT NULL DEFAULT 120000"),
]

_ID = {
    "sqlite": "INTEGER PRIMARY KEY AUTOINCREMENT",
    "postgresql": "BIGSERIAL PRIMARY KEY",
}


def statements(dialect):
    text = _TABLES.format(id=_ID[dialect])
    return [s.strip() for s in text.split(";") if s.strip()]
