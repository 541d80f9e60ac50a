// MIDI Time Code quarter-frame timing while a document plays at rate 1: the intervals between
// quarter frames, as the file stand-in of the sequencer stamped them, against the ideal
// 1 / (4 x rate). Runs in a temporary HOME with REELMARK_MIDI=file:..., offscreen unless a
// display is chosen.
//
//   bv_mtc_jitter_benchmark [--seconds 60] [--rate 25] [FILE]
#include "app/midi/BVMIDIOutput.h"
#include "app/midi/BVMIDITimecodeOutput.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVMediaObject.h"
#include "player/window/BVDocumentWindowController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

void spin(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(name, (home.path() + u'/' + QString::fromLatin1(name)).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString midiLog = home.path() + QStringLiteral("/midi.log");
    qputenv("REELMARK_MIDI", ("file:" + midiLog).toUtf8());

    QApplication app(argc, argv);
    int seconds = 60;
    QString rate = QStringLiteral("25");
    QString file;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--seconds") && i + 1 < arguments.size())
            seconds = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--rate") && i + 1 < arguments.size())
            rate = arguments[++i];
        else
            file = arguments[i];
    }
    if (file.isEmpty()) {
        const QString name
            = QStringLiteral("mtc-jitter-%1-%2.mov").arg(QString(rate).replace(u'/', u'_')).arg(seconds);
        file = QStringLiteral(BV_BENCHMARK_MEDIA_DIR "/") + name;
        if (!QFileInfo::exists(file)
            && QProcess::execute(QStringLiteral(BV_SOURCE_DIR "/tools/bv-make-sample"),
                   {QStringLiteral("--variant"), QStringLiteral("barcode"), QStringLiteral("--rate"), rate,
                       QStringLiteral("--duration"), QString::number(seconds + 5), QStringLiteral("--tc"),
                       QStringLiteral("01:00:00:00"), QStringLiteral("--output"),
                       QStringLiteral(BV_BENCHMARK_MEDIA_DIR), QStringLiteral("--name"), name})
                != 0) {
            std::fprintf(stderr, "cannot make the sample clip\n");
            return 1;
        }
    }

    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    defaults->setInteger(0, QStringLiteral("autoplay"));
    defaults->setInteger(0, QStringLiteral("savePlaybackPos"));
    defaults->setInteger(3, QStringLiteral("timecodeOutput"));
    auto output = std::make_shared<BVMIDIOutput>();
    output->connect();
    if (!output->hub()) {
        std::fprintf(stderr, "MIDI did not open\n");
        return 1;
    }
    BVDocument document;
    if (!document.readFromURL(QUrl::fromLocalFile(file), BVDocument::movieType())) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(file));
        return 1;
    }
    BVMIDITimecodeOutput::install(document, output);
    BVDocumentWindowController::showWindows(document);
    QElapsedTimer wait;
    wait.start();
    while (!document.isReady() && wait.elapsed() < 30000)
        spin(20);
    spin(500);
    const double fps = document.mediaObject()->frameRate().isValid() ? document.mediaObject()->fps() : 0;
    QFile::resize(midiLog, 0);
    document.play();
    spin(seconds * 1000);
    document.pause();
    spin(200);

    std::vector<double> times;
    QFile log(midiLog);
    if (!log.open(QIODevice::ReadOnly))
        return 1;
    for (const QByteArray &line : log.readAll().split('\n')) {
        if (!line.contains("] F1 "))
            continue;
        times.push_back(line.left(line.indexOf(' ')).toDouble() / 1e6);
    }
    if (times.size() < 3 || fps <= 0) {
        std::fprintf(stderr, "no quarter frames were sent\n");
        return 1;
    }
    const double ideal = 1.0 / (4 * fps);
    double sum = 0, sumSquares = 0, worstGap = 0, worstDeviation = 0;
    for (size_t i = 1; i < times.size(); ++i) {
        const double deviation = (times[i] - times[i - 1]) - ideal;
        sum += deviation;
        sumSquares += deviation * deviation;
        worstGap = std::max(worstGap, times[i] - times[i - 1]);
        worstDeviation = std::max(worstDeviation, std::abs(deviation));
    }
    const double n = double(times.size() - 1);
    const double mean = sum / n;
    const double deviation = std::sqrt(std::max(0.0, sumSquares / n - mean * mean));
    // Drift: where the last quarter frame went out against where the ideal clock puts it.
    const double drift = (times.back() - times.front()) - n * ideal;
    std::printf("quarter frames: %zu over %.2f s at %.3f fps (ideal interval %.3f ms)\n", times.size(),
        times.back() - times.front(), fps, ideal * 1e3);
    std::printf("per frame: %.3f\n", n / ((times.back() - times.front()) * fps));
    std::printf(
        "interval jitter: standard deviation %.3f ms, mean %.4f ms off\n", deviation * 1e3, mean * 1e3);
    std::printf("worst gap: %.3f ms (%.3f ms from ideal)\n", worstGap * 1e3, worstDeviation * 1e3);
    std::printf("drift over the run: %.3f ms\n", drift * 1e3);
    document.close();
    return 0;
}
