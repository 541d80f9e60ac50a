#pragma once

#include <QString>

class QWidget;

// The export commands of a document: movie export and trim, frame export and the information
// panel. Installed by whoever builds documents (BVDocument::setExport); the default does nothing.
// Main thread.
//
// The implementation keeps a reference to its BVDocument and reads what it needs through it: the
// media object, the in/out range, the current time, the window and the annotations slot.
class BVDocumentExport
{
public:
    virtual ~BVDocumentExport() = default;

    // Asks where to save and queues the export of the movie (or of the in/out range).
    virtual void exportMovie() { }
    // Asks where to save and queues the copy of the in/out range.
    virtual void trim() { }
    // Asks where to save the frame on screen; the alternate command saves it on the desktop at
    // once, without pausing.
    virtual void exportFrame(bool alternate) { (void)alternate; }
    // Saves the frame on screen at the path in a format of the frame format pop-up.
    virtual void saveFrame(const QString &path, int format)
    {
        (void)path;
        (void)format;
    }
    // Asks where to save the file the document plays (a cloud file or a network address) and
    // queues its download.
    virtual void downloadFile() { }
    // A cloud file: queues its copy into the local file cache, or discards the cached copy and
    // streams it again.
    virtual void cacheVeloFile() { }
    // The window was built: the information panel's table goes into its window.
    virtual void attachInfoPanel(QWidget *panel) { (void)panel; }
    // The media became ready or the in/out points changed: the information rows are rebuilt.
    virtual void populateInfo() { }
    // The document is cleaning up. No call follows.
    virtual void cleanup() { }
};
