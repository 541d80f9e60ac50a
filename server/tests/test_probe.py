"""Uploaded media get their start timecode, rate, length and a thumbnail read from the file."""

import os
import shutil
import struct
import subprocess
import tempfile
import time

import pytest

pytestmark = pytest.mark.skipif(not shutil.which("ffmpeg"), reason="ffmpeg is not installed")


def make_clip(folder, name, rate, timecode, seconds=2):
    path = os.path.join(folder, name)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x180:rate=%s" % rate,
                    "-t", str(seconds), "-timecode", timecode, "-c:v", "mpeg4", "-q:v", "5", path], check=True)
    with open(path, "rb") as f:
        return f.read()


def jpeg_size(data):
    """Width and height from the first start-of-frame segment."""
    assert data[:2] == b"\xff\xd8"
    i = 2
    while i < len(data):
        marker, length = data[i + 1], struct.unpack(">H", data[i + 2:i + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width = struct.unpack(">HH", data[i + 5:i + 9])
            return width, height
        i += 2 + length
    raise AssertionError("no frame header")


def wait_for_thumb(server, fid):
    deadline = time.time() + 30
    while time.time() < deadline:
        record = server.call("file", {"file_id": fid})
        if "thumb" in record:
            return record
        time.sleep(0.1)
    raise AssertionError("no thumbnail was made")


def test_media_facts_fill_what_the_upload_left_out(sqlite_server):
    server = sqlite_server
    folder = tempfile.mkdtemp()
    try:
        project = server.call("projects/create", {"title": "Probe"})["id"]
        cases = [
            # clip rate, its timecode track, fields sent, expected start timecode, drop frame, rate, frames
            ("25", "01:00:00:00", {}, "01:00:00:00", False, 25.0, 50),
            ("30000/1001", "00:59:59;28", {}, "00:59:59;28", True, 29.97, 60),
            ("24", "02:00:00:00", {"timecodeStart": "10:00:00:00", "frameRate": "23.98"}, "10:00:00:00", False,
             23.98, 48),
        ]
        for i, (rate, timecode, sent, start, drop, fps, frames) in enumerate(cases):
            data = make_clip(folder, "clip%d.mov" % i, rate, timecode)
            fields = dict({"project_id": project, "parent": "/", "department": -1}, **sent)
            fid = server.post_file("files/upload", fields, "clip%d.mov" % i, data).json()["id"]
            record = wait_for_thumb(server, fid)
            assert (record["startTimecode"], record["dropFrame"]) == (start, drop), rate
            assert abs(record["frameRate"] - fps) < 0.01 and record["duration"] == frames, rate
            thumb = server.request("GET", record["thumb"].split(str(server.port), 1)[1])
            assert thumb.status == 200 and thumb.headers["Content-Type"] == "image/jpeg"
            assert jpeg_size(thumb.body) == (120, 68)  # 320x180 scaled to 120 wide, even height
            listed = server.call("projects/files/video", {"project_id": project, "dept": -1, "parent": "/",
                                                          "thumbs": 1})
            assert [f["thumb"] for f in listed if f["id"] == fid] == [record["thumb"]]
        # What ffprobe cannot read keeps what the upload said, and gets no thumbnail.
        fid = server.post_file("files/upload", {"project_id": project, "parent": "/", "department": -1},
                               "broken.mov", b"not a movie" * 100).json()["id"]
        time.sleep(1)
        record = server.call("file", {"file_id": fid})
        assert record["startTimecode"] == "00:00:00:00" and "thumb" not in record
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def test_a_playlist_naming_a_path_of_the_server_is_not_followed(sqlite_server):
    server = sqlite_server
    folder = tempfile.mkdtemp()
    try:
        make_clip(folder, "secret.ts", "25", "01:00:00:00")
        secret = os.path.join(folder, "secret.ts")
        project = server.call("projects/create", {"title": "Playlists"})["id"]
        playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n%s\n#EXT-X-ENDLIST\n" % secret
        fid = server.post_file("files/upload", {"project_id": project, "parent": "/"}, "cut.mov",
                               playlist.encode()).json()["id"]
        # A real clip uploaded after it is read, so the prober has had its turn at the playlist.
        real = server.post_file("files/upload", {"project_id": project, "parent": "/"}, "real.mov",
                                make_clip(folder, "real.mov", "25", "02:00:00:00")).json()["id"]
        wait_for_thumb(server, real)
        record = server.call("file", {"file_id": fid})
        assert (record["duration"], record["frameRate"], "thumb" in record) == (0, 0, False)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
