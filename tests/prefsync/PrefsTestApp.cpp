// A stand-in application for the restore tests: owns its bundle identifier on the session bus,
// answers org.freedesktop.Application's "quit" and, like a real application, saves its
// preferences while quitting (a moment after it was asked). Each start appends "launched <pid>" to
// the log file; the save appends "saved".
//
//   PrefsTestApp --id IDENTIFIER --prefs FILE --log FILE [--refuse | --ignore]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <cstdio>

namespace {

void appendLine(const QString &path, const QByteArray &line)
{
    QFile file(path);
    if (file.open(QIODevice::Append))
        file.write(line + '\n');
}

} // namespace

class TestApplication : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    QString prefs;
    QString log;
    QString mode;

public Q_SLOTS:
    void Activate(const QVariantMap &) { }
    void ActivateAction(const QString &name, const QVariantList &, const QVariantMap &)
    {
        if (name != QLatin1String("quit") || mode == QLatin1String("--refuse")) {
            sendErrorReply(QDBusError::NotSupported, QStringLiteral("Not now"));
            return;
        }
        if (mode == QLatin1String("--ignore"))
            return;
        QTimer::singleShot(300, this, [this] {
            QFile file(prefs);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write("saved on quit");
            file.close();
            appendLine(log, "saved");
            QCoreApplication::quit();
        });
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TestApplication object;
    QString identifier;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--id") && i + 1 < args.size())
            identifier = args[++i];
        else if (args[i] == QLatin1String("--prefs") && i + 1 < args.size())
            object.prefs = args[++i];
        else if (args[i] == QLatin1String("--log") && i + 1 < args.size())
            object.log = args[++i];
        else
            object.mode = args[i];
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    QString path = QLatin1Char('/') + identifier;
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    if (identifier.isEmpty() || !bus.registerObject(path, &object, QDBusConnection::ExportAllSlots)
        || !bus.registerService(identifier)) {
        std::fprintf(stderr, "PrefsTestApp: cannot own %s on the session bus\n", qPrintable(identifier));
        return 1;
    }
    appendLine(object.log, "launched " + QByteArray::number(QCoreApplication::applicationPid()));
    return app.exec();
}

#include "PrefsTestApp.moc"
