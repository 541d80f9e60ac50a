#pragma once

#include <QString>
#include <QStringList>

// How chosen image files become one image sequence: their playing order and the frame rate typed in
// the open dialog's frame-rate box.
namespace BVImageSequenceFiles {

// Orders the paths by the number in each file name: the last match of "([0-9])\w+" (case-insensitive)
// compared by its leading decimal digits. Names without a match on either side, or with equal
// numbers, compare as their paths without extensions.
QStringList sortedPaths(const QStringList &paths);

// True when `a` plays before `b` under the rule of sortedPaths().
bool playsBefore(const QString &a, const QString &b);

// The frame rate for a typed value: 0 or less, or not a number, gives 24; values strictly between
// 23 and 24, 29 and 30, 59 and 60 become 24000/1001, 30000/1001 and 60000/1001; others are kept.
double frameRateForEntry(const QString &typed);

// True for the file extensions played as stills ("tif", "tiff", "jpg", "jpeg", "png", "bmp", and
// the film formats "exr" and "dpx", which FFmpeg decodes).
bool isImagePath(const QString &path);

} // namespace BVImageSequenceFiles
