#include "cloud/BVVelora.h"

#include "net/BVFormDataRequest.h"
#include "support/BVAlert.h"
#include "support/BVFileManager.h"
#include "support/BVLog.h"

#include <QBuffer>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QUrl>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

QString hexDigest(const EVP_MD *md, const QString &string)
{
    const QByteArray bytes = string.toUtf8();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.constData(), size_t(bytes.size()), digest, &length, md, nullptr) != 1)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

bool conformsTo(const QString &path, const QString &top, std::initializer_list<const char *> extensions)
{
    const QString extension = BVFileManager::pathExtension(path).toLower();
    for (const char *known : extensions) {
        if (extension == QLatin1String(known))
            return true;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() && type.name().startsWith(top + QLatin1Char('/'));
}

} // namespace

QString BVVelora::sha512(const QString &string)
{
    return hexDigest(EVP_sha512(), string);
}

QString BVVelora::sha1(const QString &string)
{
    return hexDigest(EVP_sha1(), string);
}

QString BVVelora::randomString(int count)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr int kLetters = 36;
    // Bytes of 252 and above are drawn again, so every character is equally likely.
    constexpr int kLimit = 256 - 256 % kLetters;
    QString text;
    text.reserve(count);
    unsigned char buffer[64];
    while (text.size() < count) {
        if (RAND_bytes(buffer, int(sizeof buffer)) != 1) {
            BVLog::appendLog("Velora: the random source failed");
            return {};
        }
        for (const unsigned char byte : buffer) {
            if (byte < kLimit && text.size() < count)
                text += QLatin1Char(alphabet[byte % kLetters]);
        }
    }
    return text;
}

QString BVVelora::sanitizeFilename(const QString &filename)
{
    QString clean = filename;
    for (QChar &c : clean) {
        const char16_t u = c.unicode();
        const bool kept
            = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '.';
        if (!kept)
            c = QLatin1Char('_');
    }
    return clean;
}

QString BVVelora::sanitizeURLParameter(const QString &parameter)
{
    // Characters legal in an address stay as they are; then the ones that separate form fields.
    QString text = QString::fromLatin1(QUrl::toPercentEncoding(parameter, "!$&'()*+,-./:;=?@_~#"));
    text.replace(QLatin1String("&"), QLatin1String("%26"));
    text.replace(QLatin1String("\""), QLatin1String("%22"));
    text.replace(QLatin1String("<"), QLatin1String("%3C"));
    text.replace(QLatin1String(">"), QLatin1String("%3E"));
    text.replace(QLatin1String("="), QLatin1String("%3D"));
    text.replace(QLatin1String("?"), QLatin1String("%3F"));
    text.replace(QLatin1String("+"), QLatin1String("%2B"));
    return text;
}

QString BVVelora::fileMIMEType(const QString &path)
{
    return BVFormDataRequest::mimeTypeForFileAtPath(path);
}

bool BVVelora::isMovieFile(const QString &path)
{
    return conformsTo(path, QStringLiteral("video"), {"mov", "mp4", "m4v"});
}

bool BVVelora::isAudioFile(const QString &path)
{
    return conformsTo(path, QStringLiteral("audio"), {"wav", "aif", "aiff", "mp3"});
}

bool BVVelora::isImageFile(const QString &path)
{
    return conformsTo(path, QStringLiteral("image"), {"png", "jpg", "jpeg", "tif", "tiff", "bmp"});
}

QByteArray BVVelora::resizeImage(
    const QImage &image, int width, int height, const char *format, double factor)
{
    if (image.isNull())
        return {};
    if (width <= 0 && height <= 0) {
        width = image.width();
        height = image.height();
    } else if (width <= 0) {
        width = qMax(1, int(qRound(double(height) * image.width() / image.height())));
    } else if (height <= 0) {
        height = qMax(1, int(qRound(double(width) * image.height() / image.width())));
    }
    const QImage scaled = image.size() == QSize(width, height)
        ? image
        : image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(qBound(0, int(qRound(factor * 100.0)), 100));
    if (!writer.write(scaled)) {
        BVLog::appendLog("Velora: image could not be encoded as %s: %@", format, writer.errorString());
        return {};
    }
    return bytes;
}

QString BVVelora::messageForError(const BVError &error)
{
    const QString message = error.userInfo().value(QStringLiteral("error")).toString();
    return message.isEmpty() ? error.localizedDescription() : message;
}

void BVVelora::showAlertForError(const BVError &error)
{
    const QString message = messageForError(error);
    BVLog::appendLog("Velora API error: %@", message);
    BVAlert::alertSheetWithMessageText(QStringLiteral("Velora Error"), message, nullptr);
}
