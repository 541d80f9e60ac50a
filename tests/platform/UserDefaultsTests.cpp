#include "platform/defaults/BVPropertyList.h"
#include "platform/defaults/BVUserDefaults.h"
#include "support/BVLocalPaths.h"

#include "common/BVTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <thread>

namespace {

class UserDefaultsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        BVUserDefaults::resetAll();
        QDir(BVLocalPaths::prefsDirectory(true)).removeRecursively();
    }
    void TearDown() override { BVUserDefaults::resetAll(); }
};

} // namespace

TEST_F(UserDefaultsTest, StoredValuesLieOverRegisteredDefaults)
{
    BVUserDefaults *defaults = BVUserDefaults::defaultsForDomain("com.brightvane.test");
    defaults->registerDefaults({{"autoplay", true}, {"volume", 0.5}, {"timecodeDisplay", 0}});
    EXPECT_TRUE(defaults->boolForKey("autoplay"));
    EXPECT_DOUBLE_EQ(defaults->doubleForKey("volume"), 0.5);
    EXPECT_FALSE(defaults->hasStoredValue("autoplay"));

    defaults->setBool(false, "autoplay");
    defaults->setInteger(2, "timecodeDisplay");
    EXPECT_FALSE(defaults->boolForKey("autoplay"));
    EXPECT_EQ(defaults->integerForKey("timecodeDisplay"), 2);

    // Removing the stored value uncovers the registered default again.
    defaults->removeObjectForKey("autoplay");
    EXPECT_TRUE(defaults->boolForKey("autoplay"));
    // Unknown keys answer the type's empty value.
    EXPECT_EQ(defaults->stringForKey("missing"), QString());
    EXPECT_EQ(defaults->integerForKey("missing"), 0);
    EXPECT_TRUE(defaults->dictionaryForKey("missing").isEmpty());
}

TEST_F(UserDefaultsTest, NestedPerFileSettingsSurviveARoundTripThroughTheFile)
{
    const QString domain = "com.brightvane.roundtrip";
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000000, Qt::UTC);
    const QVariantMap marker {{"name", "Fix flicker"}, {"val", 1.25}, {"color", 3}, {"can_edit", true}};
    const QVariantMap entry {
        {"playbackPos",
            QVariantMap {{"value", qlonglong(-1234)}, {"timescale", 2398}, {"flags", 1}, {"epoch", 0}}},
        {"naturalWidth", 1920},
        {"markers", QVariantList {marker, marker}},
    };
    {
        BVUserDefaults *defaults = BVUserDefaults::defaultsForDomain(domain);
        defaults->setObject(QVariantMap {{"file:///media/clip%20one.mov", entry}}, "fileSettings");
        defaults->setObject(QByteArray("\x00\x01\xff", 3), "blob");
        defaults->setObject(when, "lastCheck");
        defaults->setObject(QVariantList {"a", 2, 3.5}, "list");
        defaults->setFloat(0.25f, "level");
        ASSERT_TRUE(defaults->synchronize());
    }
    BVUserDefaults::resetAll();
    BVUserDefaults *reread = BVUserDefaults::defaultsForDomain(domain);
    const QVariantMap settings = reread->dictionaryForKey("fileSettings");
    ASSERT_TRUE(settings.contains("file:///media/clip%20one.mov"));
    const QVariantMap back = settings.value("file:///media/clip%20one.mov").toMap();
    EXPECT_EQ(back.value("playbackPos").toMap().value("value").toLongLong(), -1234);
    EXPECT_EQ(back.value("naturalWidth").toLongLong(), 1920);
    const QVariantList markers = back.value("markers").toList();
    ASSERT_EQ(markers.size(), 2);
    EXPECT_EQ(markers[0].toMap().value("name").toString(), "Fix flicker");
    EXPECT_DOUBLE_EQ(markers[0].toMap().value("val").toDouble(), 1.25);
    EXPECT_TRUE(markers[1].toMap().value("can_edit").toBool());
    EXPECT_EQ(reread->dataForKey("blob"), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(reread->dateForKey("lastCheck"), when);
    EXPECT_EQ(reread->arrayForKey("list").size(), 3);
    EXPECT_FLOAT_EQ(reread->floatForKey("level"), 0.25f);
}

TEST_F(UserDefaultsTest, FileIsReplacedAtomicallyAndACorruptFileIsNotTrusted)
{
    const QString domain = "com.brightvane.atomic";
    BVUserDefaults *defaults = BVUserDefaults::defaultsForDomain(domain);
    defaults->setString("first", "key");
    ASSERT_TRUE(defaults->synchronize());
    const QString path = defaults->filePath();
    ASSERT_TRUE(QFileInfo::exists(path));
    EXPECT_TRUE(BVTest::readFile(path).startsWith("<?xml"));

    // Many concurrent changes: every save leaves a complete, parsable file and no temporary files.
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([defaults, t] {
            for (int i = 0; i < 200; ++i)
                defaults->setInteger(i, QStringLiteral("k%1").arg(t));
        });
    }
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(BVPropertyList::read(path).has_value());
    for (auto &w : writers)
        w.join();
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(BVPropertyList::readDictionary(path).value("k3").toInt(), 199);

    // A damaged file is not trusted: the defaults start empty instead of failing.
    BVUserDefaults::resetAll();
    ASSERT_TRUE(BVTest::writeFile(path, "<?xml version=\"1.0\"?><plist><dict><key>x</key>"));
    EXPECT_EQ(BVUserDefaults::defaultsForDomain(domain)->stringForKey("key"), QString());
}

TEST_F(UserDefaultsTest, PropertyListHelpersForSharedFiles)
{
    EXPECT_TRUE(BVPropertyList::globalPreferencesPath().endsWith("/Preferences/com.brightvane.global.plist"));
    EXPECT_TRUE(BVPropertyList::qcPreferencesPath().endsWith("/Preferences/com.brightvane.qc.plist"));
    EXPECT_TRUE(BVPropertyList::readDictionary(BVPropertyList::qcPreferencesPath()).isEmpty());
    ASSERT_TRUE(BVPropertyList::write(
        QVariantMap {{"logQC", false}, {"uid", "abc"}}, BVPropertyList::qcPreferencesPath()));
    const QVariantMap qc = BVPropertyList::readDictionary(BVPropertyList::qcPreferencesPath());
    EXPECT_EQ(qc.value("logQC").typeId(), QMetaType::Bool);
    EXPECT_FALSE(qc.value("logQC").toBool());
    // A file that holds an array is not a dictionary.
    const QString timecodes = BVTest::makeTempFolder() + "/timecode.plist";
    ASSERT_TRUE(BVPropertyList::write(QVariantList {1, 2}, timecodes));
    EXPECT_TRUE(BVPropertyList::readDictionary(timecodes).isEmpty());
    ASSERT_TRUE(BVPropertyList::write(QVariantMap {{"42", "01:00:00:00"}}, timecodes));
    EXPECT_EQ(BVPropertyList::readDictionary(timecodes).value("42").toString(), "01:00:00:00");
}
