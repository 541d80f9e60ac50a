#include "platform/media/engine/MediaAudioOutput.h"

#include "platform/media/engine/MediaClock.h"
#include "support/BVLog.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// SDL's audio subsystem is process-wide: initialised once, falling back to the dummy driver.
bool initialiseAudio()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        // SDL would otherwise catch SIGINT and SIGTERM and turn them into events nobody reads:
        // the program could no longer be ended by a signal (at logout, by kill).
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            ready = true;
            return;
        }
        BVLog::appendLog("No sound driver (%s); using the dummy driver", SDL_GetError());
        ready = SDL_AudioInit("dummy") == 0;
    });
    return ready;
}

} // namespace

MediaAudioOutput::MediaAudioOutput(MediaClock &clock)
    : m_clock(clock)
{ }

MediaAudioOutput::~MediaAudioOutput()
{
    if (m_device)
        SDL_CloseAudioDevice(m_device);
}

bool MediaAudioOutput::open()
{
    if (m_device)
        return true;
    if (!initialiseAudio())
        return false;
    SDL_AudioSpec wanted {};
    wanted.freq = SampleRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = Channels;
    wanted.samples = 960; // 20 ms
    wanted.callback = &MediaAudioOutput::callback;
    wanted.userdata = this;
    SDL_AudioSpec obtained {};
    m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (!m_device) {
        BVLog::appendLog("Cannot open the sound device: %s", SDL_GetError());
        return false;
    }
    m_bufferFrames = obtained.samples;
    return true;
}

void MediaAudioOutput::setVolume(float volume)
{
    m_volume = std::clamp(volume, 0.0f, 1.0f);
}

void MediaAudioOutput::setRunning(bool running)
{
    if (m_device)
        SDL_PauseAudioDevice(m_device, running ? 0 : 1);
}

void MediaAudioOutput::setClockMaster(bool master)
{
    // A driver without a device (dummy, disk) paces itself by sleeping: under load it falls behind
    // real time, so it does not lead the picture; the system clock does.
    const char *driver = SDL_GetCurrentAudioDriver();
    const bool deviceless = driver && (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "disk") == 0);
    m_master = master && !deviceless;
}

void MediaAudioOutput::flush(uint64_t serial)
{
    std::lock_guard lock(m_mutex);
    m_chunks.clear();
    m_queuedFrames = 0;
    m_serial = serial;
}

void MediaAudioOutput::push(const float *samples, int frames, int64_t mediaNs, double rate, uint64_t serial)
{
    if (frames <= 0)
        return;
    Chunk chunk;
    chunk.samples.assign(samples, samples + size_t(frames) * Channels);
    chunk.mediaNs = mediaNs;
    chunk.rate = rate;
    std::lock_guard lock(m_mutex);
    if (serial != m_serial)
        return;
    m_queuedFrames += size_t(frames);
    m_chunks.push_back(std::move(chunk));
}

int64_t MediaAudioOutput::queuedNs() const
{
    std::lock_guard lock(m_mutex);
    return int64_t(m_queuedFrames) * 1000000000 / SampleRate;
}

void MediaAudioOutput::callback(void *userData, Uint8 *stream, int length)
{
    static_cast<MediaAudioOutput *>(userData)->fill(
        reinterpret_cast<float *>(stream), length / int(sizeof(float) * Channels));
}

// Runs on SDL's audio thread.
void MediaAudioOutput::fill(float *out, int frames)
{
    const auto now = MediaClock::Clock::now();
    const float volume = m_volume.load();
    int written = 0;
    bool synced = false;
    std::lock_guard lock(m_mutex);
    while (written < frames && !m_chunks.empty()) {
        Chunk &chunk = m_chunks.front();
        const size_t available = chunk.samples.size() / Channels - chunk.offset;
        const size_t take = std::min(available, size_t(frames - written));
        if (!synced && m_master.load()) {
            // What this buffer starts with is heard once the device's own buffer has played.
            const double periodNs = 1e9 / SampleRate * chunk.rate;
            const int64_t headNs = chunk.mediaNs + int64_t(double(chunk.offset) * periodNs);
            const int64_t latencyNs = int64_t(double(m_bufferFrames) * periodNs);
            m_clock.sync(headNs - latencyNs + int64_t(double(written) * periodNs), now);
            synced = true;
        }
        const float *source = chunk.samples.data() + chunk.offset * Channels;
        for (size_t i = 0; i < take * Channels; ++i)
            out[size_t(written) * Channels + i] = source[i] * volume;
        written += int(take);
        chunk.offset += take;
        m_queuedFrames -= take;
        if (chunk.offset * Channels >= chunk.samples.size())
            m_chunks.pop_front();
    }
    if (written < frames)
        std::memset(out + size_t(written) * Channels, 0, size_t(frames - written) * Channels * sizeof(float));
}
