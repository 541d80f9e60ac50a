#pragma once

#include "support/BVError.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The strict RFC 8259 reader behind BVJSON: one parse of UTF-8 bytes into Qt values, with the
// messages and codes the service client relies on. Recursive, bounded by the depth it is given.
class BVJSONReader
{
    // Own type so the standard tables hash every lookup instead of comparing a short table's
    // entries one by one, as they do for the standard string hash.
    struct TextHash
    {
        size_t operator()(std::string_view text) const noexcept
        {
            return std::hash<std::string_view>()(text);
        }
    };

public:
    explicit BVJSONReader(int maxDepth)
        : m_maxDepth(maxDepth)
    { }

    // Answers an invalid QVariant and sets error on failure.
    QVariant parse(const char *data, qsizetype size, bool fragment, BVError *error);

private:
    // A key as read from the text (its bytes between the quotes) and as a string.
    using KeyEntry = std::pair<const std::string_view, QString>;
    // The keys of the object read last at each depth, in text order, with their sorted order.
    // Records of a reply list the same keys in the same order, so each key is first compared
    // with the one at its place in the record before, and the sorted order is taken over whole.
    struct Shape
    {
        std::vector<const KeyEntry *> keys;
        std::vector<uint32_t> order;
        // Once a second object has this shape: its members with empty values, copied whole for
        // the next ones (a copy of a tree takes no key comparison and no rebalancing).
        std::map<QString, QVariant> prototype;
    };

    bool scanValue();
    bool scanRestOfArray();
    bool scanRestOfObject();
    Q_NEVER_INLINE bool scanStringValue();
    bool scanRestOfString(QString &out);
    bool scanStringSlow(const char *start, QString &out);
    bool scanEscape();
    bool scanUnicodeChar();
    bool scanUTF8Sequence(const char *&p);
    bool scanHexQuad(char16_t &value);
    Q_NEVER_INLINE const KeyEntry *scanMemberKey(size_t depth, size_t position, bool &predicted);
    bool scanKey(const KeyEntry *predicted, const KeyEntry *&out);
    const KeyEntry *internKey(std::string_view raw, QString &&key);
    // The closing of containers, out of the recursion's frames.
    Q_NEVER_INLINE void appendMap(size_t base, Shape &shape, bool sameShape);
    Q_NEVER_INLINE void appendEmptyMap();
    Q_NEVER_INLINE void appendList(size_t base);
    // Room for the next value at the end of m_values, to construct a QVariant in.
    void *appendValue()
    {
        m_values.emplace_back();
        return m_values.back().bytes;
    }
    QVariant &valueAt(size_t index)
    {
        return *std::launder(reinterpret_cast<QVariant *>(m_values[index].bytes));
    }
    void destroyValues(size_t base);
    const std::vector<uint32_t> &memberOrder(size_t base, size_t count);
    Q_NEVER_INLINE Shape &closingShape(size_t keyBase, bool sameShape);
    bool scanNumber();
    bool scanLiteral(const char *rest, size_t length, const char *message);
    // RFC 8259 white space only: a form feed or vertical tab between tokens is malformed input.
    void skipWhitespace()
    {
        while (m_c < m_end && (*m_c == ' ' || *m_c == '\n' || *m_c == '\r' || *m_c == '\t'))
            ++m_c;
    }
    bool atEnd() const { return m_c >= m_end; }
    void addError(int code, const QString &message);
    Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void addError(int code, const char *message);
    Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void addValueError(const QString &key);

    int m_maxDepth;
    int m_depth = 0;
    const char *m_c = nullptr;
    const char *m_end = nullptr;
    BVError m_error;
    bool m_failed = false;
    // Object keys repeat across the records of a reply: each distinct key (by its bytes in the
    // text) is made once, so the records share its data and a key's address names it.
    std::unordered_map<std::string_view, QString, TextHash> m_keys;
    // Members and items of the containers being read, innermost last: a container's own run is
    // turned into its map or list in one go when it closes.
    std::vector<const KeyEntry *> m_memberKeys;
    // The values are QVariants the reader constructs in place and moves out of itself: a value
    // moved out (the usual end of each) is left empty and needs no destructor call, and the
    // storage moves as plain bytes when it grows, as Qt's own containers move QVariants.
    struct ValueSlot
    {
        alignas(QVariant) unsigned char bytes[sizeof(QVariant)];
    };
    std::vector<ValueSlot> m_values;
    // The key order of objects already seen (by their keys' addresses), sorted and without
    // duplicates, so a map is built by appending at its end instead of searching for each key.
    struct KeyOrder
    {
        std::vector<const KeyEntry *> keys;
        std::vector<uint32_t> order;
    };
    std::unordered_map<uint64_t, KeyOrder> m_keyOrders;
    // By depth (see Shape).
    std::vector<Shape> m_shapes;
    KeyOrder m_scratchOrder;
    // Decoding buffer of strings that need more than a plain copy.
    std::u16string m_buffer;
};
