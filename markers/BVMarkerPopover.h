#pragma once

#include "markers/BVMarker.h"

#include <QFrame>
#include <QPointer>

class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

// The marker popover: label, colour pop-up, delete and annotate buttons and the author line, in
// one of three states: closed, display-only (read) and editing. Closing commits the label and
// colour by the commit rule. The pointer entering the display-only popover posts
// "BVMarkerBeginEdit". Main thread.
class BVMarkerPopover : public QFrame
{
    Q_OBJECT
public:
    static const QString beginEditNotification; // "BVMarkerBeginEdit"

    explicit BVMarkerPopover(QWidget *parent = nullptr);

    // Whether closing commits: a non-empty label and either a cloud record not posted yet, a
    // changed label or a colour other than the one the popover opened with.
    static bool shouldCommit(
        const QVariantMap &record, const QString &label, int color, int openedColor, bool cloudFile);

    // Opens for a record at an anchor (in the parent's coordinates), read-only or for editing.
    void showMarker(
        const BVMarker &marker, const QPoint &anchor, bool displayOnly, bool cloudFile, bool audioOnly);
    // Switches the open popover to editing (`editCurrentMarker`).
    void editCurrentMarker();
    // Closes it, committing when the rule says so (`popoverDidClose:`).
    void closePopover();
    // Closes it keeping the label it opened with (Escape); the colour stays as chosen.
    void dismissPopover();

    BVMarker marker() const { return m_marker; }
    bool isDisplayOnly() const { return m_displayOnly; }
    QLineEdit *labelField() const { return m_label; }
    QComboBox *colorPopUp() const { return m_color; }
    QLabel *authorLabel() const { return m_author; }
    QToolButton *deleteButton() const { return m_delete; }
    QToolButton *annotateButton() const { return m_annotate; }

Q_SIGNALS:
    // The colour pop-up changed the record's "color" (the tag strip redraws).
    void colorChanged(const BVMarker &marker, int color);
    void commitRequested(const BVMarker &marker);
    void deleteRequested(const BVMarker &marker);
    void annotateRequested(const BVMarker &marker);
    // The popover closed (after any commit).
    void closed(const BVMarker &marker);

protected:
    void enterEvent(QEnterEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyLocks();

    BVMarker m_marker;
    bool m_displayOnly = false;
    bool m_cloudFile = false;
    bool m_audioOnly = false;
    int m_openedColor = 0;
    QString m_openedLabel;
    QLineEdit *m_label;
    QComboBox *m_color;
    QToolButton *m_delete;
    QToolButton *m_annotate;
    QLabel *m_author;
};
