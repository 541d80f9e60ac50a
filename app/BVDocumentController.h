#pragma once

#include "export/BVActivityController.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <vector>

class BVDocument;
class BVMIDIOutput;
class BVError;

// The application's document list: opens media files and addresses as player documents of the
// types "QuickTime Movie" and "Audio File", keeps them until their windows close, knows the current
// (front) document, and keeps the Recent Documents list without image sequences, still images and
// locally cached cloud files. Main thread only.
class BVDocumentController : public QObject
{
    Q_OBJECT
public:
    // How many addresses the Recent Documents list keeps.
    static constexpr int maximumRecentDocumentCount = 10;

    static BVDocumentController *sharedDocumentController();

    BVDocumentController();
    ~BVDocumentController() override;

    // "QuickTime Movie" or "Audio File" for a path or address: by its extension when that is a
    // known one, else, for a local file, by whether FFmpeg knows its contents (sound-only types as
    // "Audio File"). An empty string for files no player document opens (playlists, files FFmpeg
    // does not know).
    static QString typeForContentsOfURL(const QUrl &url);

    // Opens the file or address as a player document, registers it and, when `display` is set,
    // shows its window. The type comes from the extension unless given. Answers none with *error
    // set when it cannot be opened.
    BVDocument *openDocumentWithContentsOfURL(
        const QUrl &url, bool display, BVError *error = nullptr, const QString &typeName = {});
    // Opens image files (already in playing order) as one image sequence at fps, and shows it.
    BVDocument *openImageSequence(const QStringList &files, double fps);
    // Takes ownership of a document created elsewhere and notes it as recent.
    void addDocument(std::unique_ptr<BVDocument> document);

    QList<BVDocument *> documents() const;
    // The document of the active window; else the last opened; none when nothing is open.
    BVDocument *currentDocument() const;
    // Closes every document's window.
    void closeAllDocuments();

    // The Recent Documents list (newest first), stored in the "recentDocuments" setting.
    QList<QUrl> recentDocumentURLs() const;
    void noteNewRecentDocument(BVDocument *document);
    void noteNewRecentDocumentURL(const QUrl &url);
    void clearRecentDocuments();

    // The application's queue of exports, where new documents queue theirs; not owned.
    void setActivityController(BVActivityController *activity) { m_activity = activity; }
    BVActivityController *activityController() const { return m_activity; }
    // The application's MIDI, over which every new document sends its timecode; not owned.
    void setMIDIOutput(std::weak_ptr<BVMIDIOutput> output) { m_midiOutput = std::move(output); }

Q_SIGNALS:
    void documentsChanged();
    void recentDocumentsChanged();

private:
    void documentClosed(BVDocument *document);

    std::vector<std::unique_ptr<BVDocument>> m_documents;
    QPointer<BVActivityController> m_activity;
    std::weak_ptr<BVMIDIOutput> m_midiOutput;
};
