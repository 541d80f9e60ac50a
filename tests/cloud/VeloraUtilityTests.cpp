// The client's stateless helpers and the deployment settings it reads.
#include "VeloraTestSupport.h"

#include "cloud/BVVeloraDeployment.h"
#include "common/BVTestSupport.h"

#include <QDir>
#include <QImage>
#include <QSet>

#include <gtest/gtest.h>

TEST(VeloraUtilities, DigestsAreLowerCaseHexOfTheUtf8Bytes)
{
    // Known vectors of "abc".
    EXPECT_EQ(
        BVVelora::sha1(QStringLiteral("abc")), QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(BVVelora::sha512(QStringLiteral("abc")),
        QStringLiteral("ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"));
    EXPECT_EQ(BVVelora::sha512(QStringLiteral("é")).size(), 128);
    EXPECT_NE(BVVelora::sha512(QStringLiteral("é")), BVVelora::sha512(QStringLiteral("e")));
}

TEST(VeloraUtilities, RandomStringsUseTheAlphabetAndDoNotRepeat)
{
    const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
    QSet<QString> seen;
    QSet<QChar> characters;
    for (int i = 0; i < 200; ++i) {
        const QString text = BVVelora::randomString(32);
        ASSERT_EQ(text.size(), 32);
        for (const QChar c : text) {
            ASSERT_TRUE(alphabet.contains(c)) << text.toStdString();
            characters.insert(c);
        }
        seen.insert(text);
    }
    // Drawn within one clock tick they still differ, and every character turns up.
    EXPECT_EQ(seen.size(), 200);
    EXPECT_EQ(characters.size(), 36);
    EXPECT_TRUE(BVVelora::randomString(0).isEmpty());
}

TEST(VeloraUtilities, TextIsMadeSafeForNamesAndForms)
{
    EXPECT_EQ(BVVelora::sanitizeFilename(QStringLiteral("My Clip (v2)/ä.zip")),
        QStringLiteral("My_Clip__v2___.zip"));
    const struct
    {
        const char *in;
        const char *out;
    } parameters[] = {
        {"x&y=z?", "x%26y%3Dz%3F"},
        {"a b", "a%20b"},
        {"1+1", "1%2B1"},
        {"\"<q>\"", "%22%3Cq%3E%22"},
        {"100%", "100%25"},
        {"/path:here@#;,", "/path:here@#;,"},
        {"é", "%C3%A9"},
    };
    for (const auto &p : parameters)
        EXPECT_EQ(BVVelora::sanitizeURLParameter(QString::fromUtf8(p.in)), QString::fromLatin1(p.out))
            << p.in;
}

TEST(VeloraUtilities, FileKindsAndTypesFollowTheExtension)
{
    EXPECT_TRUE(BVVelora::isMovieFile(QStringLiteral("/a/b.MOV")));
    EXPECT_TRUE(BVVelora::isMovieFile(QStringLiteral("/a/b.mkv")));
    EXPECT_FALSE(BVVelora::isMovieFile(QStringLiteral("/a/b.wav")));
    EXPECT_TRUE(BVVelora::isAudioFile(QStringLiteral("/a/b.aiff")));
    EXPECT_TRUE(BVVelora::isImageFile(QStringLiteral("/a/b.tif")));
    EXPECT_FALSE(BVVelora::isImageFile(QStringLiteral("/a/b.txt")));
    EXPECT_EQ(BVVelora::fileMIMEType(QStringLiteral("/a/b.mp4")), QStringLiteral("video/mp4"));
    EXPECT_EQ(BVVelora::fileMIMEType(QStringLiteral("/a/b.unknownext")),
        QStringLiteral("application/octet-stream"));
}

TEST(VeloraUtilities, MetadataTextJoinsEveryFieldWithTheSeparator)
{
    EXPECT_EQ(BVVelora::metadataString({}), QString());
    EXPECT_EQ(BVVelora::metadataString({{"Title", "A"}}), QStringLiteral("Title<=|=>A"));
    EXPECT_EQ(BVVelora::metadataString({{"Title", "A"}, {"value", 3}}),
        QStringLiteral("Title<=|=>A<=|=>value<=|=>3"));
}

TEST(VeloraUtilities, ImagesAreScaledByTheirAspectRatio)
{
    QImage image(400, 100, QImage::Format_RGB32);
    image.fill(Qt::yellow);
    const QImage byWidth = QImage::fromData(BVVelora::resizeImage(image, 120, 0, "jpg", 0.8), "JPEG");
    EXPECT_EQ(byWidth.size(), QSize(120, 30));
    const QImage byHeight = QImage::fromData(BVVelora::resizeImage(image, 0, 50, "png", 1.0), "PNG");
    EXPECT_EQ(byHeight.size(), QSize(200, 50));
    EXPECT_TRUE(BVVelora::resizeImage(QImage(), 120, 0, "jpg", 0.8).isEmpty());
}

TEST(VeloraDeployment, SettingsComeFromTheEnvironmentOrTheSettingsFile)
{
    for (const char *name :
        {"VELORA_SITE_URL", "VELORA_STORAGE_ACCESS_KEY_ID", "VELORA_STORAGE_SECRET_ACCESS_KEY",
            "VELORA_STORAGE_HOST", "VELORA_STORAGE_SCHEME", "VELORA_WEBSOCKET_PORT"})
        qunsetenv(name);
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(BVTest::makeTempFolder(QStringLiteral("etc"))));
    EXPECT_TRUE(BVVeloraDeployment::publicSiteURLString().startsWith(QStringLiteral("https://")));
    EXPECT_EQ(BVVeloraDeployment::webSocketPort(), 8000);
    EXPECT_FALSE(BVVeloraDeployment::storageCredentials().isComplete());

    const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/brightvane");
    QDir().mkpath(folder);
    BVTest::writeFile(folder + QStringLiteral("/velora.conf"),
        "[service]\nsite = https://review.example.org\nwebsocket_port = 8443\n"
        "[storage]\naccess_key_id = AKFROMFILE0000000001\nsecret_access_key = secretfromfile\nscheme = "
        "http\n");
    EXPECT_EQ(BVVeloraDeployment::publicSiteURLString(), QStringLiteral("https://review.example.org"));
    EXPECT_EQ(BVVeloraDeployment::webSocketPort(), 8443);
    BVVeloraDeployment::StorageCredentials storage = BVVeloraDeployment::storageCredentials();
    EXPECT_EQ(storage.accessKeyID, QStringLiteral("AKFROMFILE0000000001"));
    EXPECT_EQ(storage.secretAccessKey, QStringLiteral("secretfromfile"));
    EXPECT_EQ(storage.scheme, QStringLiteral("http"));

    qputenv("VELORA_STORAGE_ACCESS_KEY_ID", "AKFROMENVIRONMENT001");
    qputenv("VELORA_SITE_URL", "https://other.example.org");
    EXPECT_EQ(BVVeloraDeployment::storageCredentials().accessKeyID, QStringLiteral("AKFROMENVIRONMENT001"));
    EXPECT_EQ(BVVeloraDeployment::publicSiteURLString(), QStringLiteral("https://other.example.org"));
    qunsetenv("VELORA_STORAGE_ACCESS_KEY_ID");
    qunsetenv("VELORA_SITE_URL");
    QFile::remove(folder + QStringLiteral("/velora.conf"));
}
