// Replays the checked-in marker list corpus through the fuzzer's entry, in every build.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(MarkerListFuzz, ReplaysTheCorpusWithoutFaults)
{
    const QDir corpus(QStringLiteral(BV_SOURCE_DIR "/tests/fuzz/marker_corpus"));
    const QStringList names = corpus.entryList(QDir::Files);
    ASSERT_GE(names.size(), 5);
    for (const QString &name : names) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray bytes = file.readAll();
        EXPECT_EQ(LLVMFuzzerTestOneInput(
                      reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())),
            0)
            << name.toStdString();
    }
}
