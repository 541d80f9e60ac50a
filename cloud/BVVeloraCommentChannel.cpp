// The live comment channel of the file shown (Reelmark): any message on it means the file's
// comments changed, and they are asked for again.
#include "cloud/BVVelora.h"

#include "cloud/BVVeloraDeployment.h"
#include "cloud/BVWebSocket.h"
#include "support/BVFormat.h"
#include "support/BVLog.h"
#include "support/BVWorkQueue.h"

#include <QUrl>

bool BVVelora::hasCommentSocket() const
{
    return bool(m_commentSocket);
}

void BVVelora::connectToCommentSocketForFileID(long fileID)
{
    if (m_program != Program::Reelmark || fileID < 0)
        return;
    closeCommentSocket();
    const QUrl site(siteURLString());
    QString host = site.host();
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    const QString scheme
        = site.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws");
    const QString address = BVFormat::format(
        "%@://%@:%i/commentstream/%li", scheme, host, BVVeloraDeployment::webSocketPort(), fileID);
    BVLog::appendLog("comment socket URL: %@", address);
    m_commentSocket = std::make_shared<BVWebSocket>(QUrl(address));
    m_commentSocket->setDelegate(this);
    m_queue->async([socket = m_commentSocket] { socket->open(); });
}

void BVVelora::closeCommentSocket()
{
    if (!m_commentSocket)
        return;
    m_commentSocket->setDelegate(nullptr);
    const int state = m_commentSocket->readyState();
    if (state != BVWebSocket::Closing && state != BVWebSocket::Closed)
        m_commentSocket->close();
    m_commentSocket.reset();
}

void BVVelora::webSocketDidOpen(BVWebSocket *)
{
    BVLog::appendLog("Comment socket opened");
}

void BVVelora::webSocketDidReceiveMessage(BVWebSocket *webSocket, const QVariant &)
{
    BVLog::appendLog("comment socket message received");
    const QString last = webSocket->url().path().section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    const long fileID = last.toLong();
    BVLog::appendLog("comment socket file id: %i", fileID);
    commentsForFileID(fileID);
}

void BVVelora::webSocketDidFailWithError(BVWebSocket *, const BVError &error)
{
    BVLog::appendLog("Comment socket failed: %@", error.localizedDescription());
    closeCommentSocket();
}

void BVVelora::webSocketDidCloseWithCode(BVWebSocket *, int, const QString &, bool)
{
    BVLog::appendLog("Comment socket closed");
    if (m_commentSocket) {
        m_commentSocket->setDelegate(nullptr);
        m_commentSocket.reset();
    }
}
