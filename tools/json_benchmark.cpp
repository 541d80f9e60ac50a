// Parses a generated 5 MB service-like reply (an array of 20,000 file records) with BVJSON,
// RapidJSON's DOM parser and nlohmann::json, and prints the median time of each.
#include "net/BVJSON.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QByteArray makeReply(int records)
{
    QByteArray out = "[";
    out.reserve(records * 280);
    for (int i = 0; i < records; ++i) {
        if (i)
            out += ',';
        out += "{\"id\":" + QByteArray::number(100000 + i) + ",\"project_id\":" + QByteArray::number(i % 37)
            + ",\"parent\":" + QByteArray::number(i % 500) + ",\"title\":\"Reel " + QByteArray::number(i)
            + " v" + QByteArray::number(i % 9) + (i % 10 == 0 ? " \\u00e9t\\u00e9 \\\"final\\\"" : "")
            + "\",\"filename\":\"R" + QByteArray::number(i) + "_grade.mov\"" + ",\"size\":"
            + QByteArray::number(qint64(i) * 7919 * 1024) + ",\"frameRate\":" + (i % 2 ? "23.976" : "25")
            + ",\"duration\":" + QByteArray::number(i * 24 + 11)
            + ",\"timecodeStart\":\"01:00:00:00\",\"dropFrame\":" + (i % 3 ? "false" : "true")
            + ",\"created\":\"2026-11-0" + QByteArray::number(1 + i % 9) + " 12:34:56\""
            + ",\"owner\":{\"id\":" + QByteArray::number(i % 50) + ",\"name\":\"Editor "
            + QByteArray::number(i % 50) + "\"}}";
    }
    out += "]";
    return out;
}

// Times the parse only: each parser's result is released after the clock has stopped.
template<typename Result> double medianMs(int runs, const std::function<bool(Result &)> &parse)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        Result result;
        QElapsedTimer timer;
        timer.start();
        if (!parse(result)) {
            std::fprintf(stderr, "parse failed\n");
            return -1;
        }
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    // An optional second argument runs one parser alone (for profiling): bvjson, bvjson-text,
    // rapidjson, nlohmann.
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const QByteArray reply = makeReply(20000);
    const QString replyText = QString::fromUtf8(reply);
    std::printf("reply: %.2f MB, 20000 records, median of %d runs (parse only, release excluded)\n",
        reply.size() / 1e6, runs);

    const auto wanted = [&](const char *name) { return only.isEmpty() || only == name; };
    double bvBytes = 0, bvText = 0, rapid = 0, nlohmannMs = 0;
    if (wanted("bvjson"))
        bvBytes = medianMs<QVariant>(runs, [&](QVariant &v) {
            v = BVJSON().objectWithData(reply);
            return v.toList().size() == 20000;
        });
    if (wanted("bvjson-text"))
        bvText = medianMs<QVariant>(runs, [&](QVariant &v) {
            v = BVJSON().objectWithString(replyText);
            return v.toList().size() == 20000;
        });
    if (wanted("rapidjson"))
        rapid = medianMs<rapidjson::Document>(runs, [&](rapidjson::Document &document) {
            document.Parse(reply.constData(), size_t(reply.size()));
            return !document.HasParseError() && document.Size() == 20000;
        });
    if (wanted("nlohmann"))
        nlohmannMs = medianMs<nlohmann::json>(runs, [&](nlohmann::json &document) {
            document = nlohmann::json::parse(reply.constData(), reply.constData() + reply.size());
            return document.size() == 20000;
        });
    const auto line = [&](const char *name, double ms) {
        if (ms <= 0)
            return;
        if (rapid > 0)
            std::printf("%-34s %8.2f ms %8.1f MB/s  %5.2fx RapidJSON\n", name, ms, reply.size() / 1e3 / ms,
                ms / rapid);
        else
            std::printf("%-34s %8.2f ms %8.1f MB/s\n", name, ms, reply.size() / 1e3 / ms);
    };
    line("RapidJSON DOM (baseline)", rapid);
    line("nlohmann::json", nlohmannMs);
    line("BVJSON objectWithData (UTF-8)", bvBytes);
    line("BVJSON objectWithString (QString)", bvText);
    return 0;
}
