"""Pure functions checked against hand-written fixtures (signatures from the storage protocol's
published examples, metadata texts, paths, media facts)."""

import os
import sys

import pytest
from multidict import CIMultiDict

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from velora_server import probe, records, storage, uploads  # noqa: E402
from velora_server.api import ApiError  # noqa: E402
from velora_server.ops_files import parse_metadata  # noqa: E402

EXAMPLE_SECRET = "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY"


@pytest.mark.parametrize("method, headers, resource, signature", [
    ("PUT", [("Content-Type", "image/jpeg"), ("Content-Length", "94328"), ("Date", "Tue, 27 Mar 2007 21:15:45 +0000")],
     "/johnsmith/photos/puppy.jpg", "MyyxeRY7whkBe+bq8fHCL/2kKUg="),
    ("GET", [("Date", "Tue, 27 Mar 2007 19:36:42 +0000")], "/johnsmith/photos/puppy.jpg",
     "bWq2s1WEIj+Ydj0vQ697zp+IXMU="),
    # x-amz headers: lower-cased, sorted, repeated ones joined by ",".
    ("PUT", [("User-Agent", "curl/7.15.5"), ("Date", "Tue, 27 Mar 2007 21:06:08 +0000"), ("x-amz-acl", "public-read"),
             ("content-type", "application/x-download"), ("Content-MD5", "4gJE4saaMU4BqNR0kLY+lw=="),
             ("X-Amz-Meta-ReviewedBy", "joe@johnsmith.net"), ("X-Amz-Meta-ReviewedBy", "jane@johnsmith.net"),
             ("X-Amz-Meta-FileChecksum", "0x02661779"), ("X-Amz-Meta-ChecksumAlgorithm", "crc32"),
             ("Content-Disposition", "attachment; filename=database.dat"), ("Content-Encoding", "gzip")],
     "/static.johnsmith.net/db-backup.dat.gz", "ilyl83RwaSoYIEdixDQcA4OnAnc="),
])
def test_signature_version_2_examples(method, headers, resource, signature):
    text = storage.string_to_sign(method, CIMultiDict(headers), resource)
    assert storage.sign(EXAMPLE_SECRET, text) == signature


def test_metadata_text():
    sep = "<=|=>"
    cases = [
        ("", []),
        ("Camera" + sep + "A", [("Camera", "A")]),
        ("a" + sep + "1" + sep + "b" + sep + "", [("a", "1"), ("b", "")]),
        ("x" + sep + "has <=| inside", [("x", "has <=| inside")]),
    ]
    for text, pairs in cases:
        assert parse_metadata(text) == pairs, text
    for bad in ["lonely", "a" + sep + "1" + sep + "b", sep + "value"]:
        with pytest.raises(ApiError):
            parse_metadata(bad)


def test_paths_names_and_timecodes():
    for given, normal in [(None, "/"), ("", "/"), ("/", "/"), ("Dailies", "/Dailies"), ("/Dailies/", "/Dailies"),
                          ("//a//b/", "/a/b")]:
        assert records.normalize_path(given) == normal, given
    assert records.join_path("/", "A") == "/A" and records.join_path("/A", "B") == "/A/B"
    for key, name in [("uploads/abc-shot 1.mov", "shot 1.mov"), ("uploads/plain.mov", "plain.mov"),
                      ("uploads/r-a-b.mov", "a-b.mov")]:
        assert uploads.object_filename(key) == name
    for name, safe in [("shot 1.mov", "shot_1.mov"), ("../../etc/passwd", "passwd"), (".hidden", "_.hidden"),
                       ("日本.mov", "__.mov"), ("", "file")]:
        assert uploads.safe_name(name) == safe
    for tc in ["01:00:00:00", "00:59:59;28", "23:59:59:29", "01:00:00.12"]:
        assert records.check_timecode(tc) == tc
    for tc in ["1 hour", "01:00:00", "01-00-00-00", "", "01:00:00:00 "]:
        with pytest.raises(ApiError):
            records.check_timecode(tc)
    assert [records.file_kind(m, n) for m, n in [("", "a.MOV"), ("video/mp4", "x"), ("", "b.wav"), ("", "c.exr"),
                                                   ("application/octet-stream", "d.plist")]] == [
        "video", "video", "audio", "image", "file"]


def test_media_facts_from_the_probe():
    timecode_in_stream = {"format": {"duration": "2.0"}, "streams": [
        {"codec_type": "video", "avg_frame_rate": "30000/1001", "r_frame_rate": "30000/1001"},
        {"codec_type": "data", "tags": {"timecode": "00:59:59;28"}}]}
    assert probe.read_facts(timecode_in_stream) == ("00:59:59;28", 30000 / 1001, 60, True)
    cover_art_only = {"format": {"duration": "10", "tags": {"timecode": "01:00:00:00"}}, "streams": [
        {"codec_type": "audio"}, {"codec_type": "video", "disposition": {"attached_pic": 1}, "avg_frame_rate": "0/0"}]}
    assert probe.read_facts(cover_art_only) == ("01:00:00:00", 0.0, 0, False)
    counted = {"format": {}, "streams": [{"codec_type": "video", "avg_frame_rate": "0/0", "r_frame_rate": "25/1",
                                          "nb_frames": "250"}]}
    assert probe.read_facts(counted) == (None, 25.0, 250, True)


def test_an_error_that_repeats_is_logged_once_per_interval():
    import logging

    from velora_server.guard import RepeatFilter

    now = [0.0]
    f = RepeatFilter(60, clock=lambda: now[0])

    def record(msg, level=logging.ERROR, name="velora"):
        return logging.LogRecord(name, level, __file__, 1, msg, (), None)

    cases = [
        # (time, message, level, logged, text logged)
        (0, "accept failed", logging.ERROR, True, "accept failed"),
        (1, "accept failed", logging.ERROR, False, None),
        (30, "accept failed", logging.ERROR, False, None),
        (30, "another error", logging.WARNING, True, "another error"),
        (31, "a notice", logging.INFO, True, "a notice"),
        (31, "a notice", logging.INFO, True, "a notice"),
        (61, "accept failed", logging.ERROR, True, "accept failed (and 2 more like it in the last 61 s)"),
        (62, "accept failed", logging.ERROR, False, None),
    ]
    for at, msg, level, logged, text in cases:
        now[0] = at
        r = record(msg, level)
        assert f.filter(r) is logged, (at, msg)
        if logged:
            assert r.getMessage() == text
