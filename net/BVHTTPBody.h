#pragma once

#include "support/BVError.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>
#include <vector>

// The body of a request as a sequence of in-memory bytes and files on disk. Files are read while
// sending, a block at a time, so a body of any size costs only the read buffer. Read and seek on
// one thread at a time (the network thread).
class BVHTTPBody
{
public:
    void clear();
    bool isEmpty() const { return m_segments.empty(); }
    void appendData(const QByteArray &data);
    // Adds a whole file; its size is taken now. Fails with "Failed to get attributes for file at
    // path '%@'" when it cannot be read.
    bool appendFile(const QString &path, BVError *error);
    qint64 size() const { return m_size; }

    // Reads up to max bytes from the current position: 0 at the end, -1 when a file cannot be
    // read or has become shorter than it was.
    qint64 read(char *buffer, qint64 max);
    bool seek(qint64 offset);
    // Closes the open file, if any; the next read reopens it.
    void close();
    // The whole body in memory; for tests and small bodies only.
    QByteArray readAll();

private:
    struct Segment
    {
        QByteArray data;
        QString path;
        qint64 size = 0;
    };
    std::vector<Segment> m_segments;
    qint64 m_size = 0;
    size_t m_index = 0;
    qint64 m_offset = 0;
    std::unique_ptr<QFile> m_file;
};
