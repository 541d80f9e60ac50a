#pragma once

#include "markers/BVMarker.h"
#include "player/time/BVPositionText.h"

#include <QAbstractTableModel>

class BVMarkerModel;

// The rows of the markers window: one per record of the document's full list, columns "author",
// "timecode", "name" and "color". Timecodes show in the "timecodeDisplay" mode (0 source
// timecode, 1 counted from zero, 2 frame count) and are typed back in the same mode. Only records
// whose "can_edit" is true are editable. Main thread.
class BVMarkersTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Author = 0, Timecode = 1, Name = 2, Color = 3 };
    static QString identifier(int column);

    explicit BVMarkersTableModel(BVMarkerModel *markers, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    BVMarker markerAtRow(int row) const;
    // The timecode cell's text of a record in a display mode (made by BVPositionText).
    QString displayTimecode(const QVariantMap &record, int mode) const;
    // Re-reads the list (`reloadData`).
    void reload();

private:
    // The frame count (from the media's start) a typed text names in a mode; -1 when unreadable.
    int64_t frameCountForText(const QString &text, BVPositionText::Mode mode) const;

    BVMarkerModel *m_markers;
};
