#pragma once

#include "support/BVError.h"

#include <QString>
#include <QVariant>

#include <string>
#include <string_view>
#include <unordered_map>

// The strict RFC 8259 reader behind BVJSON: one parse of UTF-8 bytes into Qt values, with the
// messages and codes the service client relies on. Recursive, bounded by the depth it is given.
class BVJSONReader
{
public:
    explicit BVJSONReader(int maxDepth)
        : m_maxDepth(maxDepth)
    { }

    // Answers an invalid QVariant and sets error on failure.
    QVariant parse(const char *data, qsizetype size, bool fragment, BVError *error);

private:
    bool scanValue(QVariant &out);
    bool scanRestOfArray(QVariant &out);
    bool scanRestOfObject(QVariant &out);
    bool scanRestOfString(QString &out);
    bool scanStringSlow(const char *start, QString &out);
    bool scanEscape();
    bool scanUnicodeChar();
    bool scanUTF8Sequence(const char *&p);
    bool scanHexQuad(char16_t &value);
    bool scanKey(QString &out);
    bool scanNumber(QVariant &out);
    bool scanLiteral(const char *rest, size_t length, const char *message);
    void skipWhitespace();
    bool atEnd() const { return m_c >= m_end; }
    void addError(int code, const QString &message);

    int m_maxDepth;
    int m_depth = 0;
    const char *m_c = nullptr;
    const char *m_end = nullptr;
    BVError m_error;
    bool m_failed = false;
    // Object keys repeat across the records of a reply: each distinct plain key is made once.
    std::unordered_map<std::string_view, QString> m_keys;
    // Decoding buffer of strings that need more than a plain copy.
    std::u16string m_buffer;
};
