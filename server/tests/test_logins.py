"""Failed logins back off, without locking the real user out."""

import time

import harness

THROTTLE = {"VELORA_LOGIN_FREE_ATTEMPTS": "3", "VELORA_LOGIN_BACKOFF": "1", "VELORA_LOGIN_BACKOFF_MAX": "1.5"}


def test_failed_logins_back_off_and_the_right_password_still_works():
    server = harness.Server(env=THROTTLE).start()
    try:
        server.add_user("ann@studio.test", "ann-right-pass")
        server.add_user("bob@studio.test", "bob-right-pass")
        ann, wrong = ("ann@studio.test", "ann-right-pass"), ("ann@studio.test", "a-guess")
        laptop, attacker, elsewhere = "127.0.0.3", "127.0.0.2", "127.0.0.4"
        assert server.post("authenticate", login=ann, source=laptop).status == 200  # Ann's usual machine
        steps = [
            # (login, from, status): three guesses are answered, then the account and the address wait
            (wrong, attacker, 401),
            (wrong, attacker, 401),
            (wrong, attacker, 401),
            (wrong, attacker, 429),
            (ann, attacker, 200),                       # a login verified before is never held up
            (("bob@studio.test", "b-guess"), attacker, 401),
            (ann, laptop, 200),
            (wrong, elsewhere, 429),                    # the account waits, on addresses it has not used
        ]
        for n, (login, source, status) in enumerate(steps):
            r = server.post("authenticate", login=login, source=source)
            assert r.status == status, (n, login, source, r.body)
            if status == 429:
                assert int(r.headers["Retry-After"]) >= 1 and "try again" in r.json()["error"]
        # A new password is not known yet: checked afresh.
        server.call("admin/users/password", {"user_id": server.call("authenticate", login=ann)["id"],
                                             "new_password": "ann-new-pass"})
        ann = ("ann@studio.test", "ann-new-pass")
        assert server.post("authenticate", login=ann, source=elsewhere).status == 429
        assert server.post("authenticate", login=ann, source=laptop).status == 200  # her machine is not locked out
        time.sleep(1.7)  # past the longest back-off
        assert server.post("authenticate", login=("bob@studio.test", "bob-right-pass"), source=attacker).status == 200
        # Uploads check their login in the multipart path: they back off the same way.
        server.add_user("cy@studio.test", "cy-right-pass")
        for status in (401, 401, 401, 429):
            r = server.post_file("files/upload", {"project_id": -1}, "a.mov", b"x", login=("cy@studio.test", "x"))
            assert r.status == status, r.body
    finally:
        server.cleanup()
