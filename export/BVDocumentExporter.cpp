#include "export/BVDocumentExporter.h"

#include "export/BVActivityController.h"
#include "export/BVExportPanel.h"
#include "export/BVFrameExport.h"
#include "export/BVInfoPanel.h"
#include "export/BVMediaInfo.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVAVAsset.h"
#include "player/media/BVImageSequence.h"
#include "player/time/BVPositionText.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVDocumentWindowController.h"
#include "player/window/BVDocumentWindowLookup.h"
#include "support/BVAlert.h"
#include "support/BVError.h"
#include "support/BVFileManager.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The document's window, if it has one: sheets, alerts and the picture belong to it.
using BVDocumentWindowLookup::parentWindowOf;
using BVDocumentWindowLookup::playbackViewOf;
using BVDocumentWindowLookup::windowOf;

} // namespace

BVDocumentExporter::BVDocumentExporter(BVDocument &document, BVActivityController *activity)
    : m_document(document)
    , m_activity(activity)
    , m_queue(std::make_unique<BVWorkQueue>(QStringLiteral("export.document")))
{ }

BVDocumentExporter::~BVDocumentExporter()
{
    cleanup();
}

BVDocumentExporter *BVDocumentExporter::install(BVDocument &document, BVActivityController *activity)
{
    auto exporter = std::make_unique<BVDocumentExporter>(document, activity);
    BVDocumentExporter *installed = exporter.get();
    document.setExport(std::move(exporter));
    return installed;
}

// ---- What the export panel reads of the document

std::shared_ptr<MediaAsset> BVDocumentExporter::asset() const
{
    const auto *movie = dynamic_cast<const BVAVAsset *>(m_document.mediaObject());
    return movie ? movie->asset() : nullptr;
}

QSizeF BVDocumentExporter::naturalSize() const
{
    const BVMediaObject *media = m_document.mediaObject();
    return media ? media->naturalSize() : QSizeF();
}

double BVDocumentExporter::fps() const
{
    const BVMediaObject *media = m_document.mediaObject();
    return media ? media->fps() : 0;
}

MediaFrameRate BVDocumentExporter::frameRate() const
{
    const BVMediaObject *media = m_document.mediaObject();
    return media ? media->frameRate() : MediaFrameRate();
}

int64_t BVDocumentExporter::frameAtTime(const MediaTime &time) const
{
    const BVMediaObject *media = m_document.mediaObject();
    return media ? media->frameAtTime(time) : BVExportSource::frameAtTime(time);
}

int64_t BVDocumentExporter::timebase() const
{
    const BVMediaObject *media = m_document.mediaObject();
    return media ? media->timebase() : 30;
}

bool BVDocumentExporter::ntsc() const
{
    const BVMediaObject *media = m_document.mediaObject();
    return media && media->ntsc();
}

bool BVDocumentExporter::dropFrame() const
{
    const BVMediaObject *media = m_document.mediaObject();
    return media && media->dropFrame();
}

QString BVDocumentExporter::timecodeStart() const
{
    const BVMediaObject *media = m_document.mediaObject();
    const QString start = media ? media->timecodeStart() : QString();
    return start.isEmpty() ? QStringLiteral("00:00:00:00") : start;
}

MediaTimeRange BVDocumentExporter::inOutRange() const
{
    return m_document.inOutRange();
}

QString BVDocumentExporter::title() const
{
    return frameBaseName();
}

QWidget *BVDocumentExporter::window() const
{
    return parentWindowOf(m_document);
}

void BVDocumentExporter::pause()
{
    m_document.pause();
}

void BVDocumentExporter::exportStarted()
{
    if (BVDocumentWindowController *window = windowOf(m_document))
        window->startTimeEstimate();
}

// ---- Movie export and trim

BVExportPanel *BVDocumentExporter::exportPanel()
{
    if (!m_exportPanel)
        m_exportPanel = std::make_unique<BVExportPanel>(this, m_activity);
    return m_exportPanel.get();
}

void BVDocumentExporter::exportMovie()
{
    if (m_cleanedUp || !asset())
        return;
    exportPanel()->exportMovie();
}

void BVDocumentExporter::trim()
{
    if (m_cleanedUp || !asset())
        return;
    exportPanel()->trim();
}

// ---- Frame export

QString BVDocumentExporter::frameBaseName() const
{
    const QString title = m_document.cloudReview()->fileTitle();
    if (!title.isEmpty())
        return QFileInfo(title).completeBaseName();
    // The media file's name without any of its extensions.
    const QUrl url = m_document.fileURL();
    const QString name = url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.fileName();
    const QString base = QFileInfo(name).baseName();
    return base.isEmpty() ? m_document.displayName() : base;
}

QString BVDocumentExporter::desktopFramePath() const
{
    const QString desktop = BVLocalPaths::desktopDirectory();
    QDir().mkpath(desktop);
    const QString name = BVFrameExport::proposedName(frameBaseName(), m_document.currentDisplayTimecode());
    return BVFileManager::uniqueFilename(QDir(desktop).filePath(name));
}

void BVDocumentExporter::exportFrame(bool alternate)
{
    if (m_cleanedUp || !m_document.mediaObject())
        return;
    if (alternate) {
        // Straight to the desktop: no panel, and playback goes on.
        saveFrame(desktopFramePath(), BVFrameExport::PNG);
        return;
    }
    m_document.pause();
    const QString proposed
        = BVFrameExport::proposedName(frameBaseName(), m_document.currentDisplayTimecode());

    QFileDialog dialog(window(), QString(), QString());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.selectFile(proposed);
    // The accessory view with the format pop-up, rebuilt each time the panel opens.
    auto *accessory = new QWidget(&dialog);
    accessory->setObjectName(QStringLiteral("exportFrameAccessoryView"));
    auto *row = new QHBoxLayout(accessory);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("Format:"), accessory));
    auto *popUp = new QComboBox(accessory);
    popUp->setObjectName(QStringLiteral("exportFrameFormatPopUp"));
    const QStringList titles = BVFrameExport::formatTitles();
    for (int i = 0; i < titles.size(); ++i)
        popUp->addItem(titles.at(i), BVFrameExport::extension(i));
    row->addWidget(popUp);
    row->addStretch();
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    m_frameFormat = popUp;
    // A new format swaps the name's extension for its own.
    connect(popUp, &QComboBox::activated, &dialog, [&dialog, popUp](int index) {
        auto *nameField = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const QString name = nameField ? nameField->text() : QString();
        if (name.isEmpty())
            return;
        const QFileInfo info(name);
        const QString base = info.suffix().isEmpty() ? name : info.completeBaseName();
        nameField->setText(base + u'.' + popUp->itemData(index).toString());
    });
    const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    const int format = popUp->currentIndex();
    if (accepted && !m_cleanedUp)
        saveFrame(dialog.selectedFiles().constFirst(), format);
}

QImage BVDocumentExporter::annotationLayer(const MediaTime &time, const QSizeF &naturalSize) const
{
    if (!BVFrameExport::embedsAnnotation() || naturalSize.isEmpty() || !m_document.annotations())
        return {};
    QImage layer(naturalSize.toSize(), QImage::Format_RGBA8888_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter painter(&layer);
        m_document.annotations()->drawAnnotationAtTime(time, painter, QRectF(QPointF(0, 0), naturalSize));
    }
    return layer;
}

void BVDocumentExporter::saveFrame(const QString &path, int format)
{
    BVMediaObject *media = m_document.mediaObject();
    if (m_cleanedUp || !media || path.isEmpty())
        return;
    const MediaTime time = m_document.currentTime();
    // The picture as the view shows it: its turn or flip and its deinterlacing.
    BVFrameExport::ViewOptions view;
    if (const BVAVPlaybackView *shown = playbackViewOf(m_document)) {
        view.rotation = shown->rotation();
        view.deinterlace = shown->deinterlace();
    }
    const QSizeF size = BVFrameExport::rotatedSize(naturalSize(), view.rotation);
    // The annotation is drawn here, where the annotations live; the grab and the encoding go to
    // the background queue.
    const QImage layer = annotationLayer(time, size);
    BVFrameExport::AnnotationRenderer renderer;
    if (!layer.isNull())
        renderer = [layer](QPainter &painter, const QRectF &target) { painter.drawImage(target, layer); };
    const BVLifetime::Token alive = m_lifetime.token();

    std::shared_ptr<MediaAsset> movie;
    QImage still;
    if (auto *sequence = dynamic_cast<BVImageSequence *>(media)) {
        still = BVFrameExport::rotatedForView(sequence->copyCurrentFrameImage(), view.rotation);
        if (still.isNull()) {
            frameNotGenerated(BVError::withDescription(QStringLiteral("BVReelmark"), 0,
                QStringLiteral("The sequence has no frame at this position.")));
            return;
        }
    } else if (media->isAudioOnly() || !(movie = asset())) {
        return; // nothing to picture
    }
    m_queue->async([this, alive, movie, still, time, view, path, format, size, renderer] {
        QImage image = still;
        if (movie) {
            BVError error;
            std::optional<QImage> grabbed = BVFrameExport::movieFrame(movie, time, view, &error);
            if (!grabbed) {
                BVMainThread::async([this, alive, error] {
                    if (!alive.expired())
                        frameNotGenerated(error);
                });
                return;
            }
            image = std::move(*grabbed);
        }
        const QString written = BVFrameExport::saveFrameWithSettings(image, path, format, size, renderer);
        const QString wanted = BVFrameExport::pathForFormat(path, format);
        BVMainThread::async([this, alive, written, wanted] {
            if (!alive.expired())
                frameWritten(written, wanted);
        });
    });
}

void BVDocumentExporter::frameNotGenerated(const BVError &error)
{
    BVLog::appendLog("Error getting frame - %@", error.localizedDescription());
    m_document.postUserNotification(QStringLiteral("Failed to generate frame"), error.localizedDescription());
    Q_EMIT frameFailed(error.localizedDescription());
}

void BVDocumentExporter::frameWritten(const QString &path, const QString &wanted)
{
    if (path.isEmpty()) {
        // Not left silent: the user believes the frame is saved otherwise.
        BVLog::appendLog("Error writing frame - %@", wanted);
        const QString reason
            = QStringLiteral("The file \"%1\" could not be written.").arg(QFileInfo(wanted).fileName());
        BVAlert::alertSheetWithMessageText(QStringLiteral("Unable to export the frame"), QStringLiteral("OK"),
            {}, {}, reason, window(), false);
        Q_EMIT frameFailed(reason);
        return;
    }
    m_document.postUserNotification(QStringLiteral("Frame exported"), QFileInfo(path).fileName(), path);
    Q_EMIT frameSaved(path);
}

// ---- The information panel

void BVDocumentExporter::attachInfoPanel(QWidget *panel)
{
    if (!panel || m_cleanedUp)
        return;
    auto *info = new BVInfoPanel(panel);
    // A part of the window's own panel, not a window of its own.
    info->setWindowFlags(Qt::Widget);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(info);
    // Room for the values beside their labels.
    panel->resize(std::max(panel->width(), 420), std::max(panel->height(), 460));
    m_infoPanel = info;
    if (m_document.isLoaded())
        populateInfo();
}

void BVDocumentExporter::populateInfo()
{
    BVMediaObject *media = m_document.mediaObject();
    if (m_cleanedUp || !m_infoPanel || !media || !media->isLoaded())
        return;
    BVMediaInfoSource source;
    if (auto *sequence = dynamic_cast<BVImageSequence *>(media)) {
        source.isImageSequence = true;
        source.files = sequence->files();
        source.firstImageSize = media->naturalSize();
        source.linearLight = sequence->showsLinearLight();
    } else {
        source.asset = asset();
    }
    source.metadata = media->metadata();
    source.fps = media->fps();
    source.frameIndex = media->frameIndex();
    source.frameCount = media->frameCount();
    source.timebase = media->timebase();
    source.ntsc = media->ntsc();
    source.duration = m_document.duration();
    source.fileURL = m_document.fileURL();
    source.displayName = m_document.displayName();
    source.veloFileID = int(m_document.veloFileID());
    source.isVelo = m_document.isVelo();
    source.inOutRange = m_document.inOutRange();
    source.timecodeDisplay = BVPositionText::displayMode();
    // The rows read files and the asset: off the main thread. Only the latest request is shown.
    const int generation = ++m_infoGeneration;
    const BVLifetime::Token alive = m_lifetime.token();
    m_queue->async([this, alive, generation, source] {
        const QVariantList info = BVMediaInfo::infoRows(source);
        const std::optional<QVariantList> meta = BVMediaInfo::metadataRows(source);
        BVMainThread::async([this, alive, generation, info, meta] {
            if (alive.expired() || generation != m_infoGeneration || !m_infoPanel)
                return;
            m_infoPanel->showRows(info, meta);
            Q_EMIT infoPopulated();
        });
    });
}

void BVDocumentExporter::cleanup()
{
    if (m_cleanedUp)
        return;
    m_cleanedUp = true;
    m_lifetime.end();
    // Waits for a grab or a row build under way; what they hand back is dropped.
    m_queue.reset();
    m_exportPanel.reset();
}
