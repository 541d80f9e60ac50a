#include "markers/BVMarkersTableModel.h"

#include "markers/BVMarkerColor.h"
#include "markers/BVMarkerModel.h"
#include "player/media/BVMediaObject.h"
#include "player/time/BVPositionText.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"

BVMarkersTableModel::BVMarkersTableModel(BVMarkerModel *markers, QObject *parent)
    : QAbstractTableModel(parent)
    , m_markers(markers)
{
    connect(markers, &BVMarkerModel::tableReloadRequested, this, &BVMarkersTableModel::reload);
}

QString BVMarkersTableModel::identifier(int column)
{
    switch (column) {
    case Author:
        return QStringLiteral("author");
    case Timecode:
        return QStringLiteral("timecode");
    case Name:
        return BVMarkerKey::name;
    default:
        return BVMarkerKey::color;
    }
}

void BVMarkersTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

int BVMarkersTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_markers->markers().size());
}

int BVMarkersTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 4;
}

BVMarker BVMarkersTableModel::markerAtRow(int row) const
{
    const QList<BVMarker> &list = m_markers->markers();
    return row >= 0 && row < list.size() ? list.at(row) : BVMarker();
}

QString BVMarkersTableModel::displayTimecode(const QVariantMap &record, int mode) const
{
    const BVMediaObject *media = m_markers->mediaObject();
    if (!media || media->fps() == 0)
        return {};
    const QString start
        = media->timecodeStart().isEmpty() ? BVTimecode::zeroTimecode() : media->timecodeStart();
    const int64_t startFrame
        = BVTimecode::frameCountFromTimecode(start, media->timebase(), media->ntsc(), media->dropFrame());
    const int64_t frame = BVTimecode::frameCountFromTimecode(record.value(BVMarkerKey::timecode).toString(),
        media->timebase(), media->ntsc(), media->dropFrame(), startFrame);
    return BVPositionText::textForFrame(*media, frame, BVPositionText::Mode(mode));
}

QVariant BVMarkersTableModel::data(const QModelIndex &index, int role) const
{
    const BVMarker marker = markerAtRow(index.row());
    if (!marker)
        return {};
    const QString id = identifier(index.column());
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (id == QLatin1String("author")) {
            const QString author = marker->value(BVMarkerKey::veloraAuthor).toString();
            return !author.isEmpty() && !marker->value(BVMarkerKey::veloraCurrentUser).toBool()
                ? author
                : QStringLiteral("Me");
        }
        if (id == QLatin1String("timecode"))
            return displayTimecode(*marker, BVPositionText::displayMode());
        if (index.column() == Color && role == Qt::DisplayRole)
            return BVMarkerColor::names().value(BVMarkerColor::clamp(BVMarkers::colorIndexOf(*marker)));
        return marker->value(id);
    }
    return {};
}

QVariant BVMarkersTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList titles {QStringLiteral("Author"), QStringLiteral("Timecode"),
        QStringLiteral("Name"), QStringLiteral("Color")};
    return titles.value(section);
}

Qt::ItemFlags BVMarkersTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    const BVMarker marker = markerAtRow(index.row());
    if (marker && index.column() != Author && marker->value(BVMarkerKey::canEdit).toBool())
        f |= Qt::ItemIsEditable;
    return f;
}

int64_t BVMarkersTableModel::frameCountForText(const QString &text, BVPositionText::Mode mode) const
{
    const BVMediaObject *media = m_markers->mediaObject();
    return BVPositionText::frameForTypedText(*media, text, mode, int64_t(media->currentFrame())).value_or(-1);
}

bool BVMarkersTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const BVMarker marker = markerAtRow(index.row());
    if (role != Qt::EditRole || !marker || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const QString text = value.toString();
    if (text.isEmpty())
        return false;
    BVMediaObject *media = m_markers->mediaObject();
    if (!media || media->fps() == 0) {
        BVLog::appendLog(QStringLiteral("Error editing marker - frame rate is 0"));
        return false;
    }
    if (index.column() == Name) {
        marker->insert(BVMarkerKey::name, text);
    } else if (index.column() == Color) {
        marker->insert(BVMarkerKey::color, BVMarkerColor::clamp(value.toInt()));
    } else if (index.column() == Timecode) {
        const int64_t frames = frameCountForText(text, BVPositionText::displayMode());
        // A time outside the media is refused rather than stored where no frame is.
        const MediaTime position = media->timeOfFrame(frames).absolute();
        if (frames < 0 || !position.isNumeric() || MediaTime::compare(position, m_markers->duration()) > 0)
            return false;
        const QString start
            = media->timecodeStart().isEmpty() ? BVTimecode::zeroTimecode() : media->timecodeStart();
        const int64_t startFrame
            = BVTimecode::frameCountFromTimecode(start, media->timebase(), media->ntsc(), media->dropFrame());
        marker->insert(BVMarkerKey::timecode,
            BVTimecode::timecodeFromFrameCount(
                frames, media->timebase(), media->ntsc(), media->dropFrame(), startFrame));
        marker->insert(BVMarkerKey::position, position.dictionary());
        marker->insert(BVMarkerKey::val, BVMarkers::valForPosition(position, m_markers->duration()));
        // The list stays in position order.
        m_markers->reorderMarker(marker);
    }
    m_markers->saveMarker(marker);
    reload();
    return true;
}
