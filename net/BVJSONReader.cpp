#include "net/BVJSONReader.h"

#include "net/BVJSON.h"
#include "support/BVFormat.h"

#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <map>

namespace {

// Bytes that end the plain copy of a string: the quote, the backslash, control characters and
// every byte of a multi-byte UTF-8 sequence.
constexpr std::array<bool, 256> makeStopTable()
{
    std::array<bool, 256> table {};
    for (int c = 0; c < 256; ++c)
        table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
    return table;
}
constexpr std::array<bool, 256> kStringStop = makeStopTable();

template<typename Word> Word loadWord(const char *bytes)
{
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// memcmp for the short runs of a key, without a call: two overlapping words cover 4 to 16 bytes.
inline bool sameBytes(const char *a, const char *b, size_t size)
{
    if (size >= 8 && size <= 16)
        return loadWord<uint64_t>(a) == loadWord<uint64_t>(b)
            && loadWord<uint64_t>(a + size - 8) == loadWord<uint64_t>(b + size - 8);
    if (size >= 4 && size < 8)
        return loadWord<uint32_t>(a) == loadWord<uint32_t>(b)
            && loadWord<uint32_t>(a + size - 4) == loadWord<uint32_t>(b + size - 4);
    if (size < 4) {
        for (size_t i = 0; i < size; ++i) {
            if (a[i] != b[i])
                return false;
        }
        return true;
    }
    return std::memcmp(a, b, size) == 0;
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static_assert(QTypeInfo<QVariant>::isRelocatable, "the reader's value stack moves QVariants as bytes");

// A QVariant holding value, constructed at slot, without QVariant's copy of the value: the copy
// and the release of the original would each touch the shared data's reference count.
template<typename T> void constructMoved(void *slot, T &&value)
{
    using Type = std::decay_t<T>;
    auto *variant = new (slot) QVariant(Type());
    std::swap(*static_cast<Type *>(variant->data()), value);
}

// strtod in the C locale, for the rare numbers from_chars reports out of range.
double parseDoubleC(const char *begin, const char *end)
{
    static locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    std::string text(begin, end);
    return strtod_l(text.c_str(), nullptr, cLocale);
}

} // namespace

QVariant BVJSONReader::parse(const char *data, qsizetype size, bool fragment, BVError *error)
{
    m_failed = false;
    m_error = BVError();
    m_depth = 0;
    QVariant value;
    bool ok = false;
    m_values.clear();
    if (!data) {
        addError(BVJSON::NoInput, QStringLiteral("Input was 'nil'"));
    } else {
        m_c = data;
        m_end = data + size;
        if (scanValue()) {
            value = std::move(valueAt(0));
            skipWhitespace();
            if (!atEnd()) {
                addError(BVJSON::TrailingGarbage, QStringLiteral("Garbage after JSON"));
            } else if (!fragment && value.typeId() != QMetaType::QVariantMap
                && value.typeId() != QMetaType::QVariantList) {
                addError(BVJSON::NotAnObjectOrArray, QStringLiteral("Valid fragment, but not JSON"));
            } else {
                ok = true;
            }
        }
    }
    m_keys.clear();
    m_keyOrders.clear();
    m_shapes.clear();
    m_memberKeys.clear();
    destroyValues(0);
    if (!ok) {
        if (error)
            *error = m_error;
        return {};
    }
    if (error)
        *error = BVError();
    return value;
}

void BVJSONReader::addError(int code, const QString &message)
{
    BVError outer = BVError::withDescription(BVJSON::errorDomain, code, message);
    if (m_failed)
        outer.userInfo().insert(BVJSON::underlyingErrorKey, QVariant::fromValue(m_error));
    m_error = std::move(outer);
    m_failed = true;
}

// The recursion keeps the messages' strings out of its own frames (they are built here), so that
// the deepest nesting allowed fits a thread's stack in every build.
void BVJSONReader::addError(int code, const char *message)
{
    addError(code, QString::fromLatin1(message));
}

void BVJSONReader::addValueError(const QString &key)
{
    addError(BVJSON::MalformedInput, BVFormat::format("Object value expected for key: %@", key));
}

bool BVJSONReader::scanStringValue()
{
    QString text;
    if (!scanRestOfString(text))
        return false;
    constructMoved(appendValue(), std::move(text));
    return true;
}

// Ends the values from base on (after a failure: those moved out are empty).
void BVJSONReader::destroyValues(size_t base)
{
    for (size_t i = base; i < m_values.size(); ++i)
        valueAt(i).~QVariant();
    m_values.resize(base);
}

// Reads one value and appends it to m_values.
bool BVJSONReader::scanValue()
{
    skipWhitespace();
    if (atEnd()) {
        addError(BVJSON::EndOfInput, "Unexpected end of string");
        return false;
    }
    switch (*m_c++) {
    case '{':
        return scanRestOfObject();
    case '[':
        return scanRestOfArray();
    case '"':
        return scanStringValue();
    case 't':
        if (!scanLiteral("rue", 3, "Expected 'true'"))
            return false;
        new (appendValue()) QVariant(true);
        return true;
    case 'f':
        if (!scanLiteral("alse", 4, "Expected 'false'"))
            return false;
        new (appendValue()) QVariant(false);
        return true;
    case 'n':
        if (!scanLiteral("ull", 3, "Expected 'null'"))
            return false;
        new (appendValue()) QVariant(QVariant::fromValue(nullptr));
        return true;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        --m_c;
        return scanNumber();
    case '+':
        addError(BVJSON::MalformedNumber, "Leading + disallowed in number");
        return false;
    default:
        addError(BVJSON::MalformedInput, "Unrecognised leading character");
        return false;
    }
}

bool BVJSONReader::scanLiteral(const char *rest, size_t length, const char *message)
{
    if (size_t(m_end - m_c) >= length && std::memcmp(m_c, rest, length) == 0) {
        m_c += length;
        return true;
    }
    addError(BVJSON::MalformedInput, QString::fromLatin1(message));
    return false;
}

bool BVJSONReader::scanRestOfArray()
{
    if (++m_depth > m_maxDepth) {
        addError(BVJSON::TooDeep, "Nested too deep");
        return false;
    }
    skipWhitespace();
    if (!atEnd() && *m_c == ']') {
        ++m_c;
        --m_depth;
        appendList(m_values.size());
        return true;
    }
    const size_t base = m_values.size();
    while (!atEnd()) {
        if (!scanValue()) {
            addError(BVJSON::MalformedInput, "Expected value while parsing array");
            return false;
        }
        skipWhitespace();
        if (atEnd())
            break;
        if (*m_c == ']') {
            ++m_c;
            --m_depth;
            appendList(base);
            return true;
        }
        if (*m_c != ',') {
            addError(BVJSON::MalformedInput, "Expected ',' or ']' while parsing array");
            return false;
        }
        ++m_c;
        skipWhitespace();
        if (!atEnd() && *m_c == ']') {
            addError(BVJSON::TrailingComma, "Trailing comma disallowed in array");
            return false;
        }
    }
    addError(BVJSON::EndOfInput, "End of input while parsing array");
    return false;
}

bool BVJSONReader::scanRestOfObject()
{
    if (++m_depth > m_maxDepth) {
        addError(BVJSON::TooDeep, "Nested too deep");
        return false;
    }
    skipWhitespace();
    if (!atEnd() && *m_c == '}') {
        ++m_c;
        --m_depth;
        appendEmptyMap();
        return true;
    }
    const size_t depth = size_t(m_depth);
    const size_t base = m_values.size();
    const size_t keyBase = m_memberKeys.size();
    // Whether every key so far is the one at its place in the previous object of this depth.
    bool sameShape = true;
    while (!atEnd()) {
        bool predicted = false;
        const KeyEntry *key = scanMemberKey(depth, m_memberKeys.size() - keyBase, predicted);
        if (!key)
            return false;
        sameShape = sameShape && predicted;
        skipWhitespace();
        if (atEnd() || *m_c != ':') {
            addError(BVJSON::MalformedInput, "Expected ':' separating key and value");
            return false;
        }
        ++m_c;
        if (!scanValue()) {
            addValueError(key->second);
            return false;
        }
        m_memberKeys.push_back(key);
        skipWhitespace();
        if (atEnd())
            break;
        if (*m_c == '}') {
            ++m_c;
            --m_depth;
            sameShape = sameShape && m_memberKeys.size() - keyBase == m_shapes[depth].keys.size();
            appendMap(base, closingShape(keyBase, sameShape), sameShape);
            return true;
        }
        if (*m_c != ',') {
            addError(BVJSON::MalformedInput, "Expected ',' or '}' while parsing object");
            return false;
        }
        ++m_c;
        skipWhitespace();
        if (!atEnd() && *m_c == '}') {
            addError(BVJSON::TrailingComma, "Trailing comma disallowed in object");
            return false;
        }
    }
    addError(BVJSON::EndOfInput, "End of input while parsing object");
    return false;
}

// The key of the member at position in an object at depth, or null after a failure; predicted
// tells whether it is the key at that place in the previous object of that depth.
const BVJSONReader::KeyEntry *BVJSONReader::scanMemberKey(size_t depth, size_t position, bool &predicted)
{
    if (m_shapes.size() <= depth)
        m_shapes.resize(depth + 1);
    const std::vector<const KeyEntry *> &previous = m_shapes[depth].keys;
    const KeyEntry *expected = position < previous.size() ? previous[position] : nullptr;
    const KeyEntry *key = nullptr;
    if (*m_c != '"' || (++m_c, !scanKey(expected, key))) {
        addError(BVJSON::MalformedInput, "Object key string expected");
        return nullptr;
    }
    predicted = key == expected;
    return key;
}

// The shape of the object closing at depth m_depth + 1, whose keys start at keyBase in
// m_memberKeys; it becomes the shape expected of the next object at that depth.
BVJSONReader::Shape &BVJSONReader::closingShape(size_t keyBase, bool sameShape)
{
    Shape &shape = m_shapes[size_t(m_depth) + 1];
    if (!sameShape) {
        const size_t count = m_memberKeys.size() - keyBase;
        shape.order = memberOrder(keyBase, count);
        shape.keys.assign(m_memberKeys.begin() + qsizetype(keyBase), m_memberKeys.end());
        shape.prototype.clear();
    }
    return shape;
}

// Replaces the values from base on with the list of them.
void BVJSONReader::appendList(size_t base)
{
    QVariantList list;
    list.reserve(qsizetype(m_values.size() - base));
    for (size_t i = base; i < m_values.size(); ++i)
        list.append(std::move(valueAt(i)));
    m_values.resize(base); // all moved out
    constructMoved(appendValue(), std::move(list));
}

void BVJSONReader::appendEmptyMap()
{
    new (appendValue()) QVariant(QVariantMap());
}

// Replaces the values from base on with the map of the members they are the values of (their keys
// end m_memberKeys), in the order of the shape's indices (ascending keys, the last of equal keys).
void BVJSONReader::appendMap(size_t base, Shape &shape, bool sameShape)
{
    const size_t count = m_values.size() - base;
    const size_t keyBase = m_memberKeys.size() - count;
    std::map<QString, QVariant> members;
    if (sameShape) {
        if (shape.prototype.empty()) {
            for (const uint32_t i : shape.order)
                shape.prototype.emplace_hint(
                    shape.prototype.end(), m_memberKeys[keyBase + i]->second, QVariant());
        }
        members = shape.prototype;
        auto member = members.begin();
        for (const uint32_t i : shape.order)
            (member++)->second = std::move(valueAt(base + i)); // a swap: the empty value stays behind
    } else {
        for (const uint32_t i : shape.order)
            members.emplace_hint(
                members.end(), m_memberKeys[keyBase + i]->second, std::move(valueAt(base + i)));
    }
    if (shape.order.size() == count)
        m_values.resize(base); // all moved out
    else
        destroyValues(base); // the earlier values of keys given twice
    m_memberKeys.resize(keyBase);
    QVariantMap map(std::move(members));
    constructMoved(appendValue(), std::move(map));
}

// Indices of the keys at base in m_memberKeys in ascending key order, the last of equal keys
// only. Objects of one reply share their keys, so the order is looked up by the keys' addresses
// and computed once per shape.
const std::vector<uint32_t> &BVJSONReader::memberOrder(size_t base, size_t count)
{
    constexpr size_t maxCachedKeys = 64;
    constexpr size_t maxCachedShapes = 256;
    const KeyEntry *const *keys = m_memberKeys.data() + base;
    uint64_t shape = count;
    for (size_t i = 0; i < count; ++i)
        shape = (shape ^ reinterpret_cast<uintptr_t>(keys[i])) * 0x100000001b3ULL;
    if (count <= maxCachedKeys) {
        const auto found = m_keyOrders.find(shape);
        if (found != m_keyOrders.end() && found->second.keys.size() == count
            && std::equal(keys, keys + count, found->second.keys.begin()))
            return found->second.order;
    }
    KeyOrder &computed = m_scratchOrder;
    computed.keys.assign(keys, keys + count);
    computed.order.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        computed.order[i] = i;
    std::stable_sort(computed.order.begin(), computed.order.end(),
        [keys](uint32_t a, uint32_t b) { return keys[a] != keys[b] && keys[a]->second < keys[b]->second; });
    // Equal keys are adjacent and in text order: keep the last of each run.
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const KeyEntry *key = keys[computed.order[i]];
        const KeyEntry *next = i + 1 < count ? keys[computed.order[i + 1]] : nullptr;
        // Different bytes may spell the same key ("a" and "\u0061").
        if (next && (next == key || next->second == key->second))
            continue;
        computed.order[kept++] = computed.order[i];
    }
    computed.order.resize(kept);
    if (count <= maxCachedKeys && m_keyOrders.size() < maxCachedShapes) {
        const auto [slot, inserted] = m_keyOrders.try_emplace(shape, computed);
        if (inserted)
            return slot->second.order;
    }
    return computed.order;
}

// m_c is just past the opening quote. The key expected at this place, when given, is tried first
// by its bytes: the same bytes before a quote are the same key.
bool BVJSONReader::scanKey(const KeyEntry *predicted, const KeyEntry *&out)
{
    if (predicted) {
        const std::string_view raw = predicted->first;
        if (size_t(m_end - m_c) > raw.size() && m_c[raw.size()] == '"'
            && sameBytes(m_c, raw.data(), raw.size())) {
            m_c += raw.size() + 1;
            out = predicted;
            return true;
        }
    }
    const char *start = m_c;
    const char *p = m_c;
    while (p < m_end && !kStringStop[static_cast<unsigned char>(*p)])
        ++p;
    if (p < m_end && *p == '"') {
        const std::string_view raw(start, size_t(p - start));
        m_c = p + 1;
        const auto found = m_keys.find(raw);
        out = found != m_keys.end() ? &*found : internKey(raw, QString::fromLatin1(start, p - start));
        return true;
    }
    QString key;
    if (!scanStringSlow(start, key))
        return false;
    out = internKey(std::string_view(start, size_t(m_c - 1 - start)), std::move(key));
    return true;
}

const BVJSONReader::KeyEntry *BVJSONReader::internKey(std::string_view raw, QString &&key)
{
    return &*m_keys.try_emplace(raw, std::move(key)).first;
}

bool BVJSONReader::scanRestOfString(QString &out)
{
    const char *start = m_c;
    const char *p = m_c;
    while (p < m_end && !kStringStop[static_cast<unsigned char>(*p)])
        ++p;
    if (p < m_end && *p == '"') {
        out = QString::fromLatin1(start, p - start);
        m_c = p + 1;
        return true;
    }
    return scanStringSlow(start, out);
}

bool BVJSONReader::scanStringSlow(const char *start, QString &out)
{
    m_buffer.clear();
    const char *p = start;
    while (p < m_end) {
        const auto ch = static_cast<unsigned char>(*p);
        if (ch == '"') {
            m_c = p + 1;
            out = QString(reinterpret_cast<const QChar *>(m_buffer.data()), qsizetype(m_buffer.size()));
            return true;
        }
        if (ch == '\\') {
            m_c = p + 1;
            if (!scanEscape())
                return false;
            p = m_c;
        } else if (ch < 0x20) {
            m_c = p;
            addError(BVJSON::ControlCharacter,
                BVFormat::format("Unescaped control character '0x%x'", unsigned(ch)));
            return false;
        } else if (ch < 0x80) {
            m_buffer.push_back(char16_t(ch));
            ++p;
        } else if (!scanUTF8Sequence(p)) {
            m_c = p;
            addError(BVJSON::MalformedUnicode, QStringLiteral("Invalid UTF-8 in string"));
            return false;
        }
    }
    m_c = m_end;
    addError(BVJSON::EndOfInput, QStringLiteral("Unexpected EOF while parsing string"));
    return false;
}

// Decodes one multi-byte sequence at p into the buffer and moves p past it; refuses overlong
// forms, surrogates and code points above U+10FFFF.
bool BVJSONReader::scanUTF8Sequence(const char *&p)
{
    const auto *s = reinterpret_cast<const unsigned char *>(p);
    const size_t available = size_t(m_end - p);
    const unsigned char b0 = s[0];
    int length = 0;
    char32_t cp = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            low = 0xA0;
        else if (b0 == 0xED)
            high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            low = 0x90;
        else if (b0 == 0xF4)
            high = 0x8F;
    } else {
        return false;
    }
    if (available < size_t(length))
        return false;
    for (int i = 1; i < length; ++i) {
        const unsigned char b = s[i];
        if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF))
            return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp >= 0x10000) {
        cp -= 0x10000;
        m_buffer.push_back(char16_t(0xD800 + (cp >> 10)));
        m_buffer.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
        m_buffer.push_back(char16_t(cp));
    }
    p += length;
    return true;
}

// m_c is just past the backslash.
bool BVJSONReader::scanEscape()
{
    if (atEnd()) {
        addError(BVJSON::EndOfInput, QStringLiteral("Unexpected EOF while parsing string"));
        return false;
    }
    const char e = *m_c++;
    switch (e) {
    case '"':
    case '\\':
    case '/':
        m_buffer.push_back(char16_t(e));
        return true;
    case 'b':
        m_buffer.push_back(u'\b');
        return true;
    case 'f':
        m_buffer.push_back(u'\f');
        return true;
    case 'n':
        m_buffer.push_back(u'\n');
        return true;
    case 'r':
        m_buffer.push_back(u'\r');
        return true;
    case 't':
        m_buffer.push_back(u'\t');
        return true;
    case 'u':
        if (!scanUnicodeChar()) {
            addError(BVJSON::MalformedUnicode, QStringLiteral("Broken unicode character"));
            return false;
        }
        return true;
    default:
        addError(BVJSON::IllegalEscape,
            BVFormat::format("Illegal escape sequence '0x%x'", unsigned(static_cast<unsigned char>(e))));
        return false;
    }
}

// m_c is just past "\u". A high surrogate must be followed by an escaped low one; the pair is
// kept as the two UTF-16 units of the one character it encodes.
bool BVJSONReader::scanUnicodeChar()
{
    char16_t hi = 0;
    if (!scanHexQuad(hi)) {
        addError(BVJSON::MalformedUnicode, QStringLiteral("Missing hex quad"));
        return false;
    }
    if (hi >= 0xD800 && hi < 0xDC00) {
        char16_t lo = 0;
        if (!(m_end - m_c >= 2 && m_c[0] == '\\' && m_c[1] == 'u')) {
            addError(BVJSON::MalformedUnicode, QStringLiteral("Missing low character in surrogate pair"));
            return false;
        }
        m_c += 2;
        if (!scanHexQuad(lo)) {
            addError(BVJSON::MalformedUnicode, QStringLiteral("Missing low character in surrogate pair"));
            return false;
        }
        if (lo < 0xDC00 || lo > 0xDFFF) {
            addError(BVJSON::MalformedUnicode, QStringLiteral("Invalid low surrogate char"));
            return false;
        }
        m_buffer.push_back(hi);
        m_buffer.push_back(lo);
        return true;
    }
    if (hi >= 0xDC00 && hi < 0xE000) {
        addError(BVJSON::MalformedUnicode, QStringLiteral("Invalid high character in surrogate pair"));
        return false;
    }
    m_buffer.push_back(hi);
    return true;
}

bool BVJSONReader::scanHexQuad(char16_t &value)
{
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = atEnd() ? -1 : hexValue(*m_c);
        if (digit < 0) {
            addError(BVJSON::MalformedUnicode, QStringLiteral("Missing hex digit in quad"));
            return false;
        }
        ++m_c;
        value = char16_t(value * 16 + digit);
    }
    return true;
}

bool BVJSONReader::scanNumber()
{
    const char *start = m_c;
    const bool negative = *m_c == '-';
    if (negative)
        ++m_c;
    const char *digits = m_c;
    // Up to 18 digits always fit in 64 bits: the usual integer is built here, without a second pass.
    uint64_t magnitude = 0;
    if (!atEnd() && *m_c == '0') {
        ++m_c;
        if (!atEnd() && isDigit(*m_c)) {
            addError(BVJSON::MalformedNumber, QStringLiteral("Leading 0 disallowed in number"));
            return false;
        }
    } else if (atEnd() || !isDigit(*m_c)) {
        addError(BVJSON::MalformedNumber, QStringLiteral("No digits after initial minus"));
        return false;
    } else {
        while (!atEnd() && isDigit(*m_c))
            magnitude = magnitude * 10 + uint64_t(*m_c++ - '0');
    }
    if ((atEnd() || (*m_c != '.' && *m_c != 'e' && *m_c != 'E')) && m_c - digits <= 18) {
        const auto value = qlonglong(magnitude);
        new (appendValue()) QVariant(negative ? -value : value);
        return true;
    }
    bool integral = true;
    if (!atEnd() && *m_c == '.') {
        integral = false;
        ++m_c;
        if (atEnd() || !isDigit(*m_c)) {
            addError(BVJSON::MalformedNumber, QStringLiteral("No digits after decimal point"));
            return false;
        }
        while (!atEnd() && isDigit(*m_c))
            ++m_c;
    }
    if (!atEnd() && (*m_c == 'e' || *m_c == 'E')) {
        integral = false;
        ++m_c;
        if (!atEnd() && (*m_c == '-' || *m_c == '+'))
            ++m_c;
        if (atEnd() || !isDigit(*m_c)) {
            addError(BVJSON::MalformedNumber, QStringLiteral("No digits after exponent"));
            return false;
        }
        while (!atEnd() && isDigit(*m_c))
            ++m_c;
    }
    if (integral) {
        int64_t i = 0;
        auto result = std::from_chars(start, m_c, i);
        if (result.ec == std::errc() && result.ptr == m_c) {
            new (appendValue()) QVariant(qlonglong(i));
            return true;
        }
        if (!negative) {
            uint64_t u = 0;
            result = std::from_chars(start, m_c, u);
            if (result.ec == std::errc() && result.ptr == m_c) {
                new (appendValue()) QVariant(qulonglong(u));
                return true;
            }
        }
    }
    double d = 0;
    const auto result = std::from_chars(start, m_c, d);
    if (result.ec == std::errc::result_out_of_range)
        d = parseDoubleC(start, m_c); // underflow gives zero, overflow infinity
    else if (result.ec != std::errc() || result.ptr != m_c)
        d = NAN;
    if (!std::isfinite(d)) {
        addError(BVJSON::MalformedNumber, QStringLiteral("Failed creating decimal instance"));
        return false;
    }
    new (appendValue()) QVariant(d);
    return true;
}
