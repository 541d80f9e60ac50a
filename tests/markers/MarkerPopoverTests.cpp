// The marker popover: when closing commits, its states, and pictures of them.
#include "markers/BVMarkerPopover.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

BVMarker record(const QVariantMap &extra = {})
{
    QVariantMap entries {{BVMarkerKey::name, QStringLiteral("Marker 1")}, {BVMarkerKey::color, 2},
        {BVMarkerKey::canEdit, true}};
    entries.insert(extra);
    return BVMarkers::makeMarker(entries);
}

} // namespace

TEST(MarkerPopover, CommitRule)
{
    struct Case
    {
        const char *what;
        QVariantMap extra;
        QString label;
        int color;
        bool cloud;
        bool commits;
    };
    const QList<Case> cases {
        {"nothing changed", {}, "Marker 1", 2, false, false},
        {"label changed", {}, "Sky", 2, false, true},
        {"only the colour changed", {}, "Marker 1", 5, false, true},
        {"label cleared keeps the old name", {}, "", 5, false, false},
        {"cloud record not posted yet", {{BVMarkerKey::veloraID, -1}}, "Marker 1", 2, true, true},
        {"cloud record without an ID", {}, "Marker 1", 2, true, true},
        {"posted cloud record unchanged", {{BVMarkerKey::veloraID, 12}}, "Marker 1", 2, true, false},
        {"a local record with a stray ID of -1", {{BVMarkerKey::veloraID, -1}}, "Marker 1", 2, false, false},
    };
    for (const Case &c : cases) {
        const BVMarker m = record(c.extra);
        EXPECT_EQ(BVMarkerPopover::shouldCommit(*m, c.label, c.color, 2, c.cloud), c.commits) << c.what;
    }
}

TEST(MarkerPopover, DisplayOnlyThenEditingAndClosingStoresTheColour)
{
    QWidget host;
    host.resize(640, 200);
    BVMarkerPopover popover(&host);
    BVMarker m = record();
    QList<BVMarker> commits;
    QObject::connect(&popover, &BVMarkerPopover::commitRequested, [&](const BVMarker &r) { commits << r; });

    popover.showMarker(m, {320, 120}, true, false, false);
    EXPECT_TRUE(popover.isDisplayOnly());
    EXPECT_FALSE(popover.labelField()->isEnabled());
    EXPECT_TRUE(popover.colorPopUp()->isHidden());
    EXPECT_TRUE(popover.deleteButton()->isHidden());
    EXPECT_EQ(popover.labelField()->text(), QStringLiteral("Marker 1"));

    popover.editCurrentMarker();
    EXPECT_FALSE(popover.isDisplayOnly());
    EXPECT_TRUE(popover.labelField()->isEnabled());
    EXPECT_FALSE(popover.colorPopUp()->isHidden());
    EXPECT_EQ(popover.colorPopUp()->currentIndex(), 2);
    EXPECT_EQ(popover.colorPopUp()->count(), 11);
    popover.colorPopUp()->setCurrentIndex(6);
    Q_EMIT popover.colorPopUp()->activated(6);
    EXPECT_EQ(m->value(BVMarkerKey::color).toInt(), 6) << "applied at once";
    popover.closePopover();
    EXPECT_EQ(commits, QList<BVMarker> {m});
    EXPECT_EQ(m->value(BVMarkerKey::name).toString(), QStringLiteral("Marker 1"));

    // Clearing the label keeps the old name and commits nothing.
    commits.clear();
    popover.showMarker(m, {320, 120}, false, false, false);
    popover.labelField()->clear();
    popover.closePopover();
    EXPECT_TRUE(commits.isEmpty());
    EXPECT_EQ(m->value(BVMarkerKey::name).toString(), QStringLiteral("Marker 1"));
}

TEST(MarkerPopover, ChaptersAndOtherPeoplesCommentsAreLocked)
{
    QWidget host;
    BVMarkerPopover popover(&host);
    popover.showMarker(
        record({{BVMarkerKey::chapter, true}, {BVMarkerKey::canEdit, false}}), {}, false, false, false);
    EXPECT_FALSE(popover.labelField()->isEnabled());
    EXPECT_FALSE(popover.deleteButton()->isEnabled());
    EXPECT_EQ(popover.authorLabel()->text(), QStringLiteral("Chapters cannot be edited"));
    EXPECT_FALSE(popover.authorLabel()->isHidden());

    popover.showMarker(record({{BVMarkerKey::veloraID, 8}, {BVMarkerKey::veloraAuthor, QStringLiteral("Ann")},
                           {BVMarkerKey::veloraCurrentUser, false}, {BVMarkerKey::canEdit, false}}),
        {}, false, true, true);
    EXPECT_FALSE(popover.colorPopUp()->isEnabled());
    EXPECT_EQ(popover.authorLabel()->text(), QStringLiteral("Author: Ann"));
    EXPECT_TRUE(popover.annotateButton()->isHidden()) << "audio-only media";
}
