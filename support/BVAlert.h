#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>

class QMessageBox;
class QWidget;

// An alert shown on the main thread, requested from any thread. Answers: 1 for the default (first)
// button, 0 for the alternate, -1 for the other; a form that does not wait answers -1 at once.
class BVAlert : public QObject
{
    Q_OBJECT
public:
    BVAlert();
    ~BVAlert() override;

    // Shows an alert with the single button "OK" and waits until it is dismissed.
    static void alertSheetWithMessageText(
        const QString &title, const QString &informativeText, QWidget *parentWindow);
    static int alertSheetWithMessageText(const QString &title, const QString &defaultButton,
        const QString &alternateButton, const QString &otherButton, const QString &informativeText,
        QWidget *parentWindow, bool block);
    // The full form. The delegate's slot named didEndSelector (taking an int return code) is called
    // on the main thread when the alert ends; a delegate without that slot makes the call log and
    // answer -1 without showing anything. A settings key adds a suppression checkbox bound to it.
    static int alertSheetWithMessageText(const QString &title, const QString &defaultButton,
        const QString &alternateButton, const QString &otherButton, const QString &informativeText,
        QWidget *parentWindow, QObject *delegate, const char *didEndSelector, bool block,
        BVAlert *alert = nullptr, const QString &suppressionBinding = {});
    // As the waiting form, but after the interval the answer becomes 1 by itself.
    static int timedAlertSheetWithMessageText(const QString &title, const QString &defaultButton,
        const QString &alternateButton, const QString &otherButton, const QString &informativeText,
        QWidget *parentWindow, double interval);

    QMessageBox *alert() const;
    QWidget *parentWindow() const;
    bool alertEnded() const;
    int returnCode() const;

private:
    int run(const QString &title, const QString &defaultButton, const QString &alternateButton,
        const QString &otherButton, const QString &informativeText, QWidget *parentWindow, QObject *delegate,
        const char *didEndSelector, bool block, const QString &suppressionBinding, double interval);
    void show(const QString &title, const QString &defaultButton, const QString &alternateButton,
        const QString &otherButton, const QString &informativeText, const QString &suppressionBinding);
    void end(int returnCode);
    void waitUntilEnded();

    QPointer<QMessageBox> m_alert;
    QPointer<QWidget> m_parentWindow;
    QPointer<QObject> m_delegate;
    QByteArray m_didEndSelector;
    // The answer is recorded together with the end, so a waiter never sees one without the other.
    struct State
    {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool ended = false;
        int returnCode = -1;
        // The main thread's wait, quit when the alert ends (used on the main thread only).
        QPointer<QObject> waitLoop;
        // Records the answer and wakes the waiter; answers false when the alert had already ended.
        // On the main thread.
        bool finish(int code);
        bool isEnded() const;
        int code() const;
    };
    // Shared with the timer thread of a timed alert, which may outlive a waiting call.
    std::shared_ptr<State> m_state = std::make_shared<State>();
    bool m_deleteWhenEnded = false;
    QMetaObject::Connection m_parentGone;
    // The answer when the alert goes away unanswered: as if Escape had been pressed.
    int m_escapeCode = 1;
};
