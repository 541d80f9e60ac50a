#include "ExportTestSupport.h"

#include "common/BVTestSupport.h"
#include "export/BVAVExport.h"
#include "support/BVLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

namespace ExportTest {

namespace {

QString clipFolder()
{
    // The log folder too, so that the engine's log lines go to the log and not to the test output.
    QDir().mkpath(BVLog::sharedController()->logFolder());
    static const QString folder = BVTest::makeTempFolder(QStringLiteral("clips"));
    return folder;
}

} // namespace

QString makeClip(const ClipSpec &spec)
{
    const QString key = QStringList {spec.rate, QString::number(spec.seconds), spec.timecode, spec.size,
        spec.videoCodec, QString::number(spec.audioRate), QString::number(spec.audioChannels),
        QString::number(spec.video), QString::number(spec.transportClockStart)}
                            .join(u'|');
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
    const bool transport = spec.transportClockStart > 0;
    const QString extension = transport ? QStringLiteral(".ts") : QStringLiteral(".mov");
    const QString path = clipFolder() + QStringLiteral("/clip-%1").arg(name) + extension;
    if (QFileInfo(path).size() > 0)
        return path;
    QStringList args {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
        QStringLiteral("-nostdin"), QStringLiteral("-y")};
    const QString seconds = QString::number(spec.seconds);
    if (spec.video) {
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("color=black:size=%1:rate=%2:duration=%3,format=gray,"
                               "geq=lum='16+219*mod(floor(N/pow(2\\,floor(X/8)))\\,2)'")
                    .arg(spec.size, spec.rate, seconds);
    }
    if (spec.audioRate > 0) {
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                    .arg(spec.audioRate)
                    .arg(seconds);
        args << QStringLiteral("-ac") << QString::number(spec.audioChannels);
    }
    if (spec.video) {
        args << QStringLiteral("-c:v") << spec.videoCodec;
        if (spec.videoCodec == QLatin1String("libx264"))
            args << QStringLiteral("-preset") << QStringLiteral("veryfast") << QStringLiteral("-pix_fmt")
                 << QStringLiteral("yuv420p") << QStringLiteral("-bf") << QStringLiteral("2")
                 << QStringLiteral("-g") << QStringLiteral("12");
    }
    if (spec.audioRate > 0)
        args << QStringLiteral("-c:a") << QStringLiteral("aac");
    if (!spec.timecode.isEmpty() && !transport)
        args << QStringLiteral("-timecode") << spec.timecode;
    if (transport)
        args << QStringLiteral("-f") << QStringLiteral("mpegts") << QStringLiteral("-output_ts_offset")
             << QString::number(spec.transportClockStart);
    args << path + QStringLiteral(".tmp") + extension;
    BVTest::runTool(QStringLiteral("ffmpeg"), args);
    QFile::rename(path + QStringLiteral(".tmp") + extension, path);
    return path;
}

std::vector<int> frameIndices(const QString &path)
{
    const QByteArray raw = BVTest::runTool(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-f"),
            QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("gray"),
            QStringLiteral("-")});
    constexpr int width = 80;
    constexpr int height = 16;
    std::vector<int> indices;
    for (qsizetype at = 0; at + width * height <= raw.size(); at += width * height) {
        int index = 0;
        for (int bit = 0; bit < 10; ++bit)
            if (uint8_t(raw.at(at + 8 * width + bit * 8 + 4)) > 128)
                index |= 1 << bit;
        indices.push_back(index);
    }
    return indices;
}

QJsonObject probe(const QString &path)
{
    const QByteArray json = BVTest::runTool(QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-print_format"),
            QStringLiteral("json"), QStringLiteral("-show_streams"), QStringLiteral("-show_format"), path});
    return QJsonDocument::fromJson(json).object();
}

QJsonObject stream(const QJsonObject &probe, const QString &type)
{
    for (const QJsonValue &value : probe.value(QStringLiteral("streams")).toArray())
        if (value.toObject().value(QStringLiteral("codec_type")).toString() == type)
            return value.toObject();
    return {};
}

std::vector<int> run(int first, int last)
{
    std::vector<int> indices;
    for (int i = first; i <= last; ++i)
        indices.push_back(i % 1024); // ten bits of index in the picture
    return indices;
}

namespace {

class Recorder : public BVAVExportDelegate
{
public:
    explicit Recorder(Outcome &outcome)
        : m_outcome(outcome)
    { }
    void avExportProgress(BVAVExport *, double progress) override { m_outcome.progress.push_back(progress); }
    void avExportFinished(BVAVExport *) override { m_outcome.finished = true; }
    void avExportFailed(BVAVExport *, const BVError &error) override
    {
        m_outcome.failed = true;
        m_outcome.error = error.localizedDescription();
    }

private:
    Outcome &m_outcome;
};

} // namespace

Outcome runExport(const std::shared_ptr<BVAVExport> &engine, int timeoutMs)
{
    Outcome outcome;
    Recorder recorder(outcome);
    engine->setDelegate(&recorder);
    engine->startExport();
    const bool ended = BVTest::waitFor(
        [&] { return outcome.finished || outcome.failed; }, std::chrono::milliseconds(timeoutMs));
    engine->setDelegate(nullptr);
    EXPECT_TRUE(ended) << "the export did not end";
    return outcome;
}

} // namespace ExportTest
