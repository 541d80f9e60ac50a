#include "platform/defaults/BVUserDefaults.h"
#include "support/BVAlert.h"

#include "common/BVTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace {

QMessageBox *visibleAlert()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}

// Clicks the button with the given title on the next alert that appears.
void clickWhenShown(const QString &title)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, title] {
        if (QMessageBox *box = visibleAlert()) {
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == title) {
                    timer->stop();
                    timer->deleteLater();
                    button->click();
                    return;
                }
            }
        }
    });
    timer->start(10);
}

class Receiver : public QObject
{
    Q_OBJECT
public:
    int code = 99;
public Q_SLOTS:
    void alertDidEnd(int returnCode) { code = returnCode; }
};

} // namespace

TEST(Alert, AnswersOneZeroAndMinusOneForTheThreeButtons)
{
    const std::pair<QString, int> cases[] = {{"Delete", 1}, {"Cancel", 0}, {"Keep Both", -1}};
    for (const auto &[button, expected] : cases) {
        clickWhenShown(button);
        const int answer = BVAlert::alertSheetWithMessageText(
            "Delete the marker?", "Delete", "Cancel", "Keep Both", "This cannot be undone.", nullptr, true);
        EXPECT_EQ(answer, expected) << button.toStdString();
    }
}

TEST(Alert, ShownFromABackgroundThreadOnTheMainThread)
{
    int answer = 42;
    std::atomic<bool> done {false};
    std::thread worker([&] {
        answer = BVAlert::alertSheetWithMessageText(
            "Export failed", "Retry", "Cancel", QString(), "The disk is full.", nullptr, true);
        done = true;
    });
    ASSERT_TRUE(BVTest::waitFor([] { return visibleAlert() != nullptr; }));
    EXPECT_EQ(visibleAlert()->thread(), QApplication::instance()->thread());
    EXPECT_EQ(visibleAlert()->text(), "Export failed");
    EXPECT_EQ(visibleAlert()->informativeText(), "The disk is full.");
    clickWhenShown("Cancel");
    ASSERT_TRUE(BVTest::waitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(answer, 0);
}

TEST(Alert, NonWaitingFormAnswersMinusOneAtOnceAndTellsTheDelegateLater)
{
    Receiver receiver;
    const int answer = BVAlert::alertSheetWithMessageText(
        "Upload finished", "OK", QString(), QString(), "Done.", nullptr, &receiver, "alertDidEnd", false);
    EXPECT_EQ(answer, -1);
    ASSERT_TRUE(BVTest::waitFor([] { return visibleAlert() != nullptr; }));
    clickWhenShown("OK");
    ASSERT_TRUE(BVTest::waitFor([&] { return receiver.code != 99; }));
    EXPECT_EQ(receiver.code, 1);

    // A delegate without the callback shows nothing and answers -1.
    EXPECT_EQ(BVAlert::alertSheetWithMessageText(
                  "x", "OK", QString(), QString(), "y", nullptr, &receiver, "noSuchCallback", true),
        -1);
    EXPECT_EQ(visibleAlert(), nullptr);
}

TEST(Alert, TimedAlertAnswersTheDefaultByItself)
{
    QElapsedTimer timer;
    timer.start();
    const int answer = BVAlert::timedAlertSheetWithMessageText(
        "Reconnecting", "OK", "Cancel", QString(), "The session will resume.", nullptr, 0.3);
    EXPECT_EQ(answer, 1);
    EXPECT_GE(timer.elapsed(), 280);
    BVTest::spin(std::chrono::milliseconds(20));
    EXPECT_EQ(visibleAlert(), nullptr);
}

TEST(Alert, SuppressionCheckboxIsBoundToTheSetting)
{
    BVUserDefaults::standardUserDefaults()->setBool(false, "suppressCacheWarning");
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer] {
        if (QMessageBox *box = visibleAlert(); box && box->checkBox()) {
            timer->stop();
            timer->deleteLater();
            box->checkBox()->setChecked(true);
            box->buttons().first()->click();
        }
    });
    timer->start(10);
    BVAlert alert;
    EXPECT_EQ(BVAlert::alertSheetWithMessageText("Cache is large", "OK", QString(), QString(),
                  "Clear it soon.", nullptr, nullptr, nullptr, true, &alert, "suppressCacheWarning"),
        1);
    EXPECT_TRUE(BVUserDefaults::standardUserDefaults()->boolForKey("suppressCacheWarning"));
}

#include "AlertTests.moc"
