#pragma once

#include "app/midi/BVMIDIOutput.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

class BVActivityController;
class BVSoftwareUpdate;
class QMenuBar;

// The application's delegate: starts the log, registers the default settings, opens what the
// program is given (files, addresses, image files as one sequence), carries the application-wide
// open commands and keeps the option settings in step at launch. Main thread only.
class BVAppController : public QObject, public BVMIDIOutputDelegate
{
    Q_OBJECT
public:
    BVAppController();
    ~BVAppController() override;
    static BVAppController *sharedController();

    // The default settings registered at start-up; stored values override them.
    static QVariantMap registeredDefaults();
    static void registerDefaults();

    // The platform asks to open a file or address: opens it as a player document and shows it.
    // Logs "Error opening file: %@" and answers false when it cannot be opened.
    bool applicationOpenFile(const QString &path);
    // Opens what the command line names: image files together as one image sequence (at
    // `sequenceFPS`, else the "imageSequenceFPS" setting), everything else one document each.
    void openFiles(const QStringList &files, const QString &sequenceFPS = {});
    // No empty document is ever made.
    bool applicationShouldOpenUntitledFile() const { return false; }
    // Refreshes the option settings and, unless a file was opened, acts on "startupAction".
    void applicationDidFinishLaunching();
    // While an export or another job of the activity window works, asks first; true when the
    // application may quit (the jobs are cancelled then).
    bool applicationShouldTerminate();
    // The Quit command: asks as above, then closes every document and ends the run.
    void terminate();
    // The application's activity window and its queue of long jobs.
    BVActivityController *activityController() const { return m_activity; }
    // Adds Activity to the Window menu and Quit to the File menu (once per menu bar).
    void addActivityCommands(QMenuBar *menuBar);
    bool showOpenDialog() const { return m_showOpenDialog; }

    // ---- Menu commands
    // The Open dialog: several movie, audio or playlist files.
    void openFile();
    // The image-sequence Open dialog with its frame-rate box.
    void openImageSequence();
    // The small window in which a media address is typed.
    void showOpenURLWindow();
    void openURL();
    // The option menus follow the settings; ganging starts off in every run.
    void updateOptionSelections();

    // The dialogs while they are shown (for keyboard focus and tests); none otherwise.
    QFileDialog *openDialog() const { return m_openDialog; }
    QFileDialog *imageSequenceDialog() const { return m_imageSequenceDialog; }
    QWidget *openURLWindow() const { return m_openURLWindow; }

    // Preference backup: starts prefsync with "-backup" (or "-restore") and this application's
    // bundle identifier, without waiting for it; prefsync reports the outcome itself.
    void backupPrefs();
    void restorePrefs();
    // How prefsync is started (path, arguments); replaceable so tests can see the call.
    using TaskRunner = std::function<void(const QString &, const QStringList &)>;
    static void setPrefsyncRunner(TaskRunner runner);
    // prefsync beside the running program (or in its build folder); empty when it is not there.
    static QString prefsyncPath();
    // Adds Backup Preferences and Restore Preferences to the File menu (once per menu bar).
    void addPreferenceCommands(QMenuBar *menuBar);
    // Adds "Check for Updates..." to the Help menu (once per menu bar).
    void addUpdateCommand(QMenuBar *menuBar);

    // MIDI transport buttons reach the front document.
    void midiPlayPressed() override;
    void midiRewPressed() override;
    void midiFFPressed() override;
    // The application's MIDI (opened when "timecodeOutput" is 1 to 3).
    BVMIDIOutput *midiOutput() const { return m_midiOutput.get(); }

private:
    void imageSequenceChosen(const QStringList &files, const QString &typedFPS);
    void runPrefsync(const QString &mode, const QString &failureTitle);

    bool m_showOpenDialog = true;
    QPointer<QFileDialog> m_openDialog;
    QPointer<QFileDialog> m_imageSequenceDialog;
    QPointer<QComboBox> m_imageSequenceFPSCombo;
    QPointer<QWidget> m_openURLWindow;
    QPointer<QLineEdit> m_openURLText;
    BVActivityController *m_activity = nullptr;
    // Shared so that documents, which may outlive the controller, hold it weakly.
    std::shared_ptr<BVMIDIOutput> m_midiOutput;
    std::unique_ptr<BVSoftwareUpdate> m_softwareUpdate;
};
