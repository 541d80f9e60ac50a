// The main of every test program: each process runs in its own temporary HOME with its own XDG
// folders and the offscreen Qt platform, so no test touches the real user's files or display.
#include "support/BVBundle.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace BVTest {
QString g_home;
}

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/bvtest-XXXXXX"));
    if (!home.isValid())
        return 3;
    const QString root = home.path();
    BVTest::g_home = root;
    const QList<QPair<const char *, QString>> folders = {
        {"HOME", root},
        {"XDG_DATA_HOME", root + QStringLiteral("/.local/share")},
        {"XDG_CONFIG_HOME", root + QStringLiteral("/.config")},
        {"XDG_CACHE_HOME", root + QStringLiteral("/.cache")},
        {"XDG_STATE_HOME", root + QStringLiteral("/.local/state")},
        {"XDG_RUNTIME_DIR", root + QStringLiteral("/.runtime")},
        {"TMPDIR", root + QStringLiteral("/tmp")},
    };
    for (const auto &[name, path] : folders) {
        QDir().mkpath(path);
        qputenv(name, QFile::encodeName(path));
    }
    QFile::setPermissions(root + QStringLiteral("/.runtime"),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SDL_AUDIODRIVER", "dummy");

    BVBundle::setMainBundle(BVBundle::reelmark());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
