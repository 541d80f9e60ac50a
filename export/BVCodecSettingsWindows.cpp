#include "export/BVCodecSettingsWindows.h"

#include "export/BVExportChoices.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

BVVideoCodecSettingsWindow::BVVideoCodecSettingsWindow(QWidget *parent)
    : QDialog(parent)
    , videoWidthText(new QLineEdit(this))
    , videoHeightText(new QLineEdit(this))
    , videoBitrateText(new QLineEdit(this))
    , videoKeyFrameMatrix(new QButtonGroup(this))
    , videoKeyFrameText(new QLineEdit(this))
{
    setWindowTitle(QStringLiteral("Video Settings"));
    for (QLineEdit *field : {videoWidthText, videoHeightText, videoBitrateText, videoKeyFrameText})
        field->setValidator(new QIntValidator(0, 1000000, field));
    auto *form = new QFormLayout;
    auto *size = new QHBoxLayout;
    size->addWidget(videoWidthText);
    size->addWidget(new QLabel(QStringLiteral("x"), this));
    size->addWidget(videoHeightText);
    form->addRow(QStringLiteral("Size:"), size);
    auto *rate = new QHBoxLayout;
    rate->addWidget(videoBitrateText);
    rate->addWidget(new QLabel(QStringLiteral("kbit/s"), this));
    form->addRow(QStringLiteral("Data rate:"), rate);
    auto *keys = new QVBoxLayout;
    const char *titles[] = {"Automatic", "Every", "All frames"};
    for (int row = 0; row < 3; ++row) {
        auto *button = new QRadioButton(QString::fromLatin1(titles[row]), this);
        videoKeyFrameMatrix->addButton(button, row);
        if (row == 1) {
            auto *every = new QHBoxLayout;
            every->addWidget(button);
            every->addWidget(videoKeyFrameText);
            every->addWidget(new QLabel(QStringLiteral("frames"), this));
            keys->addLayout(every);
        } else {
            keys->addWidget(button);
        }
    }
    videoKeyFrameMatrix->button(0)->setChecked(true);
    form->addRow(QStringLiteral("Key frames:"), keys);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

BVAudioCodecSettingsWindow::BVAudioCodecSettingsWindow(QWidget *parent)
    : QDialog(parent)
    , audioChannelsPopUp(new QComboBox(this))
    , audioRateCombo(new QComboBox(this))
    , audioBitrateText(new QLineEdit(this))
    , audioSampleSizePopUp(new QComboBox(this))
    , audioEndianCheck(new QCheckBox(QStringLiteral("Little endian"), this))
    , audioFloatingPointCheck(new QCheckBox(QStringLiteral("Floating point"), this))
{
    setWindowTitle(QStringLiteral("Audio Settings"));
    audioRateCombo->setEditable(true);
    audioSampleSizePopUp->addItems(BVExportChoices::sampleSizeTitles());
    audioEndianCheck->setChecked(true);
    audioBitrateText->setValidator(new QIntValidator(0, 1000000, audioBitrateText));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Channels:"), audioChannelsPopUp);
    auto *rate = new QHBoxLayout;
    rate->addWidget(audioRateCombo);
    rate->addWidget(new QLabel(QStringLiteral("kHz"), this));
    form->addRow(QStringLiteral("Rate:"), rate);
    auto *bitrate = new QHBoxLayout;
    bitrate->addWidget(audioBitrateText);
    bitrate->addWidget(new QLabel(QStringLiteral("kbit/s"), this));
    form->addRow(QStringLiteral("Bit rate:"), bitrate);
    auto *size = new QHBoxLayout;
    size->addWidget(audioSampleSizePopUp);
    size->addWidget(new QLabel(QStringLiteral("bits"), this));
    form->addRow(QStringLiteral("Sample size:"), size);
    form->addRow(QString(), audioEndianCheck);
    form->addRow(QString(), audioFloatingPointCheck);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}
