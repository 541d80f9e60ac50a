#pragma once

#include "support/BVAuthorizationRunner.h"

#include <QByteArray>

#include <sys/types.h>

// Administrator rights through polkit: one pkexec prompt starts the project's privileged helper
// (reelmark-privileged-helper, installed beside the programs), which stays for the rest of the
// process (or until releaseRight()) and performs each request it is sent, so the user is asked
// once. Requests go over a socket pair as NUL-terminated words; each answers one line. The
// launcher is a parameter so tests can start the helper without pkexec.
class BVAuthorizationPkexecRunner : public BVAuthorizationRunner
{
public:
    explicit BVAuthorizationPkexecRunner(QStringList launcher = defaultLauncher());
    ~BVAuthorizationPkexecRunner() override;

    bool obtainRight(const QString &operation) override;
    bool hasRight() const override;
    void releaseRight() override;
    int perform(const QStringList &request, QString *message) override;

    // The helper beside the running program, else the installed one.
    static QString helperPath();
    // pkexec and the helper.
    static QStringList defaultLauncher();

private:
    bool sendRequest(const QStringList &request);
    // Reads up to the next line feed; false when the helper has gone. Keeps the interface alive
    // while it waits on the main thread.
    bool readLine(QByteArray *line);
    void closeHelper();

    QStringList m_launcher;
    pid_t m_helper = 0;
    int m_socket = -1;
    QByteArray m_pending;
};
