#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

// The video codec settings window of the export panel: size, H.264 bit rate and key frames.
class BVVideoCodecSettingsWindow : public QDialog
{
    Q_OBJECT
public:
    explicit BVVideoCodecSettingsWindow(QWidget *parent = nullptr);

    QLineEdit *videoWidthText;
    QLineEdit *videoHeightText;
    QLineEdit *videoBitrateText; // kbit/s
    // Rows 0 automatic, 1 every n frames, 2 every frame.
    QButtonGroup *videoKeyFrameMatrix;
    QLineEdit *videoKeyFrameText;
};

// The audio codec settings window: channels, rate, AAC bit rate, sample size and byte order.
class BVAudioCodecSettingsWindow : public QDialog
{
    Q_OBJECT
public:
    explicit BVAudioCodecSettingsWindow(QWidget *parent = nullptr);

    QComboBox *audioChannelsPopUp;
    QComboBox *audioRateCombo; // kHz, editable
    QLineEdit *audioBitrateText; // kbit/s
    QComboBox *audioSampleSizePopUp;
    QCheckBox *audioEndianCheck; // little-endian
    QCheckBox *audioFloatingPointCheck;
};
