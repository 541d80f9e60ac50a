// The per-file settings helper: one key scheme (the URL's absolute string, "velo://<id>" for a
// cloud file) and one read-modify-write that keeps every other key and every other file.
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVFileSettings.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

void clear()
{
    defaults()->removeObjectForKey(QStringLiteral("fileSettings"));
}

} // namespace

TEST(FileSettings, KeysAreTheAbsoluteURLStringOrTheCloudFileID)
{
    struct Case
    {
        QUrl url;
        QString key;
    };
    const QList<Case> cases {
        {QUrl::fromLocalFile(QStringLiteral("/media/reel 1/take.mov")),
            QStringLiteral("file:///media/reel%201/take.mov")},
        {QUrl(QStringLiteral("https://example.com/a b.mp4?x=1")),
            QStringLiteral("https://example.com/a%20b.mp4?x=1")},
        {QUrl::fromLocalFile(QStringLiteral("/media/caf\u00e9.mov")),
            QStringLiteral("file:///media/caf%C3%A9.mov")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BVFileSettings::keyForURL(c.url), c.key) << c.key.toStdString();
    EXPECT_EQ(BVFileSettings::keyForVeloFile(4711), QStringLiteral("velo://4711"));
}

TEST(FileSettings, AnUpdateChangesOnlyItsKeysOfOneEntry)
{
    clear();
    const QString take = QStringLiteral("file:///media/take.mov");
    const QString other = QStringLiteral("file:///media/other.mov");
    // What another writer (the markers) stored before.
    const QVariantList markers {QVariantMap {{QStringLiteral("name"), QStringLiteral("Cut")}}};
    defaults()->setObject(QVariantMap {{take,
                                           QVariantMap {{QStringLiteral("markers"), markers},
                                               {QStringLiteral("naturalWidth"), 640.0}}},
                              {other, QVariantMap {{QStringLiteral("playbackPos"), 7}}}},
        QStringLiteral("fileSettings"));

    BVFileSettings::updateEntry(
        take, {{QStringLiteral("playbackPos"), 3}, {QStringLiteral("naturalWidth"), 1920.0}});
    const QVariantMap expected {
        {take,
            QVariantMap {{QStringLiteral("markers"), markers}, {QStringLiteral("naturalWidth"), 1920.0},
                {QStringLiteral("playbackPos"), 3}}},
        {other, QVariantMap {{QStringLiteral("playbackPos"), 7}}}};
    EXPECT_EQ(defaults()->dictionaryForKey(QStringLiteral("fileSettings")), expected);

    // An invalid value removes its key; removing an entry keeps the others.
    BVFileSettings::updateEntry(take, {{QStringLiteral("naturalWidth"), QVariant()}});
    EXPECT_FALSE(BVFileSettings::entry(take).contains(QStringLiteral("naturalWidth")));
    EXPECT_EQ(BVFileSettings::entry(take).value(QStringLiteral("markers")), QVariant(markers));
    BVFileSettings::removeEntry(take);
    EXPECT_TRUE(BVFileSettings::entry(take).isEmpty());
    EXPECT_EQ(BVFileSettings::entry(other).value(QStringLiteral("playbackPos")).toInt(), 7);
}

TEST(FileSettings, WritersOnTwoThreadsDoNotLoseEachOthersKeys)
{
    clear();
    const QString key = QStringLiteral("file:///media/take.mov");
    auto writer = [&key](const QString &name) {
        for (int i = 0; i < 200; ++i)
            BVFileSettings::updateEntry(key, {{QStringLiteral("%1%2").arg(name).arg(i), i}});
    };
    std::thread a(writer, QStringLiteral("a"));
    std::thread b(writer, QStringLiteral("b"));
    a.join();
    b.join();
    EXPECT_EQ(BVFileSettings::entry(key).size(), 400);
}
