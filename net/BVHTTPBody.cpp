#include "net/BVHTTPBody.h"

#include "net/BVHTTPRequest.h"
#include "support/BVFormat.h"

#include <QFileInfo>

void BVHTTPBody::clear()
{
    close();
    m_segments.clear();
    m_size = 0;
    m_index = 0;
    m_offset = 0;
}

void BVHTTPBody::appendData(const QByteArray &data)
{
    if (data.isEmpty())
        return;
    if (!m_segments.empty() && m_segments.back().path.isEmpty())
        m_segments.back().data += data;
    else
        m_segments.push_back({data, {}, 0});
    m_segments.back().size = m_segments.back().data.size();
    m_size += data.size();
}

bool BVHTTPBody::appendFile(const QString &path, BVError *error)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        if (error)
            *error = BVError::withDescription(BVHTTPRequest::errorDomain, BVHTTPRequest::FileManagementError,
                BVFormat::format("Failed to get attributes for file at path '%@'", path));
        return false;
    }
    if (info.size() > 0) {
        m_segments.push_back({{}, info.absoluteFilePath(), info.size()});
        m_size += info.size();
    }
    return true;
}

void BVHTTPBody::close()
{
    m_file.reset();
}

bool BVHTTPBody::seek(qint64 offset)
{
    if (offset < 0 || offset > m_size)
        return false;
    close();
    m_index = 0;
    while (m_index < m_segments.size() && offset >= m_segments[m_index].size) {
        offset -= m_segments[m_index].size;
        ++m_index;
    }
    m_offset = offset;
    return true;
}

qint64 BVHTTPBody::read(char *buffer, qint64 max)
{
    qint64 total = 0;
    while (total < max && m_index < m_segments.size()) {
        Segment &segment = m_segments[m_index];
        const qint64 wanted = std::min(max - total, segment.size - m_offset);
        qint64 got = 0;
        if (segment.path.isEmpty()) {
            memcpy(buffer + total, segment.data.constData() + m_offset, size_t(wanted));
            got = wanted;
        } else {
            if (!m_file) {
                m_file = std::make_unique<QFile>(segment.path);
                if (!m_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !m_file->seek(m_offset)) {
                    m_file.reset();
                    return -1;
                }
            }
            got = m_file->read(buffer + total, wanted);
            if (got <= 0)
                return -1; // read error, or the file shrank since the body was built
        }
        total += got;
        m_offset += got;
        if (m_offset == segment.size) {
            close();
            ++m_index;
            m_offset = 0;
        }
    }
    return total;
}

QByteArray BVHTTPBody::readAll()
{
    QByteArray all;
    if (!seek(0))
        return all;
    all.resize(m_size);
    const qint64 got = read(all.data(), m_size);
    all.resize(std::max<qint64>(got, 0));
    seek(0);
    return all;
}
