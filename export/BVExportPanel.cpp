#include "export/BVExportPanel.h"

#include "export/BVAVExport.h"
#include "export/BVActivityController.h"
#include "export/BVActivityItemExport.h"
#include "export/BVCodecSettingsWindows.h"
#include "export/BVExportChoices.h"
#include "export/BVExportSource.h"
#include "player/time/BVTimecode.h"
#include "support/BVAlert.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace {

bool hasInOut(const MediaTimeRange &range)
{
    return range.isValid() && range.duration().isNumeric() && range.duration() > MediaTime::zero();
}

} // namespace

BVExportPanel::BVExportPanel(BVExportSource *source, BVActivityController *activity, QWidget *parent)
    : QWidget(parent)
    , m_source(source)
    , m_activity(activity)
    , m_videoCodec(new QComboBox(this))
    , m_audioCodec(new QComboBox(this))
    , m_videoWindow(new BVVideoCodecSettingsWindow(this))
    , m_audioWindow(new BVAudioCodecSettingsWindow(this))
{
    setObjectName(QStringLiteral("exportAccessoryView"));
    m_videoCodec->addItems(BVExportChoices::videoCodecTitles());
    m_videoCodec->setCurrentIndex(1); // H.264
    m_audioCodec->addItems(BVExportChoices::audioCodecTitles());
    m_audioCodec->setCurrentIndex(1); // Linear PCM
    auto *videoSettings = new QPushButton(QStringLiteral("Settings…"), this);
    auto *audioSettings = new QPushButton(QStringLiteral("Settings…"), this);
    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Video:"), this), 0, 0, Qt::AlignRight);
    layout->addWidget(m_videoCodec, 0, 1);
    layout->addWidget(videoSettings, 0, 2);
    layout->addWidget(new QLabel(QStringLiteral("Audio:"), this), 1, 0, Qt::AlignRight);
    layout->addWidget(m_audioCodec, 1, 1);
    layout->addWidget(audioSettings, 1, 2);
    connect(m_videoCodec, &QComboBox::activated, this, &BVExportPanel::changeVideoCodec);
    connect(m_audioCodec, &QComboBox::activated, this, &BVExportPanel::changeAudioCodec);
    connect(videoSettings, &QPushButton::clicked, m_videoWindow, &QDialog::open);
    connect(audioSettings, &QPushButton::clicked, m_audioWindow, &QDialog::open);
    changeVideoCodec();
    changeAudioCodec();
}

BVExportPanel::~BVExportPanel() = default;

void BVExportPanel::changeVideoCodec()
{
    BVVideoCodecSettingsWindow &w = *m_videoWindow;
    const QSizeF size = m_source->naturalSize();
    const QSignalBlocker blockers[] = {QSignalBlocker(w.videoWidthText), QSignalBlocker(w.videoHeightText),
        QSignalBlocker(w.videoBitrateText), QSignalBlocker(w.videoKeyFrameText)};
    w.videoWidthText->setText(QString::asprintf("%0.0f", size.width()));
    w.videoHeightText->setText(QString::asprintf("%0.0f", size.height()));
    const bool h264 = m_videoCodec->currentIndex() == 1;
    w.videoBitrateText->setEnabled(h264);
    w.videoKeyFrameText->setEnabled(h264);
    for (QAbstractButton *button : w.videoKeyFrameMatrix->buttons())
        button->setEnabled(h264);
    if (h264) {
        w.videoBitrateText->setText(QStringLiteral("5000"));
        w.videoKeyFrameMatrix->button(0)->setChecked(true);
        w.videoKeyFrameText->setText(QStringLiteral("24"));
    }
}

void BVExportPanel::changeAudioCodec()
{
    BVAudioCodecSettingsWindow &w = *m_audioWindow;
    const int32_t codec = BVExportChoices::audioCodecAtIndex(m_audioCodec->currentIndex());
    const QSignalBlocker blockers[] = {QSignalBlocker(w.audioChannelsPopUp), QSignalBlocker(w.audioRateCombo),
        QSignalBlocker(w.audioSampleSizePopUp)};
    w.audioEndianCheck->setEnabled(false);
    w.audioFloatingPointCheck->setEnabled(false);
    w.audioBitrateText->setEnabled(false);
    w.audioSampleSizePopUp->setEnabled(false);
    w.audioSampleSizePopUp->setCurrentIndex(1);
    w.audioBitrateText->clear();
    if (codec == BVAVExport::audioFormatLinearPCM) {
        w.audioEndianCheck->setEnabled(true);
        w.audioFloatingPointCheck->setEnabled(true);
        w.audioSampleSizePopUp->setEnabled(true);
    } else if (codec == BVAVExport::audioFormatAAC) {
        w.audioBitrateText->setEnabled(true);
        w.audioBitrateText->setText(QStringLiteral("128"));
    } else if (codec == BVAVExport::audioFormatAppleLossless) {
        w.audioSampleSizePopUp->setEnabled(true);
    }
    w.audioChannelsPopUp->clear();
    w.audioChannelsPopUp->addItems(BVExportChoices::channelTitles(codec));
    w.audioChannelsPopUp->setCurrentIndex(w.audioChannelsPopUp->count() > 1 ? 1 : -1);
    w.audioRateCombo->clear();
    w.audioRateCombo->addItems(BVExportChoices::sampleRateTitles(codec));
    w.audioRateCombo->setCurrentText(QStringLiteral("48.000"));
}

int64_t BVExportPanel::framesAt(const MediaTime &time) const
{
    // The frame the in point shows, by the media's own frame rule: a float rate loses a frame now
    // and then far into a 29.97 or 23.976 clip, and variable-rate footage counts its real frames.
    return std::max<int64_t>(0, m_source->frameAtTime(time));
}

QString BVExportPanel::startTimecode() const
{
    const MediaTimeRange range = m_source->inOutRange();
    const QString start = m_source->timecodeStart();
    if (!hasInOut(range) || range.start() == MediaTime::zero())
        return start;
    return BVTimecode::timecode(
        start, framesAt(range.start()), m_source->timebase(), m_source->ntsc(), m_source->dropFrame());
}

std::shared_ptr<BVAVExport> BVExportPanel::makeExport(const QString &path) const
{
    const BVVideoCodecSettingsWindow &v = *m_videoWindow;
    const BVAudioCodecSettingsWindow &a = *m_audioWindow;
    auto engine = BVAVExport::create();
    engine->asset = m_source->asset();
    engine->outputURL = path;
    const MediaTimeRange range = m_source->inOutRange();
    if (hasInOut(range))
        engine->timeRange = range;
    engine->videoCodec = BVExportChoices::videoCodecAtIndex(m_videoCodec->currentIndex());
    engine->audioCodec = BVExportChoices::audioCodecAtIndex(m_audioCodec->currentIndex());
    engine->dropFrame = m_source->dropFrame();
    engine->videoBitrate = double(v.videoBitrateText->text().toInt()) * 1000;
    engine->videoFrameSize = QSize(v.videoWidthText->text().toInt(), v.videoHeightText->text().toInt());
    switch (v.videoKeyFrameMatrix->checkedId()) {
    case 2:
        engine->videoKeyFrameInterval = engine->videoKeyFrameDuration = 1;
        break;
    case 1: {
        const int n = v.videoKeyFrameText->text().toInt();
        engine->videoKeyFrameInterval = engine->videoKeyFrameDuration
            = n == 0 ? 24 : uint32_t(std::max(n, 0));
        break;
    }
    default:
        engine->videoKeyFrameInterval = engine->videoKeyFrameDuration = 0;
    }
    const int channels = a.audioChannelsPopUp->currentIndex();
    const bool listed = channels >= 0 && channels < a.audioChannelsPopUp->count();
    engine->audioLayout = listed ? BVExportChoices::channelLayout(engine->audioCodec, channels) : 0x650002;
    engine->audioChannelCount = listed ? BVExportChoices::channelCount(engine->audioCodec, channels) : 2;
    engine->audioRate = uint32_t(std::ceil(a.audioRateCombo->currentText().toDouble() * 1000));
    engine->audioBitrate = uint32_t(std::ceil(a.audioBitrateText->text().toDouble() * 1000));
    engine->audioSampleSize = a.audioSampleSizePopUp->currentText().toInt();
    engine->audioLittleEndian = a.audioEndianCheck->isChecked();
    engine->audioFloatingPoint = a.audioFloatingPointCheck->isChecked();
    engine->timecodeStart = startTimecode();
    return engine;
}

std::shared_ptr<BVAVExport> BVExportPanel::makeTrim(const QString &path) const
{
    auto engine = BVAVExport::create();
    engine->asset = m_source->asset();
    engine->outputURL = path;
    engine->timeRange = m_source->inOutRange();
    engine->videoCodec = std::nullopt;
    engine->audioCodec = BVAVExport::audioCodecCopy;
    engine->dropFrame = m_source->dropFrame();
    engine->timecodeStart = BVTimecode::timecode(m_source->timecodeStart(),
        framesAt(engine->timeRange.start()), m_source->timebase(), m_source->ntsc(), m_source->dropFrame());
    return engine;
}

void BVExportPanel::queue(const std::shared_ptr<BVAVExport> &engine)
{
    m_source->exportStarted();
    if (!m_activity)
        return;
    const QString name = QFileInfo(engine->outputURL).completeBaseName();
    m_activity->addItem(
        BVActivityItemExport::activityItemWithAVExport(engine, QStringLiteral("Export: %1").arg(name)));
}

QString BVExportPanel::chooseFile(const QString &proposedName, QWidget *accessory)
{
    // The toolkit's own dialog, so that the accessory view can sit in it.
    QFileDialog dialog(m_source->window(), QString(), QString(), QStringLiteral("QuickTime Movie (*.mov)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setDefaultSuffix(QStringLiteral("mov"));
    dialog.selectFile(proposedName);
    if (accessory) {
        if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
            grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    }
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (accessory) {
        // Out of the dialog before it goes; the panel itself stands alone again.
        accessory->setParent(accessory == this ? nullptr : this);
        accessory->hide();
    }
    return accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first() : QString();
}

void BVExportPanel::exportMovie()
{
    changeVideoCodec();
    changeAudioCodec();
    const QString path = chooseFile(QStringLiteral("%1 copy.mov").arg(m_source->title()), this);
    if (path.isEmpty())
        return;
    if (m_activity)
        m_activity->showActivityWindow();
    queue(makeExport(path));
}

void BVExportPanel::trim()
{
    if (!hasInOut(m_source->inOutRange())) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("Unable to trim"),
            QStringLiteral("Please use the I and O keys to set in and out points first."),
            m_source->window());
        return;
    }
    m_source->pause();
    const QString path = chooseFile(QStringLiteral("%1 trimmed.mov").arg(m_source->title()), nullptr);
    if (path.isEmpty())
        return;
    queue(makeTrim(path));
}
