#pragma once

#include "support/BVAuthorizationRunner.h"

#include <QByteArray>

#include <sys/types.h>

// Administrator rights through polkit: one pkexec prompt starts a root shell that stays for the
// rest of the process (or until releaseRight()) and runs each tool it is sent, so the user is asked
// once. Commands go over a socket pair as shell words in single quotes; a waited command answers a
// line with its exit status. The launcher is a parameter so tests can drive the protocol with an
// ordinary shell.
class BVAuthorizationPkexecRunner : public BVAuthorizationRunner
{
public:
    explicit BVAuthorizationPkexecRunner(
        QStringList launcher = {QStringLiteral("/usr/bin/pkexec"), QStringLiteral("/bin/sh")});
    ~BVAuthorizationPkexecRunner() override;

    bool obtainRight() override;
    bool hasRight() const override;
    void releaseRight() override;
    int execute(const QString &tool, const QStringList &arguments, bool wait, int *exitStatus) override;

    // One shell word in single quotes.
    static QByteArray shellQuote(const QString &word);

private:
    bool sendLine(const QByteArray &line);
    // Reads up to the next line feed; false when the shell has gone. Keeps the interface alive
    // while it waits on the main thread.
    bool readLine(QByteArray *line);
    void closeShell();

    QStringList m_launcher;
    pid_t m_shell = 0;
    int m_socket = -1;
    QByteArray m_pending;
};
