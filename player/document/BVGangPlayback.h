#pragma once

#include "player/document/BVTransportEvent.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

class BVDocument;
struct BVNotification;

// Gang playback of one document: a listener of its transport events. The document whose window is
// active leads and turns each event into a "GANG..." notification; every other open document
// follows by running its own commands. Documents talk only through these process-wide
// notifications. Owned by its document; main thread.
class BVGangPlayback : public QObject
{
    Q_OBJECT
public:
    explicit BVGangPlayback(BVDocument &document);
    ~BVGangPlayback() override;

    // Registers for the nine follower notifications; enabling again replaces the handlers.
    void enableGanging();
    void disableGanging();
    bool isListening() const { return m_listening; }
    // Follows when "gangMode" is 1 and the document is not the active one; the leader copies its
    // position to the followers shortly after.
    void updateGangSettings();
    // Posts under the leader rule ("GANGUPDATE" always); answers whether it was posted.
    bool postGangNotification(const QString &name, const QVariantMap &userInfo = {});
    // "GANGSEEK" with the document's position.
    void syncGangPosition();
    // The leader's side: one transport event becomes its notifications.
    void transportPerformed(const BVTransportEvent &event);
    // The follower's side.
    void gangedPlay();
    void gangedPause();
    void gangedSeek(const BVNotification &notification);

private:
    BVDocument &m_document;
    bool m_listening = false;
};
