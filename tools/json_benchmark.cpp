// Parses a generated 5 MB service-like reply (an array of 20,000 file records) with BVJSON,
// RapidJSON's DOM parser and nlohmann::json, and prints the median and the fastest time of each
// (the fastest is the steadier figure on a busy machine).
#include "net/BVJSON.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
struct Timing
{
    double median = 0;
    double fastest = 0;
    // Median of the thread's CPU time: what a parse costs while other programs share the cores.
    double cpu = 0;
};

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

template<typename Result> Timing timeMs(int runs, const std::function<bool(Result &)> &parse)
{
    std::vector<double> times;
    std::vector<double> cpuTimes;
    for (int i = 0; i < runs; ++i) {
        Result result;
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMs();
        if (!parse(result)) {
            std::fprintf(stderr, "parse failed\n");
            return {};
        }
        cpuTimes.push_back(threadCpuMs() - cpuStart);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    return {times[times.size() / 2], times.front(), cpuTimes[cpuTimes.size() / 2]};
}

} // namespace

int main(int argc, char **argv)
{
    // A warm heap for every parser: the C library otherwise hands freed memory back to the system
    // whenever nothing happens to sit above it, and the next parse pays a page fault for each page
    // again (on this machine that alone can make a parse four times slower). Which parser meets
    // which heap would then be chance. BV_JSON_BENCH_COLD=1 keeps the library's own policy.
    const bool cold = qEnvironmentVariableIntValue("BV_JSON_BENCH_COLD") == 1;
    if (!cold) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest the library accepts
    }
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    // An optional second argument runs one parser alone (for profiling): bvjson, bvjson-text,
    // rapidjson, nlohmann.
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const QByteArray reply = makeReply(20000);
    const QString replyText = QString::fromUtf8(reply);
    std::printf("reply: %.2f MB, 20000 records, median of %d runs (parse only, release excluded), %s heap\n",
        reply.size() / 1e6, runs, cold ? "cold" : "warm");

    const auto wanted = [&](const char *name) { return only.isEmpty() || only == name; };
    Timing bvBytes, bvText, rapid, nlohmannMs;
    if (wanted("bvjson"))
        bvBytes = timeMs<QVariant>(runs, [&](QVariant &v) {
            v = BVJSON().objectWithData(reply);
            return v.toList().size() == 20000;
        });
    if (wanted("bvjson-text"))
        bvText = timeMs<QVariant>(runs, [&](QVariant &v) {
            v = BVJSON().objectWithString(replyText);
            return v.toList().size() == 20000;
        });
    if (wanted("rapidjson"))
        rapid = timeMs<rapidjson::Document>(runs, [&](rapidjson::Document &document) {
            document.Parse(reply.constData(), size_t(reply.size()));
            return !document.HasParseError() && document.Size() == 20000;
        });
    if (wanted("nlohmann"))
        nlohmannMs = timeMs<nlohmann::json>(runs, [&](nlohmann::json &document) {
            document = nlohmann::json::parse(reply.constData(), reply.constData() + reply.size());
            return document.size() == 20000;
        });
    std::printf("%-34s %9s %7s %7s %9s %7s %9s %7s\n", "", "median", "MB/s", "ratio", "fastest", "ratio",
        "cpu", "ratio");
    const auto line = [&](const char *name, Timing t) {
        if (t.median <= 0)
            return;
        const auto ratio
            = [](double value, double baseline) { return baseline > 0 ? value / baseline : 0.0; };
        std::printf("%-34s %6.2f ms %7.1f %6.2fx %6.2f ms %6.2fx %6.2f ms %6.2fx\n", name, t.median,
            reply.size() / 1e3 / t.median, ratio(t.median, rapid.median), t.fastest,
            ratio(t.fastest, rapid.fastest), t.cpu, ratio(t.cpu, rapid.cpu));
    };
    line("RapidJSON DOM (baseline)", rapid);
    line("nlohmann::json", nlohmannMs);
    line("BVJSON objectWithData (UTF-8)", bvBytes);
    line("BVJSON objectWithString (QString)", bvText);
    return 0;
}
