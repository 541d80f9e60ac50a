#include "app/commandline/BVMarkerCommand.h"

#include "markers/BVMarkerListImport.h"
#include "markers/BVMarkerModel.h"
#include "markers/BVMarkerStore.h"
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaAsset.h"
#include "player/media/BVAVAsset.h"
#include "support/BVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <thread>

namespace {

constexpr int loadTimeoutMs = 60000;

class LoadDelegate : public BVMediaObjectDelegate
{
public:
    void prepareForPlayback() override { prepared.store(true); }
    void mediaPlaybackFailed(const BVError &error) override
    {
        failure = error;
        failed.store(true);
    }
    std::atomic<bool> prepared {false};
    std::atomic<bool> failed {false};
    BVError failure;
};

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The media as a document opens it: loaded in the background, waited on until playable.
struct LoadedMedia
{
    BVAVAsset media;
    LoadDelegate delegate;
    QUrl url;
    ~LoadedMedia() { media.cleanup(); }

    bool load(const QString &argument, QString *error)
    {
        const QFileInfo info(argument);
        if (!info.isFile()) {
            *error = QStringLiteral("%1: No such file").arg(argument);
            return false;
        }
        // The key the window stores the file's settings under.
        url = QUrl::fromUserInput(argument, QDir::currentPath(), QUrl::AssumeLocalFile);
        auto asset = MediaAsset::assetWithURL(url);
        media.setDelegate(&delegate);
        if (QMimeDatabase()
                .mimeTypeForFile(info.absoluteFilePath())
                .name()
                .startsWith(QLatin1String("audio/")))
            media.setIsAudioOnly(true);
        std::thread([this, asset] { media.loadAsset(asset); }).join();
        QElapsedTimer timer;
        timer.start();
        while (!delegate.prepared.load() && !delegate.failed.load() && timer.elapsed() < loadTimeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        if (delegate.failed.load()) {
            *error = QStringLiteral("%1: %2").arg(argument, delegate.failure.localizedDescription());
            return false;
        }
        if (!delegate.prepared.load()) {
            *error = QStringLiteral("%1: Timed out while loading").arg(argument);
            return false;
        }
        return true;
    }
};

QJsonArray describe(const BVMarkerModel &model)
{
    QJsonArray list;
    const BVMediaObject &media = *model.mediaObject();
    for (const BVMarker &marker : model.markers()) {
        const MediaTime position = BVMarkers::positionOf(marker);
        QJsonObject record {
            {QStringLiteral("name"), marker->value(BVMarkerKey::name).toString()},
            {QStringLiteral("timecode"), marker->value(BVMarkerKey::timecode).toString()},
            {QStringLiteral("color"), marker->value(BVMarkerKey::color).toInt()},
            {QStringLiteral("val"), marker->value(BVMarkerKey::val).toDouble()},
            {QStringLiteral("can_edit"), marker->value(BVMarkerKey::canEdit).toBool()},
            {QStringLiteral("position"),
                QJsonObject {{QStringLiteral("value"), qint64(position.value())},
                    {QStringLiteral("timescale"), position.timescale()}}},
            {QStringLiteral("frame"), qint64(media.frameAtTime(position))},
        };
        if (marker->contains(BVMarkerKey::annotation))
            record.insert(QStringLiteral("annotation"),
                QJsonValue::fromVariant(marker->value(BVMarkerKey::annotation)));
        list.append(record);
    }
    return list;
}

int usageError(FILE *err, const QString &message)
{
    print(err, QStringLiteral("reelmark: %1\n%2").arg(message, BVMarkerCommand::usage()));
    return 2;
}

} // namespace

bool BVMarkerCommand::isMarkerCommand(const QString &argument)
{
    return argument == QLatin1String("--markers") || argument == QLatin1String("--import-markers")
        || argument == QLatin1String("--export-markers");
}

QString BVMarkerCommand::usage()
{
    return QStringLiteral("Usage: reelmark --markers MEDIA\n"
                          "       reelmark --import-markers LIST MEDIA\n"
                          "       reelmark --export-markers fcp7|avid|comma|space MEDIA OUT\n");
}

int BVMarkerCommand::run(const QString &command, const QStringList &arguments, FILE *out, FILE *err)
{
    const qsizetype wanted = command == QLatin1String("--markers") ? 1
        : command == QLatin1String("--import-markers")             ? 2
                                                                   : 3;
    if (!isMarkerCommand(command) || arguments.size() != wanted)
        return usageError(err,
            QStringLiteral("%1 needs %2 argument%3")
                .arg(command)
                .arg(wanted)
                .arg(wanted == 1 ? QString() : QStringLiteral("s")));
    int format = -1;
    if (command == QLatin1String("--export-markers")) {
        format = BVMarkerListImport::formatNamed(arguments.at(0));
        if (format < 0)
            return usageError(err, QStringLiteral("unknown marker list format %1").arg(arguments.at(0)));
    }
    QDir().mkpath(BVLog::sharedController()->logFolder());

    const QString mediaPath = arguments.at(command == QLatin1String("--markers") ? 0 : 1);
    LoadedMedia loaded;
    QString error;
    if (!loaded.load(mediaPath, &error)) {
        print(err, QStringLiteral("reelmark: %1\n").arg(error));
        return 1;
    }
    BVMarkerModel model(&loaded.media, BVMarkerStore::keyForURL(loaded.url));
    model.loadMarkers();

    int status = 0;
    if (command == QLatin1String("--markers")) {
        print(out, QString::fromUtf8(QJsonDocument(describe(model)).toJson(QJsonDocument::Indented)));
    } else if (command == QLatin1String("--import-markers")) {
        QFile file(arguments.at(0));
        if (!file.open(QIODevice::ReadOnly)) {
            print(err, QStringLiteral("Unable to import marker list\n%1\n").arg(file.errorString()));
            return 1;
        }
        const BVMarkerListImport::Result result = BVMarkerListImport::importMarkerList(file.readAll(), model);
        if (result.refused) {
            print(err, QStringLiteral("%1\n%2\n").arg(result.alertTitle, result.alertText));
            status = 1;
        } else {
            print(out, QStringLiteral("%1\n%2\n").arg(result.notificationTitle, result.notificationText));
        }
    } else {
        if (model.markers().isEmpty()) {
            print(err, QStringLiteral("Cannot export markers\nNo markers have been added to this file.\n"));
            return 1;
        }
        const QString text = BVMarkerListImport::exportText(format, model.markers());
        if (!BVMarkerListImport::writeText(arguments.at(2), text, &error)) {
            print(err, QStringLiteral("reelmark: %1: %2\n").arg(arguments.at(2), error));
            status = 1;
        }
    }
    if (!BVUserDefaults::standardUserDefaults()->synchronize()) {
        print(err, QStringLiteral("reelmark: the settings could not be written\n"));
        status = 1;
    }
    return status;
}
