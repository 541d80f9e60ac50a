#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>

class BVAVExport;
class BVActivityController;
class BVAudioCodecSettingsWindow;
class BVExportSource;
class MediaTime;
class BVVideoCodecSettingsWindow;
class QComboBox;

// The document's export and trim commands with the export panel: the accessory view of the save
// panel (`exportAccessoryView`) with its codec pop-ups, and the codec settings windows. Main thread.
class BVExportPanel : public QWidget
{
    Q_OBJECT
public:
    BVExportPanel(BVExportSource *source, BVActivityController *activity, QWidget *parent = nullptr);
    ~BVExportPanel() override;

    // Sets up the codec windows, then asks where to save ("%@ copy.mov"); the export is queued on
    // confirmation.
    void exportMovie();
    // Checks the in/out range, pauses, asks where to save ("%@ trimmed.mov"), queues the copy.
    void trim();
    // The pop-ups' actions: refill the settings windows.
    void changeVideoCodec();
    void changeAudioCodec();
    // An engine for the file with the panel's settings (steps of the save panel's confirmation).
    std::shared_ptr<BVAVExport> makeExport(const QString &path) const;
    std::shared_ptr<BVAVExport> makeTrim(const QString &path) const;
    // Queues the engine in the activity window as "Export: <base name>".
    void queue(const std::shared_ptr<BVAVExport> &engine);

    QComboBox *exportVideoCodecPopUp() const { return m_videoCodec; }
    QComboBox *exportAudioCodecPopUp() const { return m_audioCodec; }
    BVVideoCodecSettingsWindow *videoCodecSettingsWindow() const { return m_videoWindow; }
    BVAudioCodecSettingsWindow *audioCodecSettingsWindow() const { return m_audioWindow; }

private:
    QString chooseFile(const QString &proposedName, QWidget *accessory);
    QString startTimecode() const;
    // The frame at a time of the media, counted by its frame rule.
    int64_t framesAt(const MediaTime &time) const;

    BVExportSource *m_source;
    QPointer<BVActivityController> m_activity;
    QComboBox *m_videoCodec;
    QComboBox *m_audioCodec;
    BVVideoCodecSettingsWindow *m_videoWindow;
    BVAudioCodecSettingsWindow *m_audioWindow;
};
