#include "player/window/BVTransportIcons.h"

#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Glyphs are drawn in a 24 x 24 box.
QPainterPath triangle(qreal left, qreal right, qreal top, qreal bottom)
{
    QPainterPath path;
    path.moveTo(left, top);
    path.lineTo(right, (top + bottom) / 2);
    path.lineTo(left, bottom);
    path.closeSubpath();
    return path;
}

QPainterPath mirrored(const QPainterPath &path)
{
    return QTransform(-1, 0, 0, 1, 24, 0).map(path);
}

QPainterPath bar(qreal x, qreal width, qreal top = 6, qreal bottom = 18)
{
    QPainterPath path;
    path.addRect(QRectF(x, top, width, bottom - top));
    return path;
}

QPainterPath glyph(const QString &name)
{
    // The backward glyphs are the forward ones mirrored.
    static const QMap<QString, QString> backward {{QStringLiteral("stepLeft"), QStringLiteral("stepRight")},
        {QStringLiteral("rewind"), QStringLiteral("fastForward")},
        {QStringLiteral("skipBack"), QStringLiteral("skipNext")},
        {QStringLiteral("prevMarker"), QStringLiteral("nextMarker")}};
    if (const auto it = backward.constFind(name); it != backward.constEnd())
        return mirrored(glyph(it.value()));
    QPainterPath path;
    if (name == QLatin1String("play")) {
        path = triangle(7, 19, 4.5, 19.5);
    } else if (name == QLatin1String("pause")) {
        path = bar(6.5, 4, 5, 19);
        path.addPath(bar(13.5, 4, 5, 19));
    } else if (name == QLatin1String("stepRight")) {
        path = triangle(7, 15, 6, 18);
        path.addPath(bar(15.5, 2));
    } else if (name == QLatin1String("fastForward")) {
        path = triangle(3, 12, 6, 18);
        path.addPath(triangle(12, 21, 6, 18));
    } else if (name == QLatin1String("skipNext")) {
        path = triangle(5, 16, 6, 18);
        path.addPath(bar(16.5, 2.5));
    } else if (name == QLatin1String("addMarker")) {
        // A marker flag with a plus.
        path.moveTo(7, 5);
        path.lineTo(17, 5);
        path.lineTo(17, 14);
        path.lineTo(12, 19);
        path.lineTo(7, 14);
        path.closeSubpath();
        QPainterPath plus;
        plus.addRect(QRectF(11.2, 7.5, 1.6, 7));
        plus.addRect(QRectF(8.5, 10.2, 7, 1.6));
        path = path.subtracted(plus);
    } else if (name == QLatin1String("nextMarker")) {
        // A small marker flag beside a step arrow.
        QPainterPath flag;
        flag.moveTo(14, 6);
        flag.lineTo(20, 6);
        flag.lineTo(20, 12);
        flag.lineTo(17, 15);
        flag.lineTo(14, 12);
        flag.closeSubpath();
        flag.addPath(triangle(4, 11, 7, 17));
        path = flag;
    }
    return path;
}

} // namespace

namespace BVTransportIcons {

QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    const QPainterPath path = glyph(name);
    if (path.isEmpty())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(path);
    return pixmap;
}

QIcon icon(const QString &name)
{
    if (glyph(name).isEmpty())
        return {};
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        icon.addPixmap(pixmap(name, 24, QColor(0xd8, 0xd8, 0xd8), ratio), QIcon::Normal);
        icon.addPixmap(pixmap(name, 24, QColor(0xff, 0xff, 0xff), ratio), QIcon::Active);
        icon.addPixmap(pixmap(name, 24, QColor(0x5a, 0x5a, 0x5a), ratio), QIcon::Disabled);
    }
    return icon;
}

} // namespace BVTransportIcons
