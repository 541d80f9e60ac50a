#pragma once

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// Replays a checked-in corpus (a folder under tests/fuzz) through the fuzzer's own entry, so the
// inputs the fuzzer found stay covered in every build. Fails on fewer than `minimum` inputs, which
// would mean the corpus went missing.
inline void replayFuzzCorpus(const char *folder, qsizetype minimum)
{
    const QDir corpus(QStringLiteral(BV_SOURCE_DIR "/tests/fuzz/") + QLatin1String(folder));
    const QStringList names = corpus.entryList(QDir::Files);
    ASSERT_GE(names.size(), minimum);
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
