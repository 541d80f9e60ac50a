#pragma once

#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

// A session bus of this test process only, started before anything connects to a bus, so that
// names owned by the tests never reach the desktop's bus.
class PrivateBus : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_daemon = std::make_unique<QProcess>();
        m_daemon->start(QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (m_daemon->waitForStarted(5000) && m_daemon->waitForReadyRead(5000))
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_daemon->readLine().trimmed());
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    }
    void TearDown() override
    {
        m_daemon->kill();
        m_daemon->waitForFinished(2000);
        m_daemon.reset();
    }

private:
    std::unique_ptr<QProcess> m_daemon;
};

inline const auto *g_privateBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);
