#include "support/BVTimeEstimate.h"

#include <QDataStream>
#include <QIODevice>
#include <QVariant>

#include <cmath>

namespace {

QVariant optionalValue(const std::optional<double> &value)
{
    return value ? QVariant(*value) : QVariant();
}

std::optional<double> optionalDouble(const QVariant &value)
{
    return value.isValid() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

} // namespace

BVTimeEstimate BVTimeEstimate::timeEstimateWithTotal(std::optional<double> total)
{
    BVTimeEstimate estimate;
    estimate.totalValue = total;
    return estimate;
}

void BVTimeEstimate::start()
{
    startWithValue(0);
}

void BVTimeEstimate::startWithValue(double value)
{
    startValue = value;
    startDate = now();
    if (!currentValue)
        currentValue = 0;
    cachedValue.reset();
    lastQueryDate = QDateTime();
}

void BVTimeEstimate::reset()
{
    startValue = 0;
    currentValue = 0;
    cachedValue.reset();
    lastQueryDate = QDateTime();
}

void BVTimeEstimate::incrementCurrentValue(double value)
{
    currentValue = currentValue.value_or(0) + value;
}

double BVTimeEstimate::secondsRemaining() const
{
    // A total of 0 or less (a download without a length) is no usable total either.
    if (!startDate.isValid() || !currentValue || !totalValue || !startValue || *totalValue <= 0)
        return -1;
    const double elapsed = startDate.msecsTo(now()) / 1000.0;
    if (elapsed < 4)
        return -1;
    const double percent = (*currentValue - *startValue) / *totalValue * 100;
    if (percent <= 0)
        return -1;
    return (100 - percent) * (elapsed / percent);
}

QString BVTimeEstimate::timeRemaining()
{
    const QDateTime at = now();
    if (cachedValue && lastQueryDate.isValid() && lastQueryDate.msecsTo(at) < 800)
        return *cachedValue;
    if (startDate.isValid() && startDate.msecsTo(at) < 4000)
        return showCalculatingTimeMessage ? QStringLiteral("Calculating time") : QString();
    const double seconds = secondsRemaining();
    if (seconds < 0)
        return QStringLiteral("Unknown");
    const long total = long(std::ceil(seconds));
    // "%0.2li:%0.2li:%0.2li": a precision of 2 pads with zeros (the 0 flag adds nothing to it).
    const QString text
        = QString::asprintf("%.2li:%.2li:%.2li", (total / 3600) % 24, (total / 60) % 60, total % 60);
    cachedValue = text;
    lastQueryDate = at;
    return text;
}

QByteArray BVTimeEstimate::archive() const
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << startDate << optionalValue(startValue) << optionalValue(totalValue) << optionalValue(currentValue)
        << (cachedValue ? QVariant(*cachedValue) : QVariant()) << lastQueryDate
        << QStringLiteral("showCalculatingTimeMessage") << showCalculatingTimeMessage;
    return data;
}

std::optional<BVTimeEstimate> BVTimeEstimate::fromArchive(const QByteArray &archive)
{
    QDataStream in(archive);
    in.setVersion(QDataStream::Qt_6_4);
    BVTimeEstimate estimate;
    QVariant start, total, current, cached;
    QString key;
    bool calculating = true;
    in >> estimate.startDate >> start >> total >> current >> cached >> estimate.lastQueryDate >> key
        >> calculating;
    if (in.status() != QDataStream::Ok || key != QLatin1String("showCalculatingTimeMessage"))
        return std::nullopt;
    estimate.startValue = optionalDouble(start);
    estimate.totalValue = optionalDouble(total);
    estimate.currentValue = optionalDouble(current);
    if (cached.isValid())
        estimate.cachedValue = cached.toString();
    estimate.showCalculatingTimeMessage = calculating;
    return estimate;
}
