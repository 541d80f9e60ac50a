#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable failure messages for Qt strings in assertions.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    if (bytes.size() > 512)
        *os << bytes.size() << " bytes";
    else
        *os << '"' << bytes.toStdString() << '"';
}
