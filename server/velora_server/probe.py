"""After an upload: read the media's start timecode, frame rate and length, and make a thumbnail.

Runs ffprobe and ffmpeg (Debian's ffmpeg package) as child processes once the upload has been
committed, one file at a time, and fills in only what the uploader did not state. Without the
tools, or for media they cannot read, the file keeps what the upload said.
"""

import asyncio
import json
import logging
import os
import shutil
import time

log = logging.getLogger("velora.probe")

THUMB_WIDTH = 120
# What a review file may be read as: movie, sound and still-image containers, from a local file
# only. Playlists (HLS, concat) and every network protocol stay out, so a file naming another path
# on this server, or an address of its network, is never followed.
FORMATS = ("mov,matroska,avi,mxf,mpegts,mpeg,dv,flv,asf,ogg,wav,aiff,w64,caf,mp3,aac,ac3,flac,"
           "yuv4mpegpipe,gif,png_pipe,jpeg_pipe,tiff_pipe,bmp_pipe,webp_pipe,exr_pipe,dpx_pipe,psd_pipe")
INPUT = ("-protocol_whitelist", "file", "-format_whitelist", FORMATS)
TIME_LIMIT = 60


async def _output(*args):
    proc = await asyncio.create_subprocess_exec(*args, stdout=asyncio.subprocess.PIPE,
                                                stderr=asyncio.subprocess.DEVNULL)
    try:
        out, _ = await asyncio.wait_for(proc.communicate(), TIME_LIMIT)
    except asyncio.TimeoutError:
        proc.kill()
        await proc.wait()
        return None
    return out if proc.returncode == 0 else None


def _rate(text):
    num, _, den = (text or "0/1").partition("/")
    try:
        value = float(num) / float(den or 1)
    except (ValueError, ZeroDivisionError):
        return 0.0
    return value if 0 < value < 1000 else 0.0


def read_facts(info):
    """From ffprobe's JSON: (start timecode or None, frame rate, frame count, has video)."""
    streams = info.get("streams") or []
    video = next((s for s in streams if s.get("codec_type") == "video"
                  and not (s.get("disposition") or {}).get("attached_pic")), None)
    timecode = (info.get("format") or {}).get("tags", {}).get("timecode")
    for s in streams:
        timecode = timecode or (s.get("tags") or {}).get("timecode")
    rate = (_rate(video.get("avg_frame_rate")) or _rate(video.get("r_frame_rate"))) if video else 0.0
    frames = 0
    if video:
        if str(video.get("nb_frames", "")).isdigit():
            frames = int(video["nb_frames"])
        else:
            try:
                frames = int(round(float(info["format"]["duration"]) * rate))
            except (KeyError, TypeError, ValueError):
                frames = 0
    return timecode, rate, frames, video is not None


class Prober:
    def __init__(self, service):
        self.service = service
        self.available = bool(shutil.which("ffprobe") and shutil.which("ffmpeg"))
        self._one_at_a_time = asyncio.Semaphore(1)
        self.pending = set()

    def schedule(self, file_id, fill_timecode, fill_rate, fill_duration):
        if not self.available:
            return
        task = asyncio.ensure_future(self._run(file_id, fill_timecode, fill_rate, fill_duration))
        self.pending.add(task)
        task.add_done_callback(self.pending.discard)

    async def _run(self, file_id, fill_timecode, fill_rate, fill_duration):
        async with self._one_at_a_time:
            try:
                await self._probe(file_id, fill_timecode, fill_rate, fill_duration)
            except Exception:
                log.exception("reading the media of file %d failed", file_id)

    async def _probe(self, file_id, fill_timecode, fill_rate, fill_duration):
        service = self.service
        row = await service.db.read(lambda tx: tx.one(
            "SELECT stored, kind, thumb FROM files WHERE id = ? AND removed = 0", (file_id,)))
        if row is None or not row["stored"] or row["kind"] not in ("video", "image"):
            return
        path = service.stored_path(row["stored"])
        out = await _output("ffprobe", "-v", "error", *INPUT, "-print_format", "json", "-show_format",
                            "-show_streams", "file:" + path)
        if out is None:
            return
        try:
            timecode, rate, frames, has_video = read_facts(json.loads(out))
        except ValueError:
            return
        changes = {}
        if fill_timecode and timecode:
            changes["start_timecode"] = timecode
            changes["drop_frame"] = 1 if ";" in timecode else 0
        if fill_rate and rate and row["kind"] == "video":
            changes["frame_rate"] = round(rate, 3)
        if fill_duration and frames and row["kind"] == "video":
            changes["duration"] = frames
        thumb = None
        if has_video and not row["thumb"]:
            thumb = await self._thumbnail(file_id, path, frames, rate)
            if thumb:
                changes["thumb"] = thumb
        if changes:
            cols = sorted(changes)

            def update(tx):
                tx.execute("UPDATE files SET %s WHERE id = ?" % ", ".join("%s = ?" % c for c in cols),
                           [changes[c] for c in cols] + [file_id])

            await service.db.write(update)

    async def _thumbnail(self, file_id, path, frames, rate):
        relative = os.path.join("thumbs", "%d.jpg" % file_id)
        target = self.service.stored_path(relative)
        partial = os.path.join(self.service.tmp_dir, "thumb-%d-%d.jpg" % (file_id, time.monotonic_ns()))
        seek = "%.3f" % (min(frames / rate / 3, 10.0) if frames and rate else 0)
        done = await _output("ffmpeg", "-v", "error", "-nostdin", "-y", "-ss", seek, *INPUT, "-i", "file:" + path, "-frames:v", "1",
                             "-vf", "scale=%d:-2" % THUMB_WIDTH, "-q:v", "4", "-f", "image2", partial)
        if done is None or not os.path.exists(partial) or os.path.getsize(partial) == 0:
            if os.path.exists(partial):
                os.unlink(partial)
            return None
        os.replace(partial, target)
        return relative

    async def drain(self):
        if self.pending:
            await asyncio.gather(*list(self.pending), return_exceptions=True)
