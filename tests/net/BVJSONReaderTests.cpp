#include "net/BVJSON.h"

#include "BVNetTestPrinters.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QVariantList>
#include <QVariantMap>

namespace {

struct ErrorCase
{
    const char *input;
    int code;
    const char *message;
};

QString repeated(const char *piece, int count)
{
    return QString::fromLatin1(piece).repeated(count);
}

} // namespace

TEST(JSONReader, MalformedTextGivesExactMessageAndCode)
{
    const ErrorCase cases[] = {
        {"", 11, "Unexpected end of string"},
        {"   ", 11, "Unexpected end of string"},
        {"<html><body>502</body></html>", 3, "Unrecognised leading character"},
        {"+1", 2, "Leading + disallowed in number"},
        {"[1,]", 9, "Trailing comma disallowed in array"},
        {"{\"a\":1,}", 9, "Trailing comma disallowed in object"},
        {"[01]", 3, "Expected value while parsing array"},
        {"[1", 11, "End of input while parsing array"},
        {"[1,", 11, "End of input while parsing array"},
        {"{\"a\":1", 11, "End of input while parsing object"},
        {"{1:2}", 3, "Object key string expected"},
        {"{\"a\" 1}", 3, "Expected ':' separating key and value"},
        {"{\"key\":}", 3, "Object value expected for key: key"},
        {"[1 2]", 3, "Expected ',' or ']' while parsing array"},
        {"{\"a\":1 \"b\":2}", 3, "Expected ',' or '}' while parsing object"},
        {"{} x", 10, "Garbage after JSON"},
        {"[] []", 10, "Garbage after JSON"},
        {"\"text\"", 4, "Valid fragment, but not JSON"},
        {"42", 4, "Valid fragment, but not JSON"},
        {"[\f]", 3, "Expected value while parsing array"},
    };
    BVJSON json;
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.input);
        BVError error;
        const QVariant value = json.objectWithString(QString::fromUtf8(c.input), &error);
        EXPECT_FALSE(value.isValid());
        EXPECT_EQ(error.domain(), BVJSON::errorDomain);
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.localizedDescription(), QString::fromUtf8(c.message));
    }
}

TEST(JSONReader, InnerErrorIsTheCauseOfTheOuterMessage)
{
    // Each case: input, the outer message, then the chain of causes down to the root.
    const std::vector<std::vector<const char *>> cases = {
        {"01", "Leading 0 disallowed in number"},
        {"-", "No digits after initial minus"},
        {"[-]", "Expected value while parsing array", "No digits after initial minus"},
        {"[1.]", "Expected value while parsing array", "No digits after decimal point"},
        {"[1e]", "Expected value while parsing array", "No digits after exponent"},
        {"[tru]", "Expected value while parsing array", "Expected 'true'"},
        {"[fals]", "Expected value while parsing array", "Expected 'false'"},
        {"[nul]", "Expected value while parsing array", "Expected 'null'"},
        {"[\"a\\x\"]", "Expected value while parsing array", "Illegal escape sequence '0x78'"},
        {"[\"a\tb\"]", "Expected value while parsing array", "Unescaped control character '0x9'"},
        {"[\"abc", "Expected value while parsing array", "Unexpected EOF while parsing string"},
        {"[\"\\u12G4\"]", "Expected value while parsing array", "Broken unicode character",
            "Missing hex quad", "Missing hex digit in quad"},
        {"[\"\\u12", "Expected value while parsing array", "Broken unicode character", "Missing hex quad",
            "Missing hex digit in quad"},
        {"[\"\\uD800x\"]", "Expected value while parsing array", "Broken unicode character",
            "Missing low character in surrogate pair"},
        {"[\"\\uD800\\u0041\"]", "Expected value while parsing array", "Broken unicode character",
            "Invalid low surrogate char"},
        {"[\"\\uDC00\"]", "Expected value while parsing array", "Broken unicode character",
            "Invalid high character in surrogate pair"},
        {"{\"a\":{\"b\":[x]}}", "Object value expected for key: a", "Object value expected for key: b",
            "Expected value while parsing array", "Unrecognised leading character"},
        {"{\"a\tb\":1}", "Object key string expected", "Unescaped control character '0x9'"},
    };
    BVJSON json;
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        BVError error;
        EXPECT_FALSE(json.fragmentWithString(QString::fromUtf8(c[0]), &error).isValid());
        for (size_t i = 1; i < c.size(); ++i) {
            EXPECT_EQ(error.localizedDescription(), QString::fromUtf8(c[i]));
            error = BVJSON::underlyingError(error);
        }
        EXPECT_TRUE(error.isNull()) << "unexpected further cause " << error.description().toStdString();
    }
}

TEST(JSONReader, DepthLimitCountsNestedContainers)
{
    BVJSON json;
    EXPECT_EQ(json.maxDepth(), 512);
    BVError error;
    EXPECT_TRUE(json.objectWithString(repeated("[", 512) + repeated("]", 512), &error).isValid());
    EXPECT_FALSE(json.objectWithString(repeated("[", 513) + repeated("]", 513), &error).isValid());
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Expected value while parsing array"));
    EXPECT_EQ(BVJSON::rootCause(error).code(), int(BVJSON::TooDeep));
    EXPECT_EQ(BVJSON::rootCause(error).localizedDescription(), QStringLiteral("Nested too deep"));

    json.setMaxDepth(2);
    EXPECT_TRUE(json.objectWithString(QStringLiteral("{\"a\":[1]}"), &error).isValid());
    EXPECT_FALSE(json.objectWithString(QStringLiteral("{\"a\":[{}]}"), &error).isValid());
    EXPECT_EQ(BVJSON::rootCause(error).code(), int(BVJSON::TooDeep));

    // "No limit" still cannot recurse without bound.
    json.setMaxDepth(0);
    const int deep = BVJSON::hardDepthLimit + 1;
    EXPECT_FALSE(json.objectWithString(repeated("[", deep) + repeated("]", deep), &error).isValid());
    EXPECT_EQ(BVJSON::rootCause(error).code(), int(BVJSON::TooDeep));
}

TEST(JSONReader, FragmentsAreAcceptedOnlyByTheFragmentReader)
{
    BVJSON json;
    BVError error;
    EXPECT_EQ(json.fragmentWithString(QStringLiteral("\"text\""), &error), QVariant(QStringLiteral("text")));
    EXPECT_TRUE(error.isNull());
    EXPECT_EQ(json.fragmentWithString(QStringLiteral(" true "), &error), QVariant(true));
    EXPECT_EQ(json.fragmentWithString(QStringLiteral("null"), &error).typeId(), QMetaType::Nullptr);
    EXPECT_FALSE(BVJSON::JSONValue(QStringLiteral("\"text\"")).isValid());
    EXPECT_EQ(BVJSON::JSONValue(QStringLiteral("[1]")).toList().size(), 1);
}

TEST(JSONReader, NoInputIsReportedForANullPointerOnly)
{
    BVJSON json;
    BVError error;
    EXPECT_FALSE(json.objectWithData(nullptr, 0, &error).isValid());
    EXPECT_EQ(error.code(), 12);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Input was 'nil'"));
    // A null QString is an empty reply, which the service client must see as not JSON.
    EXPECT_FALSE(json.objectWithString(QString(), &error).isValid());
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Unexpected end of string"));
}

TEST(JSONReader, ValuesMapToQtTypes)
{
    BVJSON json;
    BVError error;
    const QVariant value = json.objectWithString(
        QStringLiteral(
            R"({"int":42,"neg":-7,"big":9223372036854775807,"huge":18446744073709551615,)"
            R"("bigger":18446744073709551616,"real":1.5,"exp":2E3,"tiny":1e-400,"t":true,"f":false,)"
            R"("n":null,"s":"a\"b\\c\/d\b\f\n\r\t\u00e9\uD834\uDD1E","list":[],"map":{}})"),
        &error);
    ASSERT_TRUE(value.isValid()) << error.description().toStdString();
    const QVariantMap map = value.toMap();
    EXPECT_EQ(map.value("int").typeId(), QMetaType::LongLong);
    EXPECT_EQ(map.value("int").toLongLong(), 42);
    EXPECT_EQ(map.value("neg").toLongLong(), -7);
    EXPECT_EQ(map.value("big").toLongLong(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(map.value("huge").typeId(), QMetaType::ULongLong);
    EXPECT_EQ(map.value("huge").toULongLong(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(map.value("bigger").typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(map.value("bigger").toDouble(), 18446744073709551616.0);
    EXPECT_EQ(map.value("real").typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(map.value("real").toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(map.value("exp").toDouble(), 2000.0);
    EXPECT_EQ(map.value("tiny").toDouble(), 0.0);
    EXPECT_EQ(map.value("t"), QVariant(true));
    EXPECT_EQ(map.value("f"), QVariant(false));
    EXPECT_EQ(map.value("n").typeId(), QMetaType::Nullptr);
    EXPECT_EQ(map.value("s").toString(), QString::fromUtf8("a\"b\\c/d\b\f\n\r\t\xc3\xa9\xf0\x9d\x84\x9e"));
    EXPECT_EQ(map.value("list").typeId(), QMetaType::QVariantList);
    EXPECT_EQ(map.value("map").typeId(), QMetaType::QVariantMap);
}

TEST(JSONReader, SurrogatePairsUpToTheLastLowSurrogateAreJoined)
{
    BVJSON json;
    EXPECT_EQ(json.fragmentWithString(QStringLiteral("\"\\uDBFF\\uDFFF\"")).toString().toUcs4(),
        QList<uint>({0x10FFFF}));
    EXPECT_EQ(json.fragmentWithString(QStringLiteral("\"\\ud83d\\ude00\"")).toString().toUcs4(),
        QList<uint>({0x1F600}));
}

TEST(JSONReader, NumbersTooLargeForADoubleAreRefused)
{
    BVJSON json;
    BVError error;
    EXPECT_FALSE(json.objectWithString(QStringLiteral("[1e400]"), &error).isValid());
    EXPECT_EQ(
        BVJSON::rootCause(error).localizedDescription(), QStringLiteral("Failed creating decimal instance"));
    EXPECT_EQ(BVJSON::rootCause(error).code(), 2);
}

TEST(JSONReader, InvalidUTF8BytesInAStringAreRefused)
{
    const QByteArray cases[] = {
        QByteArray("[\"\xff\"]"), QByteArray("[\"\xc0\xaf\"]"), // stray byte, overlong
        QByteArray("[\"\xed\xa0\x80\"]"), QByteArray("[\"\xf4\x90\x80\x80\"]"), // surrogate, > U+10FFFF
        QByteArray("[\"\xe2\x82\"]"), // truncated
    };
    BVJSON json;
    for (const QByteArray &bytes : cases) {
        BVError error;
        EXPECT_FALSE(json.objectWithData(bytes, &error).isValid()) << bytes.toHex().toStdString();
        EXPECT_EQ(BVJSON::rootCause(error).code(), int(BVJSON::MalformedUnicode));
    }
    EXPECT_EQ(json.objectWithData(QByteArray("[\"\xe2\x82\xac\"]")).toList().value(0).toString(),
        QString(QChar(0x20AC)));
}

TEST(JSONReader, ConformanceSuiteFilesAreHandledAsTheirPrefixSays)
{
    const QString folder = QStringLiteral(BV_SOURCE_DIR "/../shared/testdata/JSONTestSuite/test_parsing");
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    ASSERT_GT(files.size(), 300) << "conformance files missing in " << folder.toStdString();
    BVJSON json;
    int accepted = 0, rejected = 0, either = 0;
    for (const QString &name : files) {
        QFile file(folder + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray bytes = file.readAll();
        BVError error;
        const QVariant value = json.fragmentWithData(bytes, bytes.size(), &error);
        if (name.startsWith(QLatin1Char('y'))) {
            EXPECT_TRUE(value.isValid()) << name.toStdString() << ": " << error.description().toStdString();
            ++accepted;
        } else if (name.startsWith(QLatin1Char('n'))) {
            EXPECT_FALSE(value.isValid()) << name.toStdString() << " was accepted";
            EXPECT_FALSE(error.isNull()) << name.toStdString();
            ++rejected;
        } else {
            EXPECT_NE(value.isValid(), !error.isNull()) << name.toStdString();
            ++either;
        }
    }
    EXPECT_EQ(accepted, 95);
    EXPECT_EQ(rejected, 188);
    EXPECT_EQ(either, 35);
}

TEST(JSONReader, AKeyGivenTwiceKeepsItsLastValueInEveryRecord)
{
    struct Case
    {
        const char *input;
        QVariantMap expected;
    };
    const Case cases[] = {
        {R"({"a":1,"b":2,"a":3})", {{"a", 3}, {"b", 2}}},
        // The same key written plainly and escaped is one key.
        {R"({"a":1,"\u0061":2})", {{"a", 2}}},
        {R"({"\u0061":1,"a":2,"b":"x"})", {{"a", 2}, {"b", "x"}}},
        {R"({"z":1,"y":2,"z":3,"y":4,"x":5})", {{"x", 5}, {"y", 4}, {"z", 3}}},
    };
    BVJSON json;
    for (const Case &c : cases) {
        // Three records of the one shape: the key order found for the first serves the others.
        const QString record = QString::fromUtf8(c.input);
        BVError error;
        const QVariantList list
            = json.objectWithString(QLatin1Char('[') + QStringList(3, record).join(u',') + u']', &error)
                  .toList();
        ASSERT_EQ(list.size(), 3) << c.input << ": " << error.description().toStdString();
        for (const QVariant &item : list) {
            const QVariantMap map = item.toMap();
            EXPECT_EQ(map.keys(), c.expected.keys()) << c.input;
            for (auto it = c.expected.begin(); it != c.expected.end(); ++it)
                EXPECT_EQ(map.value(it.key()).toString(), it.value().toString())
                    << c.input << " " << it.key().toStdString();
        }
    }
}

TEST(JSONReader, RecordsWithTheirKeysInAnyOrderAndManyShapesReadAlike)
{
    // 300 shapes (more than are remembered), keys in a different order in every record, and an
    // object of 100 keys; the values name their keys so any mix-up shows.
    QStringList records;
    for (int i = 0; i < 300; ++i) {
        QStringList members;
        const int count = 1 + i % 7;
        for (int k = 0; k < count; ++k) {
            const int key = (k + i) % count + (i % 50) * 10;
            members.append(QStringLiteral("\"k%1\":\"v%1\"").arg(key));
        }
        records.append(u'{' + members.join(u',') + u'}');
    }
    QStringList wide;
    for (int k = 99; k >= 0; --k)
        wide.append(QStringLiteral("\"w%1\":%1").arg(k));
    records.append(u'{' + wide.join(u',') + u'}');

    BVJSON json;
    BVError error;
    const QVariantList list = json.objectWithString(u'[' + records.join(u',') + u']', &error).toList();
    ASSERT_EQ(list.size(), 301) << error.description().toStdString();
    for (int i = 0; i < 300; ++i) {
        const QVariantMap map = list[i].toMap();
        ASSERT_EQ(map.size(), 1 + i % 7) << i;
        for (auto it = map.begin(); it != map.end(); ++it)
            EXPECT_EQ(u'v' + it.key().mid(1), it.value().toString()) << i;
    }
    const QVariantMap wideMap = list[300].toMap();
    ASSERT_EQ(wideMap.size(), 100);
    for (auto it = wideMap.begin(); it != wideMap.end(); ++it)
        EXPECT_EQ(QStringLiteral("w%1").arg(it.value().toInt()), it.key());
}

TEST(JSONReader, NestedContainersKeepTheirOwnItems)
{
    BVJSON json;
    const QVariant value = json.objectWithString(
        QStringLiteral(R"({"b":[1,[2,3],{"c":[4],"a":{}},[]],"a":{"x":[5,{"y":6}]},"c":[]})"));
    const QVariantMap map = value.toMap();
    ASSERT_EQ(map.size(), 3);
    const QVariantList b = map.value("b").toList();
    ASSERT_EQ(b.size(), 4);
    EXPECT_EQ(b[0].toInt(), 1);
    EXPECT_EQ(b[1].toList(), QVariantList({2, 3}));
    EXPECT_EQ(b[2].toMap().value("c").toList(), QVariantList {QVariant(4)});
    EXPECT_EQ(b[2].toMap().value("a").typeId(), QMetaType::QVariantMap);
    EXPECT_TRUE(b[3].toList().isEmpty());
    const QVariantList x = map.value("a").toMap().value("x").toList();
    ASSERT_EQ(x.size(), 2);
    EXPECT_EQ(x[1].toMap().value("y").toInt(), 6);
    EXPECT_EQ(map.value("c").typeId(), QMetaType::QVariantList);
}

TEST(JSONReader, KeysDifferingFromThePreviousRecordAreReadAsWritten)
{
    struct Case
    {
        const char *input;
        const char *expected; // the records as the writer gives them back, keys sorted
    };
    const Case cases[] = {
        // Fewer, more, renamed and reordered keys than the record before.
        {R"([{"id":1,"name":"a"},{"id":2},{"id":3,"name":"c","x":true},{"name":"d","id":4}])",
            R"([{"id":1,"name":"a"},{"id":2},{"id":3,"name":"c","x":true},{"id":4,"name":"d"}])"},
        // Keys whose bytes start like the expected key, or that it starts like.
        {R"([{"id":1},{"idx":2},{"i":3},{"id\"":4},{"id":5}])",
            R"([{"id":1},{"idx":2},{"i":3},{"id\"":4},{"id":5}])"},
        // The same key spelled with an escape, and an escaped key followed by the plain one.
        {R"([{"a":1,"b":2},{"\u0061":3,"b":4},{"a":5,"b":6}])",
            R"([{"a":1,"b":2},{"a":3,"b":4},{"a":5,"b":6}])"},
        // Nested objects with the keys of their parent in another order.
        {R"([{"id":1,"o":{"name":"x","id":2}},{"id":3,"o":{"name":"y","id":4}},{"o":{"id":5},"id":6}])",
            R"([{"id":1,"o":{"id":2,"name":"x"}},{"id":3,"o":{"id":4,"name":"y"}},{"id":6,"o":{"id":5}}])"},
        // Objects at the same depth under arrays and objects alike.
        {R"([[{"a":1}],{"k":{"a":2}},[{"b":3}],{"k":{"b":4,"a":5}}])",
            R"([[{"a":1}],{"k":{"a":2}},[{"b":3}],{"k":{"a":5,"b":4}}])"},
        {R"([{"":1,"a":2},{"":3},{"a":4,"":5}])", R"([{"":1,"a":2},{"":3},{"":5,"a":4}])"},
    };
    BVJSON json;
    json.setSortKeys(true);
    for (const Case &c : cases) {
        BVError error;
        const QVariant value = json.objectWithData(QByteArray(c.input), &error);
        ASSERT_TRUE(value.isValid()) << c.input << ": " << error.description().toStdString();
        EXPECT_EQ(json.stringWithObject(value).toStdString(), c.expected);
    }
}

TEST(JSONReader, AKeyCutShortAfterARecordIsAnError)
{
    const ErrorCase cases[] = {
        {R"([{"ab":1},{"a)", BVJSON::EndOfInput, "Unexpected EOF while parsing string"},
        {R"([{"ab":1},{"ab)", BVJSON::EndOfInput, "Unexpected EOF while parsing string"},
        {R"([{"ab":1},{"ab")", BVJSON::MalformedInput, "Expected ':' separating key and value"},
        {R"([{"ab":1},{"ab":)", BVJSON::EndOfInput, "Unexpected end of string"},
    };
    for (const ErrorCase &c : cases) {
        BVError error;
        EXPECT_FALSE(BVJSON().objectWithData(QByteArray(c.input), &error).isValid()) << c.input;
        const BVError cause = BVJSON::rootCause(error);
        EXPECT_EQ(cause.code(), c.code) << c.input;
        EXPECT_EQ(cause.localizedDescription().toStdString(), c.message) << c.input;
    }
}

TEST(JSONReader, IntegersKeepTheirTypeAtEveryLength)
{
    struct Case
    {
        const char *text;
        QMetaType::Type type;
        const char *value; // as the writer gives it back
    };
    const Case cases[] = {
        {"0", QMetaType::LongLong, "0"},
        {"-0", QMetaType::LongLong, "0"},
        {"7", QMetaType::LongLong, "7"},
        {"-7", QMetaType::LongLong, "-7"},
        {"999999999999999999", QMetaType::LongLong, "999999999999999999"},
        {"-999999999999999999", QMetaType::LongLong, "-999999999999999999"},
        {"1000000000000000000", QMetaType::LongLong, "1000000000000000000"},
        {"9223372036854775807", QMetaType::LongLong, "9223372036854775807"},
        {"-9223372036854775808", QMetaType::LongLong, "-9223372036854775808"},
        {"9223372036854775808", QMetaType::ULongLong, "9223372036854775808"},
        {"18446744073709551615", QMetaType::ULongLong, "18446744073709551615"},
        {"-9223372036854775809", QMetaType::Double, nullptr},
        {"99999999999999999999", QMetaType::Double, nullptr},
        {"12.5", QMetaType::Double, nullptr},
        {"12e1", QMetaType::Double, nullptr},
    };
    BVJSON json;
    for (const Case &c : cases) {
        BVError error;
        const QVariant value = json.fragmentWithData(QByteArray(c.text), &error);
        ASSERT_TRUE(value.isValid()) << c.text << ": " << error.description().toStdString();
        EXPECT_EQ(value.typeId(), c.type) << c.text;
        if (c.value)
            EXPECT_EQ(json.stringWithFragment(value).toStdString(), c.value) << c.text;
        else
            EXPECT_DOUBLE_EQ(value.toDouble(), std::stod(c.text)) << c.text;
    }
}
