// Stores a Velora login as Reelmark's client does, for trying prefsync by hand:
//   StoreVeloraLogin SITE USER PASSWORD
#include "cloud/BVVelora.h"
#include "support/BVBundle.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    BVBundle::setMainBundle(BVBundle::reelmark());
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "Usage: StoreVeloraLogin SITE USER PASSWORD\n");
        return 2;
    }
    BVVelora velora(BVVelora::Program::Reelmark, nullptr);
    velora.setVeloServerEnabled(true);
    velora.setVeloServerURLString(args[1]);
    velora.setUsername(args[2]);
    velora.setPassword(args[3]);
    velora.saveSettings();
    return velora.isLinked() ? 0 : 1;
}
