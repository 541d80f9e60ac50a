#include "support/BVError.h"
#include "support/BVFormat.h"

#include <gtest/gtest.h>

TEST(Format, PlatformConventionsAndPrintfConversions)
{
    EXPECT_EQ(BVFormat::format("%0.2li:%0.2li:%0.2li", 1L, 2L, 30L), "01:02:30");
    EXPECT_EQ(BVFormat::format("%gx Reverse", 0.5), "0.5x Reverse");
    EXPECT_EQ(BVFormat::format("%gx Forward", 32.0), "32x Forward");
    EXPECT_EQ(BVFormat::format("%@ joined the session", QStringLiteral("Ana")), "Ana joined the session");
    EXPECT_EQ(BVFormat::format("%@###%i###%@", QStringLiteral("Ana"), 1, QStringLiteral("https://v.example")),
        "Ana###1###https://v.example");
    EXPECT_EQ(
        BVFormat::format("%@%@", QStringLiteral("Clip"), QStringLiteral(" (Version 2)")), "Clip (Version 2)");
    EXPECT_EQ(BVFormat::format("%0.2f GB, 100%%", 23.456), "23.46 GB, 100%");
    EXPECT_EQ(BVFormat::format("%s - %d", "abc", 7), "abc - 7");
    EXPECT_EQ(BVFormat::format("%5.1f|%-4d|%x", 3.14159, 42, 255), "  3.1|42  |ff");
    // A missing argument formats as empty or zero; a stray "%" is kept.
    EXPECT_EQ(BVFormat::format("%@ and %i", QStringLiteral("one")), "one and 0");
    EXPECT_EQ(BVFormat::format("done: 100%"), "done: 100%");
    EXPECT_EQ(BVFormat::format("%y stays"), "%y stays");
    // "%@" of numbers and lists.
    EXPECT_EQ(BVFormat::format("%@", QVariant(12)), "12");
    EXPECT_EQ(BVFormat::format("%@", QVariant(QVariantList {1, "a"})), "(\n    1,\n    a\n)");
}

TEST(Error, CarriesDomainCodeAndDescriptions)
{
    const BVError error = BVError::withDescription("BVVeloraErrorDomain", 401, "Wrong password",
        "The login was refused.", "Check the password in Preferences.");
    EXPECT_EQ(error.domain(), "BVVeloraErrorDomain");
    EXPECT_EQ(error.code(), 401);
    EXPECT_EQ(error.localizedDescription(), "Wrong password");
    EXPECT_EQ(error.localizedFailureReason(), "The login was refused.");
    EXPECT_EQ(error.localizedRecoverySuggestion(), "Check the password in Preferences.");
    EXPECT_FALSE(error.isNull());
    EXPECT_TRUE(BVError().isNull());
    EXPECT_FALSE(BVError("X", 3).localizedDescription().isEmpty());
}
