#include "player/document/BVGangPlayback.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVAVAsset.h"
#include "support/BVNotificationCenter.h"

#include <QPointer>
#include <QTimer>

namespace {

const QString kGangUpdate = QStringLiteral("GANGUPDATE");
const QString kGangSeek = QStringLiteral("GANGSEEK");

bool gangModeOn()
{
    return BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("gangMode")) == 1;
}

} // namespace

BVGangPlayback::BVGangPlayback(BVDocument &document)
    : m_document(document)
{ }

BVGangPlayback::~BVGangPlayback()
{
    disableGanging();
}

void BVGangPlayback::enableGanging()
{
    if (m_document.isUnloading())
        return;
    // The center keeps one handler per (observer, name, sender): enabling again replaces them, so a
    // follower acts once per notification however often this runs.
    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    BVDocument *d = &m_document;
    const QList<QPair<QString, std::function<void()>>> commands {
        {QStringLiteral("GANGPLAY"), [this] { gangedPlay(); }},
        {QStringLiteral("GANGPAUSE"), [this] { gangedPause(); }},
        {QStringLiteral("GANGREW"), [d] { d->rewind(); }},
        {QStringLiteral("GANGFF"), [d] { d->fastForward(); }},
        {QStringLiteral("GANGSTEP-"), [d] { d->stepLeft(); }},
        {QStringLiteral("GANGSTEP+"), [d] { d->stepRight(); }},
        {QStringLiteral("GANGHOME"), [d] { d->goToStart(); }},
        {QStringLiteral("GANGEND"), [d] { d->goToEnd(); }},
    };
    for (const auto &[name, command] : commands)
        center.addObserver(this, name, nullptr, [command](const BVNotification &) { command(); });
    center.addObserver(this, kGangSeek, nullptr, [this](const BVNotification &n) { gangedSeek(n); });
    m_listening = true;
}

void BVGangPlayback::disableGanging()
{
    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    for (const char *name : {"GANGPLAY", "GANGPAUSE", "GANGREW", "GANGFF", "GANGSTEP-", "GANGSTEP+",
             "GANGHOME", "GANGEND", "GANGSEEK"})
        center.removeObserver(this, QString::fromLatin1(name));
    m_listening = false;
}

void BVGangPlayback::updateGangSettings()
{
    if (m_document.isUnloading())
        return;
    if (!gangModeOn()) {
        disableGanging();
        return;
    }
    if (!m_document.isKeyDocument()) {
        enableGanging();
        return;
    }
    // The leader: the followers take its position shortly after.
    QTimer::singleShot(500, this, [this] { syncGangPosition(); });
}

bool BVGangPlayback::postGangNotification(const QString &name, const QVariantMap &userInfo)
{
    if (name != kGangUpdate) {
        if (m_document.isUnloading() || !m_document.isKeyDocument() || m_document.isInSession()
            || BVDocument::openDocuments().size() < 2 || !gangModeOn())
            return false;
    }
    BVNotificationCenter::defaultCenter().postNotification(name, nullptr, userInfo);
    return true;
}

void BVGangPlayback::syncGangPosition()
{
    BVMediaObject *media = m_document.mediaObject();
    if (!media || m_document.isUnloading())
        return;
    const MediaTime position = media->currentTime().absolute();
    if (!position.isNumeric())
        return;
    postGangNotification(kGangSeek, {{QStringLiteral("time"), position.dictionary()}});
}

void BVGangPlayback::transportPerformed(const BVTransportEvent &event)
{
    switch (event.kind) {
    case BVTransportEvent::Play:
        postGangNotification(QStringLiteral("GANGPLAY"));
        break;
    case BVTransportEvent::Pause:
    case BVTransportEvent::EndOfMedia:
        postGangNotification(QStringLiteral("GANGPAUSE"));
        syncGangPosition();
        break;
    case BVTransportEvent::ShuttleDown:
        postGangNotification(QStringLiteral("GANGREW"));
        break;
    case BVTransportEvent::ShuttleUp:
        postGangNotification(QStringLiteral("GANGFF"));
        break;
    case BVTransportEvent::StepBack:
        postGangNotification(QStringLiteral("GANGSTEP-"));
        break;
    case BVTransportEvent::StepForward:
        postGangNotification(QStringLiteral("GANGSTEP+"));
        break;
    case BVTransportEvent::Home:
        postGangNotification(QStringLiteral("GANGHOME"));
        break;
    case BVTransportEvent::End:
        postGangNotification(QStringLiteral("GANGEND"));
        break;
    case BVTransportEvent::SeekDone:
    case BVTransportEvent::ScrubEnd:
        syncGangPosition();
        break;
    case BVTransportEvent::Jump:
    case BVTransportEvent::LoopWrap:
        // The seek they start reports SeekDone when it lands, which copies the position.
        break;
    }
}

void BVGangPlayback::gangedPlay()
{
    if (m_document.mediaObject() && !m_document.mediaObject()->isPlaying())
        m_document.play();
}

void BVGangPlayback::gangedPause()
{
    if (m_document.mediaObject() && m_document.mediaObject()->isPlaying())
        m_document.pause();
}

void BVGangPlayback::gangedSeek(const BVNotification &notification)
{
    BVMediaObject *media = m_document.mediaObject();
    if (!media || m_document.isUnloading())
        return;
    if (auto *asset = dynamic_cast<BVAVAsset *>(media); asset && !asset->isReadyToPlay())
        return;
    const MediaTime leader
        = MediaTime::fromDictionary(notification.userInfo.value(QStringLiteral("time")).toMap());
    if (!leader.isNumeric())
        return;
    // The leader's frame at its exact start, whatever timescale this player's clock runs in.
    const MediaTime target = media->timeOfFrame(media->frameAtTime(leader));
    QPointer<BVDocument> document(&m_document);
    media->seekToTime(target, MediaTime::zero(), MediaTime::zero(), [document](bool) {
        if (document && !document->isUnloading())
            document->updateTimecode();
    });
}
