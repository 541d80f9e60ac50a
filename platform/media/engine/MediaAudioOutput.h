#pragma once

#include <SDL2/SDL.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

class MediaClock;

// The sound device (SDL2; its dummy driver when the machine has no device): 48 kHz float stereo
// fed from a queue of sample chunks stamped with their media time. While it is the clock master
// (rate 1) the device callback re-anchors the playback clock to what is being heard.
class MediaAudioOutput
{
public:
    static constexpr int SampleRate = 48000;
    static constexpr int Channels = 2;

    explicit MediaAudioOutput(MediaClock &clock);
    ~MediaAudioOutput();
    MediaAudioOutput(const MediaAudioOutput &) = delete;
    MediaAudioOutput &operator=(const MediaAudioOutput &) = delete;

    // Opens the device; false (logged) when no driver at all is available.
    bool open();
    bool isOpen() const { return m_device != 0; }

    void setVolume(float volume);
    float volume() const { return m_volume.load(); }
    // Starts or pauses the device. Paused, queued samples stay queued.
    void setRunning(bool running);
    void setClockMaster(bool master);
    bool isClockMaster() const { return m_master.load(); }

    // Drops every queued sample and accepts only chunks of the new serial from now on.
    void flush(uint64_t serial);
    // Decoder thread: queues interleaved samples whose first one plays media time `mediaNs`, each
    // sample advancing media time by `rate` sample periods. Chunks of an old serial are dropped.
    void push(const float *samples, int frames, int64_t mediaNs, double rate, uint64_t serial);
    // Queued time in nanoseconds of device time.
    int64_t queuedNs() const;

private:
    struct Chunk
    {
        std::vector<float> samples;
        size_t offset = 0; // frames consumed
        int64_t mediaNs = 0;
        double rate = 1;
    };
    static void callback(void *userData, Uint8 *stream, int length);
    void fill(float *out, int frames);

    MediaClock &m_clock;
    SDL_AudioDeviceID m_device = 0;
    int m_bufferFrames = 0;
    std::atomic<float> m_volume {1.0f};
    std::atomic<bool> m_master {false};
    mutable std::mutex m_mutex;
    std::deque<Chunk> m_chunks;
    size_t m_queuedFrames = 0;
    uint64_t m_serial = 0;
};
