#include "app/BVDocumentController.h"

#include "app/BVImageSequenceFiles.h"
#include "app/midi/BVMIDITimecodeOutput.h"
#include "export/BVActivityController.h"
#include "export/BVDocumentExporter.h"
#include "markers/BVDocumentMarkerController.h"
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaAssetProbe.h"
#include "player/document/BVDocument.h"
#include "player/media/BVImageSequence.h"
#include "player/window/BVDocumentWindowController.h"
#include "support/BVError.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMimeDatabase>

#include <algorithm>

namespace {

BVDocumentController *s_shared = nullptr;

const QString recentDocumentsKey = QStringLiteral("recentDocuments");

bool isLocallyCachedCloudFile(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QString cacheFolder = BVLocalPaths::cacheDirectory(true) + QStringLiteral("/Reelmark/File Cache");
    return QDir::cleanPath(url.toLocalFile()).startsWith(cacheFolder);
}

} // namespace

BVDocumentController *BVDocumentController::sharedDocumentController()
{
    if (!s_shared)
        s_shared = new BVDocumentController; // lives for the whole run
    return s_shared;
}

BVDocumentController::BVDocumentController()
{
    if (!s_shared)
        s_shared = this;
}

BVDocumentController::~BVDocumentController()
{
    for (const std::unique_ptr<BVDocument> &document : m_documents)
        document->cleanup();
    m_documents.clear();
    if (s_shared == this)
        s_shared = nullptr;
}

QString BVDocumentController::typeForContentsOfURL(const QUrl &url)
{
    static const QStringList movieExtensions {QStringLiteral("mov"), QStringLiteral("qt"),
        QStringLiteral("m4v"), QStringLiteral("mp4"), QStringLiteral("dv"), QStringLiteral("mxf"),
        QStringLiteral("mkv"), QStringLiteral("avi"), QStringLiteral("webm"), QStringLiteral("mts"),
        QStringLiteral("ts")};
    static const QStringList audioExtensions {QStringLiteral("aif"), QStringLiteral("aiff"),
        QStringLiteral("wav"), QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("flac"),
        QStringLiteral("ogg")};
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QString extension = QFileInfo(path).suffix().toLower();
    if (audioExtensions.contains(extension))
        return BVDocument::audioType();
    if (movieExtensions.contains(extension))
        return BVDocument::movieType();
    if (extension.startsWith(QLatin1String("m3u")))
        return {};
    // An address without a known extension (a stream) plays as a movie.
    if (!url.isLocalFile())
        return BVDocument::movieType();
    // Any other file plays when FFmpeg can open it (.opus, .wma, .mpg, .m2ts ...): sound alone as an
    // audio file, everything else as a movie.
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    const QMimeDatabase mimeTypes;
    const QString byName = mimeTypes.mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
    const bool recognized = MediaAssetProbe::recognizesContents(path);
    if (!recognized)
        return {};
    if (byName.startsWith(QLatin1String("audio/")))
        return BVDocument::audioType();
    if (byName.startsWith(QLatin1String("video/")))
        return BVDocument::movieType();
    const QString byContents = mimeTypes.mimeTypeForFile(path, QMimeDatabase::MatchContent).name();
    return byContents.startsWith(QLatin1String("audio/")) ? BVDocument::audioType() : BVDocument::movieType();
}

BVDocument *BVDocumentController::openDocumentWithContentsOfURL(
    const QUrl &url, bool display, BVError *error, const QString &typeName)
{
    const QString type = typeName.isEmpty() ? typeForContentsOfURL(url) : typeName;
    if (type.isEmpty()) {
        const QString name = url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.toString();
        BVLog::appendLog("Error opening file: %@", QStringLiteral("unknown document type for %1").arg(name));
        if (error)
            *error = BVError::withDescription(QStringLiteral("BVReelmark"), 0,
                QStringLiteral("The file \"%1\" could not be opened.").arg(name),
                QStringLiteral("Reelmark cannot open files of this type."));
        if (display)
            BVDocumentWindowController::showAlert(
                BVDocument::cannotOpenAlert(url,
                    BVError::withDescription(QStringLiteral("BVReelmark"), 0, {},
                        QStringLiteral("Reelmark cannot open files of this type."))),
                nullptr);
        return nullptr;
    }
    // A file already open comes to the front instead of opening twice.
    for (const std::unique_ptr<BVDocument> &document : m_documents) {
        if (document->fileURL() == url && !document->isUnloading()) {
            if (display)
                BVDocumentWindowController::showWindows(*document);
            return document.get();
        }
    }
    auto document = std::make_unique<BVDocument>();
    BVDocumentMarkerController::install(*document);
    BVDocumentExporter::install(*document, m_activity);
    BVMIDITimecodeOutput::install(*document, m_midiOutput);
    BVError failure;
    if (!document->readFromURL(url, type, &failure)) {
        if (display)
            BVDocumentWindowController::showAlert(BVDocument::cannotOpenAlert(url, failure), nullptr);
        if (error)
            *error = failure;
        return nullptr;
    }
    BVDocument *opened = document.get();
    addDocument(std::move(document));
    if (display) {
        BVDocumentWindowController::showWindows(*opened);
        // Its window and menus exist only now: what the application adds to them goes in.
        Q_EMIT documentsChanged();
    }
    return opened;
}

BVDocument *BVDocumentController::openImageSequence(const QStringList &files, double fps)
{
    if (files.isEmpty())
        return nullptr;
    auto document = std::make_unique<BVDocument>();
    BVDocumentMarkerController::install(*document);
    BVDocumentExporter::install(*document, m_activity);
    BVMIDITimecodeOutput::install(*document, m_midiOutput);
    document->loadImageSequence(files, fps);
    BVDocument *opened = document.get();
    addDocument(std::move(document));
    BVDocumentWindowController::showWindows(*opened);
    Q_EMIT documentsChanged();
    return opened;
}

void BVDocumentController::addDocument(std::unique_ptr<BVDocument> document)
{
    BVDocument *added = document.get();
    connect(added, &BVDocument::documentClosed, this, &BVDocumentController::documentClosed);
    m_documents.push_back(std::move(document));
    noteNewRecentDocument(added);
    Q_EMIT documentsChanged();
}

QList<BVDocument *> BVDocumentController::documents() const
{
    QList<BVDocument *> list;
    for (const std::unique_ptr<BVDocument> &document : m_documents)
        list.append(document.get());
    return list;
}

BVDocument *BVDocumentController::currentDocument() const
{
    const QWidget *active = QApplication::activeWindow();
    for (const std::unique_ptr<BVDocument> &document : m_documents) {
        const BVDocumentWindowController *window = BVDocumentWindowController::of(*document);
        if (active && window && window->window() == active && !document->isUnloading())
            return document.get();
    }
    for (auto it = m_documents.rbegin(); it != m_documents.rend(); ++it) {
        if (!(*it)->isUnloading())
            return it->get();
    }
    return nullptr;
}

void BVDocumentController::closeAllDocuments()
{
    for (BVDocument *document : documents())
        document->close();
}

void BVDocumentController::documentClosed(BVDocument *document)
{
    const auto it = std::find_if(m_documents.begin(), m_documents.end(),
        [document](const std::unique_ptr<BVDocument> &d) { return d.get() == document; });
    if (it == m_documents.end())
        return;
    // The document is still inside its own close handling: let it go once that has returned.
    std::shared_ptr<BVDocument> closing(std::move(*it));
    m_documents.erase(it);
    BVMainThread::async([closing] {});
    Q_EMIT documentsChanged();
}

QList<QUrl> BVDocumentController::recentDocumentURLs() const
{
    QList<QUrl> urls;
    const QVariantList stored = BVUserDefaults::standardUserDefaults()->arrayForKey(recentDocumentsKey);
    for (const QVariant &value : stored) {
        const QUrl url(value.toString());
        if (url.isValid())
            urls.append(url);
    }
    return urls;
}

void BVDocumentController::noteNewRecentDocument(BVDocument *document)
{
    if (!document)
        return;
    if (document->isVelo())
        return;
    if (dynamic_cast<BVImageSequence *>(document->mediaObject()))
        return;
    noteNewRecentDocumentURL(document->fileURL());
}

void BVDocumentController::noteNewRecentDocumentURL(const QUrl &url)
{
    if (!url.isValid() || url.isEmpty())
        return;
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    if (BVImageSequenceFiles::isImagePath(path) || isLocallyCachedCloudFile(url))
        return;
    QList<QUrl> urls = recentDocumentURLs();
    urls.removeAll(url);
    urls.prepend(url);
    while (urls.size() > maximumRecentDocumentCount)
        urls.removeLast();
    QVariantList stored;
    for (const QUrl &u : urls)
        stored.append(u.toString());
    BVUserDefaults::standardUserDefaults()->setObject(stored, recentDocumentsKey);
    Q_EMIT recentDocumentsChanged();
}

void BVDocumentController::clearRecentDocuments()
{
    BVUserDefaults::standardUserDefaults()->removeObjectForKey(recentDocumentsKey);
    Q_EMIT recentDocumentsChanged();
}
