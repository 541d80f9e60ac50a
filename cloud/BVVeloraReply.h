#pragma once

#include "support/BVError.h"

#include <QByteArray>
#include <QStringList>
#include <QVariant>

// What a reply of the service means: success with the parsed value, or failure with an error of
// "BVVeloraErrorDomain" whose message is under "error". Pure: it is the part of the client that
// reads outside input, and is tested and fuzzed on its own.
struct BVVeloraReply
{
    static const QString publicServerErrorMessage;
    static const QString ownServerErrorMessage;

    bool success = false;
    // A map or a list; invalid when the reply carried nothing readable.
    QVariant result;
    BVError error;
    // What the client logs about the reply, in order.
    QStringList log;

    // The reply body (null when none arrived) with its HTTP status (0 when the connection failed);
    // ownServer says whether the user's own server answered.
    static BVVeloraReply interpret(const QByteArray *data, int status, bool ownServer);
    // An error of the client's domain with the message under "error".
    static BVError errorWithMessage(int code, const QString &message);
};
