#pragma once

#include "markers/BVMarker.h"
#include "markers/BVMarkerStore.h"

#include <QList>
#include <QObject>

class BVMediaObject;

// The marker list of one document and every change made to it: loading with the media's
// chapters, markers at the playhead, commits, deletion, "Delete All". Local files are stored at
// once after each change; a cloud file's list lives on the service and is only announced. Opens no
// dialog (confirmations are the caller's). Main thread.
class BVMarkerModel : public QObject
{
    Q_OBJECT
public:
    // The media object is not owned and must outlive the model (or be cleared with setMediaObject).
    BVMarkerModel(BVMediaObject *media, const QString &fileKey, QObject *parent = nullptr);

    void setMediaObject(BVMediaObject *media) { m_media = media; }
    // The "fileSettings" key the list is stored under (the file changed, as a playlist's does).
    void setFileKey(const QString &fileKey) { m_store = BVMarkerStore(fileKey); }
    BVMediaObject *mediaObject() const { return m_media; }
    // A cloud file (file ID 0 or more) and its project (-1: private storage, which has no markers).
    void setVelo(qlonglong fileID, qlonglong projectID);
    bool isCloud() const { return m_veloFileID != -1; }
    qlonglong veloFileID() const { return m_veloFileID; }
    bool isPrivateCloudFile() const { return isCloud() && m_veloProjectID == -1; }

    const QList<BVMarker> &markers() const { return m_markers; }
    // The cloud path fills the list from the file's comments.
    void setMarkers(const QList<BVMarker> &markers);
    QList<BVMarker> filteredMarkers() const;

    // Fills the list from storage and merges the chapters (stored at once); a cloud file asks for
    // its comments instead. Answers false when nothing was done (private storage, frame rate 0).
    bool loadMarkers();
    // The marker at the playhead time: the one already there (*created false), else a new one
    // inserted and stored (*created true).
    BVMarker addMarker(const MediaTime &current, bool *created = nullptr);
    // A record for a position in this media: label, position, "val", timecode, colour 0.
    BVMarker makeMarker(const MediaTime &position, const QString &name, bool canEdit) const;
    // Inserts by the ordering rule without storing (imports store once at the end).
    void insertMarker(const BVMarker &marker);
    // Puts a record whose position changed back in its place by the ordering rule.
    void reorderMarker(const BVMarker &marker);
    // Commits an edited record: refresh, store, and for a cloud record a post or an edit.
    void saveMarker(const BVMarker &marker);
    // Local files: stores the whole list and asks for a table reload. Nothing for a cloud file.
    void saveMarkers();
    // Takes the record out of the list (asked to remove its comment when it has one) and stores.
    void removeMarker(const BVMarker &marker);
    // Local files: removes the record's annotation file and its "annotation" entry, then commits.
    void deleteAnnotationForMarker(const BVMarker &marker);
    // Local files: forgets the stored markers and reloads (chapters come back). False for a cloud file.
    bool deleteAllMarkers();

    // The timecode the media gives for a position; "00:00:00:00" when it gives none.
    QString timecodeAtTime(const MediaTime &time) const;
    MediaTime duration() const;

Q_SIGNALS:
    // The list or a record changed: the timeline redraws the thinned list.
    void markersChanged();
    // The markers table reloads.
    void tableReloadRequested();
    // Cloud files: ask for the comments, post a new one, edit or remove one.
    void commentsRequested();
    void postCommentRequested(const BVMarker &marker);
    void editCommentRequested(const BVMarker &marker);
    void removeCommentRequested(qlonglong commentID);

private:
    void mergeChapters();

    BVMediaObject *m_media = nullptr;
    BVMarkerStore m_store;
    qlonglong m_veloFileID = -1;
    qlonglong m_veloProjectID = -1;
    QList<BVMarker> m_markers;
};
