#pragma once

#include "export/BVActivityController.h"
#include "export/BVExportSource.h"
#include "export/BVInfoPanel.h"
#include "player/document/BVDocumentExport.h"
#include "support/BVLifetime.h"

#include <QComboBox>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

class BVError;
class BVDocument;
class BVExportPanel;

class BVWorkQueue;

// The export feature of one player document: movie export and trim through the export panel and
// the application's activity queue, frame export, and the information panel in the document's
// window. Installed on the document by whoever builds documents. Main thread; the frame grab, its
// encoding and the information rows are made on a background queue.
class BVDocumentExporter : public QObject, public BVDocumentExport, public BVExportSource
{
    Q_OBJECT
public:
    BVDocumentExporter(BVDocument &document, BVActivityController *activity);
    ~BVDocumentExporter() override;
    // Puts an exporter on the document; its exports queue in the activity controller (none: the
    // export is made but not queued).
    static BVDocumentExporter *install(BVDocument &document, BVActivityController *activity);

    // ---- The document's commands
    void exportMovie() override;
    void trim() override;
    void exportFrame(bool alternate) override;
    void saveFrame(const QString &path, int format) override;
    void downloadFile() override;
    void cacheVeloFile() override;
    void attachInfoPanel(QWidget *panel) override;
    void populateInfo() override;
    void cleanup() override;

    // ---- What the export panel reads of the document
    std::shared_ptr<MediaAsset> asset() const override;
    QSizeF naturalSize() const override;
    double fps() const override;
    MediaFrameRate frameRate() const override;
    int64_t frameAtTime(const MediaTime &time) const override;
    int64_t timebase() const override;
    bool ntsc() const override;
    bool dropFrame() const override;
    QString timecodeStart() const override;
    MediaTimeRange inOutRange() const override;
    QString title() const override;
    QWidget *window() const override;
    void pause() override;
    void exportStarted() override;

    // The panel, made on first use; the information panel once the window is built.
    BVExportPanel *exportPanel();
    BVInfoPanel *infoPanel() const { return m_infoPanel; }
    // The frame format pop-up of the frame save panel (`exportFrameFormatPopUp`).
    QComboBox *exportFrameFormatPopUp() const { return m_frameFormat; }
    // The name the download's save panel proposes: the title (or the address's last path
    // component), with the address's extension when it has none.
    static QString proposedDownloadName(const QString &title, const QUrl &url);
    // The file of the local cache a cloud file goes to: "<folder>/<id>.<extension>", the extension
    // the address's, or "mp4" ("wav" for audio) when it has none or it is "php".
    static QString cacheDestination(const QString &folder, qlonglong fileID, const QUrl &url, bool audioOnly);

    // Where the alternate command saves: the desktop, under the proposed name made unique there.
    QString desktopFramePath() const;

Q_SIGNALS:
    // A frame file was written (after "Frame exported" was posted), or could not be made.
    void frameSaved(const QString &path);
    void frameFailed(const QString &reason);
    // The information rows were rebuilt and the table reloaded.
    void infoPopulated();

private:
    QString frameBaseName() const;
    void discardCachedFile();
    void frameWritten(const QString &path, const QString &wanted);
    void frameNotGenerated(const BVError &error);
    // The annotation to draw over the frame at the current time, as a transparent layer of the
    // natural size; a null image when there is none or embedding is off.
    QImage annotationLayer(const MediaTime &time, const QSizeF &naturalSize) const;

    BVDocument &m_document;
    QPointer<BVActivityController> m_activity;
    std::unique_ptr<BVExportPanel> m_exportPanel;
    QPointer<BVInfoPanel> m_infoPanel;
    QPointer<QComboBox> m_frameFormat;
    std::unique_ptr<BVWorkQueue> m_queue;
    BVLifetime m_lifetime;
    // Only the latest information request is shown.
    int m_infoGeneration = 0;
    bool m_cleanedUp = false;
};
