#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// The glyphs of the control strip's transport buttons, drawn as vectors so they stay crisp at any
// scale: "skipBack", "rewind", "stepLeft", "play", "pause", "stepRight", "fastForward", "skipNext",
// "prevMarker", "addMarker", "nextMarker". An unknown name gives an empty icon.
namespace BVTransportIcons {

QIcon icon(const QString &name);
// The same glyph in the given colour and logical size (tests and custom buttons).
QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 1);

} // namespace BVTransportIcons
