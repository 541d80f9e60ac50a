#pragma once

#include <QString>

class QWidget;

// Cloud review of a document that plays a Velora file: its service client, comments as markers,
// approvals and revisions. Installed by whoever builds documents (BVDocument::setCloudReview); the
// default is a local file. Main thread.
class BVDocumentCloudReview
{
public:
    virtual ~BVDocumentCloudReview() = default;

    // Builds the document's service client and asks for the file's record (initializeVelora).
    virtual void initializeVelora() { }
    // The cloud file's id; -1 for a local file.
    virtual qlonglong veloFileID() const { return -1; }
    // The file's title on the service; empty: the platform's display name.
    virtual QString fileTitle() const { return {}; }
    // The file is kept in the local file cache.
    virtual bool veloIsCached() const { return false; }
    virtual void setVeloIsCached(bool cached) { (void)cached; }
    // The folder of the local file cache for the file's site; empty when the file cannot be cached.
    virtual QString fileCacheFolder() const { return {}; }
    // Asks the service for a new streaming address of the file, which then replaces the media (a
    // cached copy was discarded).
    virtual void generateURLForFile() { }
    // Sends the current position to the cloud file's record.
    virtual void saveVeloPlaybackPosition(double seconds) { (void)seconds; }
    // The cloud file's last position in seconds.
    virtual double veloPlaybackPosition() const { return 0; }
    // The window controller built its window: title bar items, the approval bar.
    virtual void attachWindow(QWidget *window) { (void)window; }
    // The document is cleaning up. No call follows.
    virtual void cleanup() { }
};
