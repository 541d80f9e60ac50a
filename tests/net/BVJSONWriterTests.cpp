#include "net/BVJSON.h"

#include "BVNetTestPrinters.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>

TEST(JSONWriter, CompactOutputOfEveryType)
{
    const QVariantMap map {
        {"b", QVariantList {1, -2, qlonglong(1) << 40, 1.5, 0.1, true, false, QVariant::fromValue(nullptr)}},
        {"a", QStringLiteral("x")},
        {"c", QVariantMap {}},
        {"d", QVariantList {}},
        {"e", QVariant()},
    };
    BVError error;
    EXPECT_EQ(BVJSON().stringWithObject(map, &error),
        QStringLiteral(
            R"({"a":"x","b":[1,-2,1099511627776,1.5,0.1,true,false,null],"c":{},"d":[],"e":null})"));
    EXPECT_TRUE(error.isNull());
}

TEST(JSONWriter, StringsEscapeOnlyWhatJSONRequires)
{
    const QString text = QString::fromUtf8("q\" b\\ \b\t\n\f\r \x01\x1f / \xc3\xa9 \xf0\x9f\x98\x80");
    EXPECT_EQ(BVJSON().stringWithFragment(text),
        QString::fromUtf8(R"("q\" b\\ \b\t\n\f\r \u0001\u001f / )"
                          "\xc3\xa9 \xf0\x9f\x98\x80\""));
}

TEST(JSONWriter, HumanReadableIndentsTwoSpacesPerLevel)
{
    BVJSON json;
    json.setHumanReadable(true);
    const QVariantMap map {{"list", QVariantList {1, QVariantMap {{"k", "v"}}}}, {"empty", QVariantList {}}};
    EXPECT_EQ(json.stringWithObject(map),
        QStringLiteral("{\n  \"empty\" : [],\n  \"list\" : [\n    1,\n"
                       "    {\n      \"k\" : \"v\"\n    }\n  ]\n}"));
}

TEST(JSONWriter, SortKeysOrdersHashMembers)
{
    QVariantHash hash;
    for (const char *key : {"delta", "alpha", "charlie", "bravo", "echo"})
        hash.insert(QString::fromLatin1(key), 1);
    BVJSON json;
    json.setSortKeys(true);
    EXPECT_EQ(json.stringWithObject(hash),
        QStringLiteral(R"({"alpha":1,"bravo":1,"charlie":1,"delta":1,"echo":1})"));
}

TEST(JSONWriter, RefusesWhatJSONCannotHold)
{
    BVJSON json;
    BVError error;
    EXPECT_TRUE(json.stringWithObject(QStringLiteral("text"), &error).isNull());
    EXPECT_EQ(error.code(), 4);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Not valid type for JSON"));

    EXPECT_TRUE(json.stringWithObject(QVariantMap {{"when", QDateTime::currentDateTime()}}, &error).isNull());
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Unsupported value for key when in object"));
    EXPECT_EQ(BVJSON::underlyingError(error).localizedDescription(),
        QStringLiteral("JSON serialisation not supported for QDateTime"));

    for (double bad : {NAN, INFINITY, -INFINITY}) {
        EXPECT_TRUE(json.stringWithObject(QVariantList {bad}, &error).isNull());
        EXPECT_EQ(error.code(), 1);
    }
    EXPECT_TRUE(BVJSON::JSONRepresentation(QVariant(3)).isNull());

    QVariant deep = QVariantList {};
    for (int i = 0; i < 600; ++i)
        deep = QVariantList {deep};
    EXPECT_TRUE(json.stringWithObject(deep, &error).isNull());
    EXPECT_EQ(BVJSON::rootCause(error).code(), int(BVJSON::TooDeep));
}

TEST(JSONWriter, WrittenTextReadsBackToTheSameValue)
{
    const QVariantMap record {
        {"id", qlonglong(9007199254740993)},
        {"size", qulonglong(18446744073709551615ull)},
        {"fps", 23.976},
        {"tiny", 5e-324},
        {"name", QString::fromUtf8("Scène \"1\"\n\\ \xf0\x9f\x8e\xac")},
        {"ctrl", QString(QString(QChar(0)) + QChar(0x1f))},
        {"tags", QVariantList {"a", QVariantMap {{"nested", QVariantList {}}}, QVariant::fromValue(nullptr)}},
        {"ok", true},
    };
    for (bool readable : {false, true}) {
        BVJSON json;
        json.setHumanReadable(readable);
        BVError error;
        const QString text = json.stringWithObject(QVariantList {record, record}, &error);
        ASSERT_FALSE(text.isNull()) << error.description().toStdString();
        const QVariant back = json.objectWithString(text, &error);
        ASSERT_TRUE(back.isValid()) << error.description().toStdString();
        EXPECT_EQ(back, QVariant(QVariantList {record, record}));
        EXPECT_EQ(json.stringWithObject(back), text);
    }
}
