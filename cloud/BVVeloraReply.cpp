#include "cloud/BVVeloraReply.h"

#include "net/BVJSON.h"
#include "support/BVFormat.h"

#include <QStringDecoder>

const QString BVVeloraReply::publicServerErrorMessage = QStringLiteral(
    "Server error. Please try again in a few minutes or report the problem to Brightvane if it persists.");
const QString BVVeloraReply::ownServerErrorMessage
    = QStringLiteral("Server error. Please check your Apache log file to see the cause.");

BVError BVVeloraReply::errorWithMessage(int code, const QString &message)
{
    QVariantMap details;
    details.insert(QStringLiteral("error"), message);
    details.insert(QStringLiteral("localizedDescription"), message);
    return BVError(QStringLiteral("BVVeloraErrorDomain"), code, details);
}

BVVeloraReply BVVeloraReply::interpret(const QByteArray *data, int status, bool ownServer)
{
    BVVeloraReply reply;
    // A failed connection has nothing to read: it is answered like an empty reply, a server error.
    const QByteArray empty;
    const QByteArray &body = (data && status != 0) ? *data : empty;
    if (data && status != 0) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(body);
        if (decoder.hasError()) {
            reply.log.append(QStringLiteral("Error: no data returned"));
            reply.success = true;
            return reply;
        }
    }

    BVError parseError;
    const QVariant value = BVJSON().objectWithData(body, &parseError);
    if (!value.isValid()) {
        const QString message = parseError.localizedDescription();
        if (message == QLatin1String("Unrecognised leading character")
            || message == QLatin1String("Unexpected end of string")) {
            reply.error = errorWithMessage(0, ownServer ? ownServerErrorMessage : publicServerErrorMessage);
        } else {
            reply.error = parseError;
            if (!reply.error.userInfo().contains(QStringLiteral("error")))
                reply.error.userInfo().insert(QStringLiteral("error"), message);
        }
        reply.log.append(BVFormat::format("Error with Velora output: %@", QString::fromUtf8(body)));
        return reply;
    }
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        if (map.contains(QStringLiteral("error"))) {
            reply.error = BVError(QStringLiteral("BVVeloraErrorDomain"), 0, map);
            return reply;
        }
    }
    switch (status) {
    case 500:
        reply.log.append(QStringLiteral("500 error"));
        reply.error = errorWithMessage(0,
            QStringLiteral(
                "Server error. Please check your Velora Server Apache log file to see the cause."));
        return reply;
    case 404:
        reply.log.append(QStringLiteral("Velora server not found."));
        reply.error = errorWithMessage(0,
            QStringLiteral(
                "Server not found. This could be a temporary error or you may be using an outdated "
                "version of the Velora API."));
        return reply;
    case 403:
        reply.log.append(QStringLiteral("URL forbidden"));
        reply.error = errorWithMessage(0,
            QStringLiteral(
                "Forbidden. Please check permissions on the API directory in your Velora Server installation "
                "directory."));
        return reply;
    default:
        reply.success = true;
        reply.result = value;
        return reply;
    }
}
