#pragma once

// Header only: the privileged helper, which links nothing of this project but Qt Core, starts its
// tools through it as the support library does.

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <vector>

extern char **environ;

// One child process started with posix_spawn: its words (the first is the program's path, run as
// given, no search path, no shell), its standard streams and, if asked, its own process group.
// The child gets this process's environment. Any thread; one start per object.
class BVSpawn
{
public:
    explicit BVSpawn(std::vector<QByteArray> words)
        : m_words(std::move(words))
    {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attributes);
    }
    ~BVSpawn()
    {
        posix_spawnattr_destroy(&m_attributes);
        posix_spawn_file_actions_destroy(&m_actions);
    }
    BVSpawn(const BVSpawn &) = delete;
    BVSpawn &operator=(const BVSpawn &) = delete;

    // The child's descriptor fd reads (O_RDONLY) or writes (O_WRONLY) the null device.
    void discard(int fd, int flags)
    {
        posix_spawn_file_actions_addopen(&m_actions, fd, "/dev/null", flags, 0);
    }
    // The child's descriptor fd is a copy of this process's descriptor from.
    void connect(int from, int fd) { posix_spawn_file_actions_adddup2(&m_actions, from, fd); }
    // The child leads its own process group (so that signalling the group also reaches what it
    // starts), with SIGPIPE, SIGTERM and SIGINT at their defaults and no signal blocked.
    void ownProcessGroup()
    {
        posix_spawnattr_setpgroup(&m_attributes, 0);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGINT);
        posix_spawnattr_setsigdefault(&m_attributes, &defaults);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_attributes, &none);
        posix_spawnattr_setflags(
            &m_attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }

    // Starts the child. Answers 0 (and its process id) or the error number of the failed start.
    int start(pid_t *pid)
    {
        if (m_words.empty())
            return EINVAL;
        std::vector<char *> argv;
        argv.reserve(m_words.size() + 1);
        for (QByteArray &word : m_words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        return posix_spawn(pid, argv.front(), &m_actions, &m_attributes, argv.data(), environ);
    }

private:
    std::vector<QByteArray> m_words;
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};
