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


class Throttled(Exception):
    def __init__(self, seconds):
        super().__init__("Too many failed logins; try again in %d seconds" % max(1, round(seconds)))
        self.seconds = max(1, int(seconds + 0.999))


class Throttle:
    """Failed logins back off: per address (whatever the accounts), per account and address, and
    per account. After `free` failures each further one doubles the wait, from `base` seconds up to
    `cap`; failures older than `forget` seconds are forgotten. The wait of an account does not
    apply to an address from which that account has signed in: an attacker elsewhere cannot lock
    its user out, and a login already verified (remembered in the LoginCache) is never held up."""

    def __init__(self, free=5, base=1.0, cap=300.0, forget=900.0, clock=time.monotonic):
        self.free, self.base, self.cap, self.forget, self.clock = max(1, free), base, cap, forget, clock
        self._failures = {}  # key -> (count, blocked until, last failure)
        self._good = {}      # account -> addresses it signed in from
        self._lock = threading.Lock()

    def _keys(self, email, address):
        return [(("address", address), self.free * 4), (("pair", email, address), self.free),
                (("account", email), self.free)]

    def wait(self, email, address):
        now = self.clock()
        with self._lock:
            longest = 0.0
            for key, _ in self._keys(email, address):
                if key[0] == "account" and address in self._good.get(email, ()):
                    continue
                entry = self._failures.get(key)
                if entry is not None and entry[1] > now:
                    longest = max(longest, entry[1] - now)
            return longest

    def failed(self, email, address):
        now = self.clock()
        with self._lock:
            if len(self._failures) > 100000:
                self._failures = {k: v for k, v in self._failures.items() if now - v[2] < self.forget}
            for key, free in self._keys(email, address):
                count, until, last = self._failures.get(key, (0, 0.0, now))
                if now - last > self.forget:
                    count = 0
                count += 1
                if count >= free:
                    until = now + min(self.cap, self.base * 2 ** (count - free))
                self._failures[key] = (count, until, now)

    def succeeded(self, email, address):
        """Takes back the failure counted for an attempt that turned out right."""
        with self._lock:
            self._failures.pop(("pair", email, address), None)
            for key, free in self._keys(email, address):
                entry = self._failures.get(key)
                if entry is not None and key[0] != "pair":
                    count = max(0, entry[0] - 1)
                    self._failures[key] = (count, entry[1] if count >= free else 0.0, entry[2])
            good = self._good.setdefault(email, [])
            if address not in good:
                good.append(address)
                del good[:-16]
            if len(self._good) > 100000:
                self._good.clear()


def check(row, digest):
    """Whether the client digest matches the stored hash of the user row (slow on purpose)."""
    if row is None:
        # Spend the same time as a real check so that probing does not reveal which accounts exist.
        _stretch(digest, "00" * 16, iterations())
        return False
    return hmac.compare_digest(_stretch(digest, row["pw_salt"], row["pw_iterations"]), row["pw_hash"])


def normalize(email, digest):
    """(user name, digest) as compared, or None for what cannot be a login."""
    email = (email or "").strip().lower()
    digest = (digest or "").strip().lower()
    if not email or "\x00" in email or len(email) > 320 or not is_digest(digest):
        return None
    return email, digest


def create_user(tx, email, digest, first_name="", last_name="", is_admin=False, stored=None):
    salt, pw_hash, rounds = stored or hash_for_storage(digest)
    return tx.insert("users", {
        "email": email.strip().lower(), "first_name": first_name, "last_name": last_name,
        "pw_salt": salt, "pw_hash": pw_hash, "pw_iterations": rounds, "is_admin": 1 if is_admin else 0,
        "created": int(time.time()),
    })


def set_password(tx, cache, user_id, digest, stored=None):
    salt, pw_hash, rounds = stored or hash_for_storage(digest)
    # The remote-control token was handed out under the old password: a new one is made when asked for.
    tx.execute("UPDATE users SET pw_salt = ?, pw_hash = ?, pw_iterations = ?, remote_token = NULL WHERE id = ?",
               (salt, pw_hash, rounds, user_id))
    cache.forget_user(user_id)


def display_name(user):
    name = ("%s %s" % (user["first_name"], user["last_name"])).strip()
    return name or user["email"]
