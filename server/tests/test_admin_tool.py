"""velora-admin drives the administrator operations of a running server."""

import os
import subprocess

import harness

TOOL = os.path.join(os.path.dirname(harness.SERVER), "velora-admin")


def admin(server, *args, new_password=None, password=None, stdin=None):
    env = dict(os.environ, VELORA_ADMIN_PASSWORD=password or server.admin[1])
    if new_password:
        env["VELORA_NEW_PASSWORD"] = new_password
    return subprocess.run([harness.PYTHON, TOOL, "--url", "http://127.0.0.1:%d" % server.port, *args], env=env,
                          capture_output=True, text=True, timeout=60,
                          **({"input": stdin} if stdin is not None else {"stdin": subprocess.DEVNULL}))


def test_accounts_projects_and_members(sqlite_server):
    server = sqlite_server
    r = admin(server, "add-user", "Grader@Studio.test", "--first", "Gray", "--last", "Der", new_password="grade-pass-1")
    assert r.returncode == 0, r.stderr
    assert server.call("authenticate", login=("grader@studio.test", "grade-pass-1"))["name"] == "Gray Der"
    r = admin(server, "add-project", "Trailer", "--code", "TRL-1")
    assert r.returncode == 0, r.stderr
    project = [p["id"] for p in server.call("projects", {"privateStorage": 0}) if p["title"] == "Trailer"][0]
    assert admin(server, "add-member", str(project), "grader@studio.test", "--no-upload").returncode == 0
    listed = server.call("projects", {"privateStorage": 0}, login=("grader@studio.test", "grade-pass-1"))
    assert [p["title"] for p in listed] == ["Trailer"]
    assert "grader@studio.test" in admin(server, "members", str(project)).stdout
    assert admin(server, "set-password", "grader@studio.test", new_password="grade-pass-2").returncode == 0
    assert server.post("authenticate", login=("grader@studio.test", "grade-pass-1")).status == 401
    assert server.post("authenticate", login=("grader@studio.test", "grade-pass-2")).status == 200
    for args, message in [(("add-user", "grader@studio.test"), "already an account"),
                          (("remove-user", "ghost@studio.test"), "no account for ghost@studio.test")]:
        r = admin(server, *args, new_password="whatever-1")
        assert r.returncode == 1 and message in r.stderr, r.stderr
    r = admin(server, "users", password="not-the-password")
    assert r.returncode == 1 and "Invalid username or password" in r.stderr
    assert admin(server, "remove-user", "grader@studio.test").returncode == 0
    assert server.post("authenticate", login=("grader@studio.test", "grade-pass-2")).status == 401


def test_new_passwords_can_come_from_standard_input(sqlite_server):
    server = sqlite_server
    cases = [
        # (command, standard input, password that signs in afterwards)
        (("add-user", "piped@studio.test", "--password-stdin"), "piped-pass-1\n", "piped-pass-1"),
        (("set-password", "piped@studio.test", "--password-stdin"), "piped pass 2\r\nignored\n", "piped pass 2"),
        (("set-password", "piped@studio.test", "--password-stdin"), "piped-pass-3", "piped-pass-3"),
    ]
    for args, text, password in cases:
        r = admin(server, *args, stdin=text, new_password="not-this-one")
        assert r.returncode == 0, r.stderr
        assert server.post("authenticate", login=("piped@studio.test", password)).status == 200, args
    r = admin(server, "set-password", "piped@studio.test", "--password-stdin", stdin="")
    assert r.returncode == 1 and "no password on standard input" in r.stderr
    assert server.post("authenticate", login=("piped@studio.test", "piped-pass-3")).status == 200
    usage = admin(server, "--help").stdout + admin(server, "set-password", "--help").stdout
    assert "--password-stdin" in usage and "VELORA_NEW_PASSWORD" in usage
