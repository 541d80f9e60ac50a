#include "support/BVAlert.h"

#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVSupportSettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPushButton>

#include <chrono>
#include <memory>
#include <thread>

BVAlert::BVAlert() = default;

BVAlert::~BVAlert()
{
    if (m_alert) {
        m_alert->disconnect();
        m_alert->deleteLater();
    }
}

bool BVAlert::State::finish(int code)
{
    {
        std::lock_guard lock(mutex);
        if (ended)
            return false;
        returnCode = code;
        ended = true;
    }
    changed.notify_all();
    if (waitLoop)
        QMetaObject::invokeMethod(waitLoop, "quit", Qt::QueuedConnection);
    return true;
}

bool BVAlert::State::isEnded() const
{
    std::lock_guard lock(mutex);
    return ended;
}

int BVAlert::State::code() const
{
    std::lock_guard lock(mutex);
    return returnCode;
}

bool BVAlert::alertEnded() const
{
    return m_state->isEnded();
}

int BVAlert::returnCode() const
{
    return m_state->code();
}

QMessageBox *BVAlert::alert() const
{
    return m_alert;
}

QWidget *BVAlert::parentWindow() const
{
    return m_parentWindow;
}

void BVAlert::alertSheetWithMessageText(
    const QString &title, const QString &informativeText, QWidget *parentWindow)
{
    alertSheetWithMessageText(title, QStringLiteral("OK"), {}, {}, informativeText, parentWindow, true);
}

int BVAlert::alertSheetWithMessageText(const QString &title, const QString &defaultButton,
    const QString &alternateButton, const QString &otherButton, const QString &informativeText,
    QWidget *parentWindow, bool block)
{
    return alertSheetWithMessageText(title, defaultButton, alternateButton, otherButton, informativeText,
        parentWindow, nullptr, nullptr, block);
}

int BVAlert::alertSheetWithMessageText(const QString &title, const QString &defaultButton,
    const QString &alternateButton, const QString &otherButton, const QString &informativeText,
    QWidget *parentWindow, QObject *delegate, const char *didEndSelector, bool block, BVAlert *alert,
    const QString &suppressionBinding)
{
    if (delegate && didEndSelector) {
        bool responds = false;
        BVMainThread::sync([&] {
            const QMetaObject *meta = delegate->metaObject();
            for (int i = meta->methodOffset(); i < meta->methodCount() && !responds; ++i)
                responds = meta->method(i).name() == didEndSelector;
            for (int i = 0; i < meta->methodOffset() && !responds; ++i)
                responds = meta->method(i).name() == didEndSelector;
        });
        if (!responds) {
            BVLog::appendLog(
                "Alert error: delegate does not respond to selector %@", QString::fromLatin1(didEndSelector));
            return -1;
        }
    }
    if (!alert && !block) {
        // Nobody waits: the alert object lives on the main thread until the alert ends.
        alert = new BVAlert;
        alert->m_deleteWhenEnded = true;
        if (QCoreApplication::instance())
            alert->moveToThread(QCoreApplication::instance()->thread());
        return alert->run(title, defaultButton, alternateButton, otherButton, informativeText, parentWindow,
            delegate, didEndSelector, false, suppressionBinding, -1);
    }
    BVAlert local;
    BVAlert *target = alert ? alert : &local;
    return target->run(title, defaultButton, alternateButton, otherButton, informativeText, parentWindow,
        delegate, didEndSelector, block, suppressionBinding, -1);
}

int BVAlert::timedAlertSheetWithMessageText(const QString &title, const QString &defaultButton,
    const QString &alternateButton, const QString &otherButton, const QString &informativeText,
    QWidget *parentWindow, double interval)
{
    BVAlert alert;
    return alert.run(title, defaultButton, alternateButton, otherButton, informativeText, parentWindow,
        nullptr, nullptr, true, {}, interval);
}

int BVAlert::run(const QString &title, const QString &defaultButton, const QString &alternateButton,
    const QString &otherButton, const QString &informativeText, QWidget *parentWindow, QObject *delegate,
    const char *didEndSelector, bool block, const QString &suppressionBinding, double interval)
{
    m_state = std::make_shared<State>();
    m_parentWindow = parentWindow;
    m_delegate = delegate;
    m_didEndSelector = didEndSelector ? QByteArray(didEndSelector) : QByteArray();
    BVMainThread::sync([&] {
        show(title, defaultButton, alternateButton, otherButton, informativeText, suppressionBinding);
    });

    if (interval >= 0) {
        // The timed form: after the interval the default answer is given by itself, on the main
        // thread like a click, unless the alert has ended meanwhile.
        std::thread([state = m_state, interval] {
            std::this_thread::sleep_for(std::chrono::duration<double>(interval));
            BVMainThread::async([state] { state->finish(1); });
        }).detach();
    }
    if (!block)
        return -1;
    waitUntilEnded();
    BVMainThread::sync([this] {
        QObject::disconnect(m_parentGone);
        if (m_alert) {
            m_alert->disconnect();
            m_alert->hide();
            m_alert->deleteLater();
            m_alert = nullptr;
        }
    });
    return m_state->code();
}

void BVAlert::show(const QString &title, const QString &defaultButton, const QString &alternateButton,
    const QString &otherButton, const QString &informativeText, const QString &suppressionBinding)
{
    if (!m_alert)
        m_alert = new QMessageBox;
    QMessageBox *box = m_alert;
    QWidget *parent = m_parentWindow;
    // A window already showing a sheet gets a free-standing alert instead.
    const bool attach = parent && !parent->findChild<QMessageBox *>(QString(), Qt::FindDirectChildrenOnly);
    box->setParent(attach ? parent : nullptr, Qt::Dialog);
    box->setWindowModality(attach ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(QMessageBox::Warning);
    box->setText(title);
    box->setInformativeText(informativeText);
    // A sentence or more of explanation reads in lines of a readable length, not in a narrow column
    // the width of the title.
    box->setStyleSheet(informativeText.size() > 80
            ? QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 380px; }")
            : QString());
    box->setWindowTitle(title);

    const QString first = defaultButton.isEmpty() ? QStringLiteral("OK") : defaultButton;
    QPushButton *def = box->addButton(first, QMessageBox::AcceptRole);
    box->setDefaultButton(def);
    QPushButton *alt
        = alternateButton.isEmpty() ? nullptr : box->addButton(alternateButton, QMessageBox::RejectRole);
    QPushButton *other
        = otherButton.isEmpty() ? nullptr : box->addButton(otherButton, QMessageBox::DestructiveRole);
    if (alt)
        box->setEscapeButton(alt);

    if (!suppressionBinding.isEmpty()) {
        auto *check = new QCheckBox(QStringLiteral("Do not show this message again"), box);
        check->setChecked(BVSupportSettings::boolForKey(suppressionBinding));
        QObject::connect(check, &QCheckBox::toggled, box,
            [suppressionBinding](bool on) { BVSupportSettings::setBool(on, suppressionBinding); });
        box->setCheckBox(check);
    }

    QObject::connect(box, &QMessageBox::buttonClicked, box, [this, def, alt, other](QAbstractButton *button) {
        if (button == def)
            end(1);
        else if (alt && button == alt)
            end(0);
        else if (other && button == other)
            end(-1);
    });
    m_escapeCode = alt ? 0 : 1;
    QObject::connect(box, &QDialog::rejected, box, [this] { end(m_escapeCode); });
    // An alert whose window goes away (its parent closed and deleted) ends as if Escape was pressed.
    // Direct: the signals come on the main thread, while this object may belong to a waiting
    // background thread; both connections are cut before the alert object goes.
    QObject::connect(
        box, &QObject::destroyed, this, [this] { end(m_escapeCode); }, Qt::DirectConnection);
    QObject::disconnect(m_parentGone);
    if (parent)
        m_parentGone = QObject::connect(
            parent, &QObject::destroyed, this, [this] { end(m_escapeCode); }, Qt::DirectConnection);
    if (parent) {
        parent->raise();
        parent->activateWindow();
    }
    box->open();
}

void BVAlert::end(int returnCode)
{
    if (!m_state->finish(returnCode))
        return;
    if (m_delegate && !m_didEndSelector.isEmpty())
        QMetaObject::invokeMethod(
            m_delegate, m_didEndSelector.constData(), Qt::DirectConnection, Q_ARG(int, returnCode));
    if (m_deleteWhenEnded) {
        if (m_alert)
            m_alert->hide();
        deleteLater();
    }
}

void BVAlert::waitUntilEnded()
{
    if (BVMainThread::isMainThread()) {
        // The main thread sleeps in a nested event loop, which end() quits: no polling.
        QEventLoop loop;
        m_state->waitLoop = &loop;
        if (!m_state->isEnded())
            loop.exec(QEventLoop::AllEvents);
        m_state->waitLoop = nullptr;
        return;
    }
    std::unique_lock lock(m_state->mutex);
    m_state->changed.wait(lock, [this] { return m_state->ended; });
}
