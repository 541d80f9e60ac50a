#pragma once

#include "net/BVHTTPRequest.h"

#include <QVariant>

// A form POST: values and files. With files the body is multipart/form-data (files read from disk
// while sending when shouldStreamPostDataFromDisk is on); without, it is URL-encoded.
class BVFormDataRequest : public BVHTTPRequest
{
public:
    static std::shared_ptr<BVFormDataRequest> requestWithURL(const QUrl &url);

    // Sets a form value, replacing any earlier value of the key (the value moves to the end).
    void setPostValue(const QVariant &value, const QString &key);
    // Sets a file part: part name = key, file name = the file's last path component, content type
    // from the file's extension or "application/octet-stream". Replaces an earlier file of the key.
    void setFile(const QString &filePath, const QString &key);
    const QList<std::pair<QString, QString>> &postValues() const { return m_postValues; }
    // The multipart boundary of the last build.
    const QString &boundary() const { return m_boundary; }

    // "application/octet-stream" when the extension says nothing.
    static QString mimeTypeForFileAtPath(const QString &path);
    // A field or file name as it stands between the quotes of a part's Content-Disposition: '"',
    // CR and LF become %22, %0D and %0A, as browsers send them.
    static QString escapedPartName(const QString &name);

protected:
    explicit BVFormDataRequest(const QUrl &url);
    bool buildRequest(BVError *error) override;

private:
    struct FilePart
    {
        QString key;
        QString path;
        QString fileName;
        QString contentType;
    };
    bool buildMultipartFormDataPostBody(BVError *error);
    void buildURLEncodedPostBody();

    QList<std::pair<QString, QString>> m_postValues;
    QList<FilePart> m_files;
    QString m_boundary;
};
