#include "markers/BVMarkerPopover.h"

#include "markers/BVMarkerColor.h"
#include "markers/BVMarkerView.h"
#include "support/BVNotificationCenter.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

const QString BVMarkerPopover::beginEditNotification = QStringLiteral("BVMarkerBeginEdit");

namespace {

QIcon swatch(int index)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    BVMarkerView::drawTag(painter, 2, 15, index);
    return QIcon(pixmap);
}

} // namespace

BVMarkerPopover::BVMarkerPopover(QWidget *parent)
    : QFrame(parent)
    , m_label(new QLineEdit)
    , m_color(new QComboBox)
    , m_delete(new QToolButton)
    , m_annotate(new QToolButton)
    , m_author(new QLabel)
{
    setObjectName(QStringLiteral("markerPopover"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_label->setObjectName(QStringLiteral("markerLabelText"));
    m_color->setObjectName(QStringLiteral("markerColorPopUp"));
    m_delete->setObjectName(QStringLiteral("markerDeleteBtn"));
    m_annotate->setObjectName(QStringLiteral("markerAnnotateBtn"));
    m_author->setObjectName(QStringLiteral("markerAuthorLabel"));
    const QStringList names = BVMarkerColor::names();
    for (int i = 0; i < names.size(); ++i)
        m_color->addItem(swatch(i), names.at(i));
    m_delete->setText(QStringLiteral("Delete"));
    m_delete->setToolTip(QStringLiteral("Delete Marker"));
    m_annotate->setToolTip(QStringLiteral("Annotate"));

    auto *row = new QHBoxLayout;
    row->addWidget(m_label, 1);
    row->addWidget(m_color);
    row->addWidget(m_annotate);
    row->addWidget(m_delete);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addLayout(row);
    layout->addWidget(m_author);
    m_author->hide();
    resize(360, sizeHint().height());

    connect(m_label, &QLineEdit::returnPressed, this, &BVMarkerPopover::closePopover);
    m_label->installEventFilter(this);
    connect(m_color, &QComboBox::activated, this, [this](int index) {
        if (!m_marker)
            return;
        m_marker->insert(BVMarkerKey::color, index);
        Q_EMIT colorChanged(m_marker, index);
    });
    connect(m_delete, &QToolButton::clicked, this, [this] {
        if (m_marker)
            Q_EMIT deleteRequested(m_marker);
    });
    connect(m_annotate, &QToolButton::clicked, this, [this] {
        if (m_marker)
            Q_EMIT annotateRequested(m_marker);
    });
    hide();
}

bool BVMarkerPopover::shouldCommit(
    const QVariantMap &record, const QString &label, int color, int openedColor, bool cloudFile)
{
    if (label.isEmpty())
        return false;
    const bool notPosted = cloudFile
        && (!record.contains(BVMarkerKey::veloraID)
            || record.value(BVMarkerKey::veloraID).toLongLong() == -1);
    return notPosted || label != record.value(BVMarkerKey::name).toString() || color != openedColor;
}

void BVMarkerPopover::showMarker(
    const BVMarker &marker, const QPoint &anchor, bool displayOnly, bool cloudFile, bool audioOnly)
{
    m_marker = marker;
    m_cloudFile = cloudFile;
    m_audioOnly = audioOnly;
    m_openedColor = BVMarkerColor::clamp(BVMarkers::colorIndexOf(*marker));
    {
        const QSignalBlocker labelBlocker(m_label);
        const QSignalBlocker colorBlocker(m_color);
        m_openedLabel = marker->value(BVMarkerKey::name).toString();
        m_label->setText(m_openedLabel);
        m_color->setCurrentIndex(m_openedColor);
    }
    for (QWidget *w : {static_cast<QWidget *>(m_label), static_cast<QWidget *>(m_color),
             static_cast<QWidget *>(m_delete), static_cast<QWidget *>(m_annotate)})
        w->setEnabled(true);
    m_author->hide();
    m_annotate->setVisible(!audioOnly);
    // Above the anchor, its point at the tag.
    move(std::max(0, anchor.x() - width() / 2), std::max(0, anchor.y() - height()));
    show();
    raise();
    if (displayOnly) {
        m_displayOnly = true;
        m_label->setReadOnly(true);
        m_label->setFrame(false);
        m_label->setEnabled(false);
        m_color->hide();
        m_delete->hide();
        m_annotate->hide();
    } else {
        editCurrentMarker();
    }
    if (marker->contains(BVMarkerKey::veloraID) && !marker->value(BVMarkerKey::veloraCurrentUser).toBool()) {
        m_author->setText(
            QStringLiteral("Author: %1").arg(marker->value(BVMarkerKey::veloraAuthor).toString()));
        m_author->show();
    }
}

void BVMarkerPopover::editCurrentMarker()
{
    if (!m_marker)
        return;
    m_displayOnly = false;
    m_label->setReadOnly(false);
    m_label->setFrame(true);
    m_label->setEnabled(true);
    m_color->show();
    m_delete->show();
    m_annotate->setVisible(!m_audioOnly);
    m_annotate->setText(BVMarkers::hasAnnotation(*m_marker, m_cloudFile) ? QStringLiteral("Remove Drawing")
                                                                         : QStringLiteral("Draw"));
    m_label->setFocus();
    applyLocks();
}

void BVMarkerPopover::applyLocks()
{
    const bool someoneElses = m_cloudFile && !m_marker->value(BVMarkerKey::canEdit).toBool();
    const bool chapter = BVMarkers::isChapter(*m_marker);
    if (!someoneElses && !chapter)
        return;
    for (QWidget *w : {static_cast<QWidget *>(m_label), static_cast<QWidget *>(m_color),
             static_cast<QWidget *>(m_delete), static_cast<QWidget *>(m_annotate)})
        w->setEnabled(false);
    m_author->setText(chapter
            ? QStringLiteral("Chapters cannot be edited")
            : QStringLiteral("Author: %1").arg(m_marker->value(BVMarkerKey::veloraAuthor).toString()));
    m_author->show();
}

void BVMarkerPopover::closePopover()
{
    const BVMarker marker = m_marker;
    hide();
    if (marker
        && shouldCommit(*marker, m_label->text(), m_color->currentIndex(), m_openedColor, m_cloudFile)) {
        marker->insert(BVMarkerKey::name, m_label->text());
        marker->insert(BVMarkerKey::color, m_color->currentIndex());
        Q_EMIT commitRequested(marker);
    }
    m_displayOnly = false;
    Q_EMIT closed(marker);
}

void BVMarkerPopover::dismissPopover()
{
    {
        const QSignalBlocker blocker(m_label);
        m_label->setText(m_openedLabel);
    }
    closePopover();
}

// Escape in the label dismisses the popover before any window shortcut on Escape can take it, so
// the keyboard goes back to the transport at once.
bool BVMarkerPopover::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_label && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
        && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier) {
        event->accept();
        if (event->type() == QEvent::KeyPress && isVisible())
            dismissPopover();
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void BVMarkerPopover::enterEvent(QEnterEvent *event)
{
    QFrame::enterEvent(event);
    if (m_displayOnly)
        BVNotificationCenter::defaultCenter().postNotification(beginEditNotification, this);
}
