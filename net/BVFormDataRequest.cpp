#include "net/BVFormDataRequest.h"

#include "support/BVFormat.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUuid>

namespace {

const QString kCharset = QStringLiteral("utf-8");

} // namespace

std::shared_ptr<BVFormDataRequest> BVFormDataRequest::requestWithURL(const QUrl &url)
{
    return std::shared_ptr<BVFormDataRequest>(new BVFormDataRequest(url));
}

BVFormDataRequest::BVFormDataRequest(const QUrl &url)
    : BVHTTPRequest(url)
{
    setRequestMethod(QStringLiteral("POST"));
}

void BVFormDataRequest::setPostValue(const QVariant &value, const QString &key)
{
    m_postValues.removeIf([&key](const auto &pair) { return pair.first == key; });
    const QString text = value.canConvert<QString>() ? value.toString() : BVFormat::describe(value);
    m_postValues.append({key, text});
}

void BVFormDataRequest::setFile(const QString &filePath, const QString &key)
{
    m_files.removeIf([&key](const FilePart &part) { return part.key == key; });
    m_files.append({key, filePath, QFileInfo(filePath).fileName(), mimeTypeForFileAtPath(filePath)});
}

QString BVFormDataRequest::mimeTypeForFileAtPath(const QString &path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return QStringLiteral("application/octet-stream");
    return type.name();
}

QString BVFormDataRequest::escapedPartName(const QString &name)
{
    QString escaped;
    escaped.reserve(name.size());
    for (const QChar c : name) {
        if (c == QLatin1Char('"'))
            escaped += QLatin1String("%22");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("%0D");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("%0A");
        else
            escaped += c;
    }
    return escaped;
}

bool BVFormDataRequest::buildRequest(BVError *error)
{
    if (m_files.isEmpty()) {
        buildURLEncodedPostBody();
        return true;
    }
    return buildMultipartFormDataPostBody(error);
}

bool BVFormDataRequest::buildMultipartFormDataPostBody(BVError *error)
{
    m_boundary = BVFormat::format(
        "0xKhTmLbOuNdArY-%@", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    addRequestHeader(QStringLiteral("Content-Type"),
        BVFormat::format("multipart/form-data; charset=%@; boundary=%@", kCharset, m_boundary));
    BVHTTPBody &body = postBody();
    const QByteArray boundary = m_boundary.toUtf8();
    const QByteArray separator = "\r\n--" + boundary + "\r\n";
    body.appendData("--" + boundary + "\r\n");
    // Every part but the last is followed by the separator; the closing delimiter ends the body.
    const qsizetype parts = m_postValues.size() + m_files.size();
    qsizetype index = 0;
    for (const auto &[key, value] : m_postValues) {
        body.appendData(
            BVFormat::format("Content-Disposition: form-data; name=\"%@\"\r\n\r\n", escapedPartName(key))
                .toUtf8());
        body.appendData(value.toUtf8());
        if (++index < parts)
            body.appendData(separator);
    }
    for (const FilePart &file : m_files) {
        if (!QFileInfo(file.path).isFile()) {
            *error = BVError::withDescription(errorDomain, InternalErrorWhileBuildingRequest,
                BVFormat::format("No file exists at %@", file.path));
            return false;
        }
        body.appendData(BVFormat::format("Content-Disposition: form-data; name=\"%@\"; filename=\"%@\"\r\n",
            escapedPartName(file.key), escapedPartName(file.fileName))
                            .toUtf8());
        body.appendData(BVFormat::format("Content-Type: %@\r\n\r\n", file.contentType).toUtf8());
        if (shouldStreamPostDataFromDisk()) {
            if (!body.appendFile(file.path, error))
                return false;
        } else {
            QFile in(file.path);
            if (!in.open(QIODevice::ReadOnly)) {
                *error = BVError::withDescription(errorDomain, InternalErrorWhileBuildingRequest,
                    QStringLiteral("Unable to create read stream"));
                return false;
            }
            body.appendData(in.readAll());
        }
        if (++index < parts)
            body.appendData(separator);
    }
    body.appendData("\r\n--" + boundary + "--\r\n");
    return true;
}

void BVFormDataRequest::buildURLEncodedPostBody()
{
    addRequestHeader(QStringLiteral("Content-Type"),
        BVFormat::format("application/x-www-form-urlencoded; charset=%@", kCharset));
    QStringList pairs;
    for (const auto &[key, value] : m_postValues)
        pairs.append(encodeURLComponent(key) + QLatin1Char('=') + encodeURLComponent(value));
    postBody().appendData(pairs.join(QLatin1Char('&')).toUtf8());
}
