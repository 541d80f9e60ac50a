#!/usr/bin/python3
"""Memory benchmark: a large upload through the streamed multipart path of "/files/upload".

Starts its own velora-server, measures its resident memory when idle (after a few requests),
then sends one multipart POST of --gigabytes of generated data (the player's multipart layout,
Content-Length known, body produced while sending so the client holds no copy either) and samples
the server's resident memory every 50 ms. Prints idle, peak and peak minus idle; checks that
the stored file has the size and SHA-256 of what was sent. Target: peak - idle < 64 MB.

With --via storage the same bytes go as a signed storage PUT, then a "/files/upload" with "source".

    server/tools/upload_memory.py [--gigabytes 2] [--via multipart|storage] [--keep]
"""

import argparse
import base64
import email.utils
import hmac
import hashlib
import http.client
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402

BLOCK = 1024 * 1024


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS"):
                return int(line.split()[1])
    return 0


class Sampler(threading.Thread):
    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.peak, self.running = pid, 0, True

    def run(self):
        while self.running:
            self.peak = max(self.peak, rss_kb(self.pid))
            time.sleep(0.05)


ACCESS = "AKMEMORYBENCHMARK001"
SECRET = "memory-benchmark-secret-key-000000000000"


def storage_headers(key, content_type, port):
    date = email.utils.formatdate(usegmt=True)
    to_sign = "PUT\n\n%s\n%s\n/velo_bucket/%s" % (content_type, date, key)
    signature = base64.b64encode(hmac.new(SECRET.encode(), to_sign.encode(), hashlib.sha1).digest()).decode()
    return {"Date": date, "Content-Type": content_type, "Authorization": "AWS %s:%s" % (ACCESS, signature),
            "Host": "velo_bucket.localhost:%d" % port}


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--gigabytes", type=float, default=2.0)
    p.add_argument("--via", choices=["multipart", "storage"], default="multipart")
    p.add_argument("--keep", action="store_true", help="keep the data folder")
    args = p.parse_args()
    size = int(args.gigabytes * 1024 ** 3)

    server = harness.Server(env={"VELORA_S3_ACCESS_KEY": ACCESS, "VELORA_S3_SECRET_KEY": SECRET,
                                 "VELORA_PASSWORD_ITERATIONS": ""}).start()
    try:
        project = server.call("projects/create", {"title": "Big"})["id"]
        for _ in range(20):  # warm the code paths the upload uses
            server.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1}, "warm.mov",
                             b"x" * 100000)
        time.sleep(1)
        idle = rss_kb(server.proc.pid)

        email, password = server.admin
        fields = {"username": email, "password": harness.sha512(password), "project_id": project, "parent": "/",
                  "department": -1, "title": "Big upload", "mime-type": "video/quicktime", "auto_revise": 0,
                  "notifications": 0}
        boundary = "axhTsLbOxNzArUD"
        head, ctype = harness.multipart_body(fields, "big.mov", b"", boundary)
        tail = ("\r\n--%s--\r\n" % boundary).encode()
        head = head[: len(head) - len(tail)]
        digest = hashlib.sha256()
        block = bytes((i * 7 + 3) % 251 for i in range(BLOCK))

        def body():
            yield head
            sent = 0
            while sent < size:
                chunk = block[: min(BLOCK, size - sent)]
                digest.update(chunk)
                sent += len(chunk)
                yield chunk
            yield tail

        sampler = Sampler(server.proc.pid)
        sampler.start()
        started = time.monotonic()
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=600)
        if args.via == "multipart":
            conn.request("POST", "/api/0/files/upload", body=body(),
                         headers={"Content-Type": ctype, "Content-Length": str(len(head) + size + len(tail))})
        else:
            key = "uploads/%s-big.mov" % ("0" * 32)
            headers = storage_headers(key, "video/quicktime", server.port)
            headers["Content-Length"] = str(size)
            conn.request("PUT", "/" + key, body=(c for c in body() if c not in (head, tail)), headers=headers)
            put = conn.getresponse()
            put.read()
            if put.status != 200:
                print("storage PUT failed: %d" % put.status)
                return 1
            fields = {k: v for k, v in fields.items()}
            fields["source"] = key
            conn.request("POST", "/api/0/files/upload", body=harness.form_body(fields), headers={})
        reply = conn.getresponse()
        payload = reply.read()
        elapsed = time.monotonic() - started
        sampler.running = False
        sampler.join()
        if reply.status != 200:
            print("upload failed: %d %s" % (reply.status, payload[:300]))
            return 1
        record = harness.json.loads(payload)
        stored = [os.path.join(root, f) for root, _, files in os.walk(os.path.join(server.data, "files"))
                  for f in files if f == "big.mov"]
        check = hashlib.sha256()
        with open(stored[0], "rb") as f:
            for chunk in iter(lambda: f.read(BLOCK * 8), b""):
                check.update(chunk)
        intact = record["size"] == size and os.path.getsize(stored[0]) == size and check.digest() == digest.digest()
        print("%s upload of %d bytes in %.1f s (%.0f MB/s); stored file %s" % (
            args.via, size, elapsed, size / elapsed / 1e6, "intact" if intact else "DIFFERS"))
        print("server resident memory: idle %.1f MB, peak %.1f MB, peak - idle %.1f MB (target < 64 MB)" % (
            idle / 1024, sampler.peak / 1024, (sampler.peak - idle) / 1024))
        os.unlink(stored[0])
        return 0 if intact and sampler.peak - idle < 64 * 1024 else 1
    finally:
        if args.keep:
            server.owns_data = False
            print("data kept in", server.data)
        server.cleanup()


if __name__ == "__main__":
    sys.exit(main())
