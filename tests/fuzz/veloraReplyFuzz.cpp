// Fuzz entry for the service client's reading of replies. The first byte chooses the HTTP status
// and whether the user's own server answered, the second whether a body arrived at all; the rest
// is the body. Whatever arrives, the outcome must be one the delegate can rely on.
#include "cloud/BVVeloraReply.h"

#include <QVariantMap>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

constexpr int kStatuses[] = {0, 200, 403, 404, 500, 201, 302, 401, 502, 204};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int status = kStatuses[(data[0] & 0x7F) % (sizeof kStatuses / sizeof kStatuses[0])];
    const bool ownServer = data[0] & 0x80;
    const bool noBody = data[1] & 1;
    const QByteArray body(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const BVVeloraReply reply = BVVeloraReply::interpret(noBody ? nullptr : &body, status, ownServer);

    if (reply.success) {
        check(reply.error.isNull());
        const int type = reply.result.typeId();
        check(!reply.result.isValid() || type == QMetaType::QVariantMap || type == QMetaType::QVariantList);
        // A failed connection never counts as success; a reply of an error status only when its body
        // was not text at all (delivered with no result).
        check(status != 0);
        if (reply.result.isValid())
            check(status != 403 && status != 404 && status != 500);
        if (reply.result.typeId() == QMetaType::QVariantMap)
            check(!reply.result.toMap().contains(QStringLiteral("error")));
    } else {
        check(!reply.result.isValid());
        check(reply.error.domain() == QLatin1String("BVVeloraErrorDomain")
            || reply.error.domain() == QLatin1String("BVJSONErrorDomain") || !reply.error.domain().isEmpty());
        // The owner shows the message under "error": there always is one.
        check(reply.error.userInfo().contains(QStringLiteral("error")));
    }
    if (status == 0 || noBody) {
        check(!reply.success);
        check(reply.error.userInfo().value(QStringLiteral("error")).toString()
            == (ownServer ? BVVeloraReply::ownServerErrorMessage : BVVeloraReply::publicServerErrorMessage));
    }
    return 0;
}
