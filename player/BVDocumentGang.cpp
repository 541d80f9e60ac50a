// Gang playback: the document whose window is active leads; every other open document follows its
// play, pause, shuttle, steps, start and end, and copies its position after each seek. Documents
// talk only through the process-wide notifications below. Main thread.
#include "player/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/BVAVAsset.h"
#include "support/BVNotificationCenter.h"

#include <QTimer>

namespace {

const QString kGangUpdate = QStringLiteral("GANGUPDATE");
const QString kGangSeek = QStringLiteral("GANGSEEK");

} // namespace

void BVDocument::enableGanging()
{
    if (m_isUnloading)
        return;
    // The center keeps one handler per (observer, name, sender): enabling again replaces them, so a
    // follower acts once per notification however often this runs.
    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    const QList<QPair<QString, std::function<void()>>> commands {
        {QStringLiteral("GANGPLAY"), [this] { gangedPlay(); }},
        {QStringLiteral("GANGPAUSE"), [this] { gangedPause(); }},
        {QStringLiteral("GANGREW"), [this] { rewind(); }},
        {QStringLiteral("GANGFF"), [this] { fastForward(); }},
        {QStringLiteral("GANGSTEP-"), [this] { stepLeft(); }},
        {QStringLiteral("GANGSTEP+"), [this] { stepRight(); }},
        {QStringLiteral("GANGHOME"), [this] { goToStart(); }},
        {QStringLiteral("GANGEND"), [this] { goToEnd(); }},
    };
    for (const auto &[name, command] : commands)
        center.addObserver(this, name, nullptr, [command](const BVNotification &) { command(); });
    center.addObserver(this, kGangSeek, nullptr, [this](const BVNotification &n) { gangedSeek(n); });
    m_gangListening = true;
}

void BVDocument::disableGanging()
{
    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    for (const char *name : {"GANGPLAY", "GANGPAUSE", "GANGREW", "GANGFF", "GANGSTEP-", "GANGSTEP+",
             "GANGHOME", "GANGEND", "GANGSEEK"})
        center.removeObserver(this, QString::fromLatin1(name));
    m_gangListening = false;
}

void BVDocument::updateGangSettings()
{
    if (m_isUnloading)
        return;
    if (BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("gangMode")) != 1) {
        disableGanging();
        return;
    }
    if (!isKeyWindow()) {
        enableGanging();
        return;
    }
    // The leader: the followers take its position shortly after.
    QTimer::singleShot(500, this, [this] { syncGangPosition(); });
}

bool BVDocument::postGangNotification(const QString &name, const QVariantMap &userInfo)
{
    if (name != kGangUpdate) {
        if (m_isUnloading || !isKeyWindow() || isInSession() || openDocuments().size() < 2)
            return false;
        if (BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("gangMode")) != 1)
            return false;
    }
    BVNotificationCenter::defaultCenter().postNotification(name, nullptr, userInfo);
    return true;
}

void BVDocument::syncGangPosition()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    const MediaTime position = m_mediaObject->currentTime().absolute();
    if (!position.isNumeric())
        return;
    postGangNotification(kGangSeek, {{QStringLiteral("time"), position.dictionary()}});
}

void BVDocument::gangedPlay()
{
    if (m_mediaObject && !m_mediaObject->isPlaying())
        play();
}

void BVDocument::gangedPause()
{
    if (m_mediaObject && m_mediaObject->isPlaying())
        pause();
}

void BVDocument::gangedSeek(const BVNotification &notification)
{
    if (!m_mediaObject || m_isUnloading)
        return;
    if (auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get()); asset && !asset->isReadyToPlay())
        return;
    const MediaTime leader
        = MediaTime::fromDictionary(notification.userInfo.value(QStringLiteral("time")).toMap());
    if (!leader.isNumeric())
        return;
    // The leader's frame at its exact start, whatever timescale this player's clock runs in.
    const MediaTime target = m_mediaObject->timeOfFrame(m_mediaObject->frameAtTime(leader));
    QPointer<BVDocument> self(this);
    m_mediaObject->seekToTime(target, MediaTime::zero(), MediaTime::zero(), [self](bool) {
        if (self && !self->m_isUnloading)
            self->updateTimecode();
    });
}

void BVDocument::modifyGanging(int tag)
{
    BVUserDefaults::standardUserDefaults()->setInteger(tag, QStringLiteral("gangMode"));
    updateMenuChecks();
    postGangNotification(kGangUpdate);
}
