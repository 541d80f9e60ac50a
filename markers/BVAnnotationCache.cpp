#include "markers/BVAnnotationCache.h"

#include "support/BVFileManager.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <chrono>

QString BVAnnotationCache::folder()
{
    return BVLocalPaths::cacheDirectory(true) + QStringLiteral("/Reelmark/Local Annotation Cache");
}

QString BVAnnotationCache::pathForUUID(const QString &uuid)
{
    return folder() + QStringLiteral("/%1.svg").arg(uuid);
}

bool BVAnnotationCache::writeAnnotation(const QString &uuid, const QString &svg, QString *error)
{
    if (uuid.isEmpty() || uuid.contains(u'/')) {
        if (error)
            *error = QStringLiteral("The annotation has no usable name.");
        return false;
    }
    if (!QFileInfo(folder()).isDir() && !BVFileManager::createDirectory(folder(), std::chrono::seconds(10))) {
        if (error)
            *error = QStringLiteral("The folder \"%1\" could not be created.").arg(folder());
        return false;
    }
    QSaveFile file(pathForUUID(uuid));
    const QByteArray data = svg.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        BVLog::appendLog(QStringLiteral("annotation write failed: %1").arg(file.errorString()));
        return false;
    }
    return true;
}

bool BVAnnotationCache::readAnnotation(const QString &uuid, QString *svg, QString *error)
{
    QFile file(pathForUUID(uuid));
    if (uuid.isEmpty() || !file.exists()) {
        if (error)
            *error = QStringLiteral("Could not locate the file on disk.");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.readAll());
    if (decoder.hasError()) {
        if (error)
            *error = QStringLiteral("The file is not valid UTF-8 text.");
        return false;
    }
    if (svg)
        *svg = text;
    return true;
}

bool BVAnnotationCache::removeAnnotation(const QString &uuid)
{
    if (uuid.isEmpty() || uuid.contains(u'/'))
        return false;
    const QString path = pathForUUID(uuid);
    if (!QFileInfo::exists(path))
        return true;
    return BVFileManager::removeFile(path, std::chrono::seconds(10));
}
