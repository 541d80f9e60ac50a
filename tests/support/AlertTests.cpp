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

#include <time.h>

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

// A waiting alert sleeps in the event loop: the main thread spends next to no processor time while
// an alert waits 2 s for its answer (a polling wait spends most of those 2 s).
TEST(Alert, WaitingForAnAnswerSleeps)
{
    const auto threadCPU = [] {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    };
    // A precise timer: a coarse one may fire up to 5 % (100 ms) early.
    QTimer::singleShot(2000, Qt::PreciseTimer, [] {
        if (QMessageBox *box = visibleAlert())
            box->buttons().first()->click();
    });
    QElapsedTimer wall;
    wall.start();
    const double before = threadCPU();
    const int answer = BVAlert::alertSheetWithMessageText(
        "Render finished", "OK", QString(), QString(), "Answered after 2 s.", nullptr, true);
    const double spent = threadCPU() - before;
    EXPECT_EQ(answer, 1);
    EXPECT_GE(wall.elapsed(), 1900);
    std::printf(
        "main thread CPU while an alert waited %.1f s: %.3f s\n", double(wall.elapsed()) / 1000.0, spent);
    EXPECT_LT(spent, 0.3);
}

// The wait of an alert attached to a window ends when that window goes away, as if Escape had
// been pressed (the alternate button's answer, or 1 with "OK" alone).
TEST(Alert, WaitEndsWhenTheParentWindowGoesAway)
{
    for (const bool withCancel : {true, false}) {
        SCOPED_TRACE(withCancel);
        auto *window = new QWidget;
        window->resize(400, 300);
        window->show();
        QTimer::singleShot(200, window, [window] { delete window; });
        QElapsedTimer wall;
        wall.start();
        const int answer = BVAlert::alertSheetWithMessageText("Discard the annotation?", "Discard",
            withCancel ? QStringLiteral("Cancel") : QString(), QString(), "The drawing is lost.", window,
            true);
        EXPECT_EQ(answer, withCancel ? 0 : 1);
        EXPECT_LT(wall.elapsed(), 5000);
    }
}

// The answer of a timed alert that ends by its time-out is always the default button's, on the
// main thread and on a background thread alike.
TEST(Alert, TimedOutAlertAlwaysAnswersOne)
{
    int wrong = 0;
    for (int i = 0; i < 40; ++i) {
        if (BVAlert::timedAlertSheetWithMessageText(
                "Reconnecting", "OK", "Cancel", QString(), "", nullptr, 0.005)
            != 1)
            ++wrong;
    }
    std::atomic<int> wrongInBackground {0};
    std::atomic<bool> done {false};
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            if (BVAlert::timedAlertSheetWithMessageText(
                    "Reconnecting", "OK", "Cancel", QString(), "", nullptr, 0.005)
                != 1)
                ++wrongInBackground;
        }
        done = true;
    });
    ASSERT_TRUE(BVTest::waitFor([&] { return done.load(); }, std::chrono::seconds(30)));
    worker.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(wrongInBackground.load(), 0);
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
