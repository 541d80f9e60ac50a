#pragma once

#include "support/BVError.h"

#include <QString>
#include <QVariant>

class BVWebSocket;

// What a WebSocket tells its owner, on the socket's delegate queue (the main thread unless changed).
// Every method does nothing by default, so an owner implements only what it needs.
class BVWebSocketDelegate
{
public:
    virtual ~BVWebSocketDelegate() = default;

    virtual void webSocketDidOpen(BVWebSocket *webSocket) { (void)webSocket; }
    // A text message arrives as a QString, a binary message as a QByteArray.
    virtual void webSocketDidReceiveMessage(BVWebSocket *webSocket, const QVariant &message)
    {
        (void)webSocket;
        (void)message;
    }
    // The socket failed and is closed; no close callback follows.
    virtual void webSocketDidFailWithError(BVWebSocket *webSocket, const BVError &error)
    {
        (void)webSocket;
        (void)error;
    }
    virtual void webSocketDidCloseWithCode(
        BVWebSocket *webSocket, int code, const QString &reason, bool wasClean)
    {
        (void)webSocket;
        (void)code;
        (void)reason;
        (void)wasClean;
    }
};
