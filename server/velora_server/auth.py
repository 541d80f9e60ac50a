"""Accounts and the per-request login check.

Clients never send a password in clear: every request carries "username" and "password", the
latter being the lower-case hexadecimal SHA-512 of the password. The server stores only a salted
PBKDF2 of that digest, so a copy of the database does not let anyone sign in. Because the check
runs on every request, a verified (user name, digest) pair is remembered in memory until that
account's password changes.
"""

import hashlib
import os
import hmac
import re
import secrets
import threading
import time

ITERATIONS = 120_000  # for new passwords; VELORA_PASSWORD_ITERATIONS changes it (at least 1000)
_HEX128 = re.compile(r"^[0-9a-f]{128}$")


def client_digest(password):
    """What a client sends for a password (also used when the server sets one itself)."""
    return hashlib.sha512(password.encode("utf-8")).hexdigest()


def iterations():
    try:
        return max(1000, int(os.environ.get("VELORA_PASSWORD_ITERATIONS", ITERATIONS)))
    except ValueError:
        return ITERATIONS


def _stretch(digest, salt, rounds):
    return hashlib.pbkdf2_hmac("sha256", digest.encode("ascii"), bytes.fromhex(salt), rounds).hex()


def hash_for_storage(digest):
    """(salt, hash, iterations) to store for a password's client digest."""
    salt, rounds = secrets.token_hex(16), iterations()
    return salt, _stretch(digest, salt, rounds), rounds


def is_digest(text):
    return bool(_HEX128.match(text or ""))


def new_password():
    return secrets.token_urlsafe(15)


def new_token(length=32):
    alphabet = "abcdefghijklmnopqrstuvwxyz0123456789"
    return "".join(secrets.choice(alphabet) for _ in range(length))


class LoginCache:
    """Verified logins: sha256(user name, digest) -> (user id, stored hash at the time)."""

    def __init__(self, limit=10000):
        self._entries = {}
        self._lock = threading.Lock()
        self._limit = limit

    @staticmethod
    def _key(email, digest):
        return hashlib.sha256((email + "\0" + digest).encode("utf-8")).digest()

    def get(self, email, digest):
        with self._lock:
            return self._entries.get(self._key(email, digest))

    def put(self, email, digest, user_id, pw_hash):
        with self._lock:
            if len(self._entries) >= self._limit:
                self._entries.clear()
            self._entries[self._key(email, digest)] = (user_id, pw_hash)

    def forget_user(self, user_id):
        with self._lock:
            for k in [k for k, v in self._entries.items() if v[0] == user_id]:
                del self._entries[k]


def verify(tx, cache, email, digest):
    """Answers the user row for a valid login, or None. Runs on a database worker."""
    email = (email or "").strip().lower()
    digest = (digest or "").strip().lower()
    if not email or "\x00" in email or not is_digest(digest):
        return None
    user = tx.one("SELECT * FROM users WHERE email = ?", (email,))
    if user is None:
        # Spend the same time as a real check so that probing does not reveal which accounts exist.
        _stretch(digest, "00" * 16, iterations())
        return None
    hit = cache.get(email, digest)
    if hit is not None and hit[0] == user["id"] and hit[1] == user["pw_hash"]:
        return user
    if not hmac.compare_digest(_stretch(digest, user["pw_salt"], user["pw_iterations"]), user["pw_hash"]):
        return None
    cache.put(email, digest, user["id"], user["pw_hash"])
    return user


def create_user(tx, email, digest, first_name="", last_name="", is_admin=False):
    salt, pw_hash, rounds = hash_for_storage(digest)
    return tx.insert("users", {
        "email": email.strip().lower(), "first_name": first_name, "last_name": last_name,
        "pw_salt": salt, "pw_hash": pw_hash, "pw_iterations": rounds, "is_admin": 1 if is_admin else 0,
        "created": int(time.time()),
    })


def set_password(tx, cache, user_id, digest):
    salt, pw_hash, rounds = hash_for_storage(digest)
    tx.execute("UPDATE users SET pw_salt = ?, pw_hash = ?, pw_iterations = ? WHERE id = ?",
               (salt, pw_hash, rounds, user_id))
    cache.forget_user(user_id)


def display_name(user):
    name = ("%s %s" % (user["first_name"], user["last_name"])).strip()
    return name or user["email"]
