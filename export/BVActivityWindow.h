#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QWidget>

class BVActivityController;
class BVActivityItem;
class QTableView;
class QTimer;

// The rows of the activity window, one per job; columns "icon", "description", "status", "cancel".
class BVActivityTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Icon = 0, Description, Status, Cancel, ColumnCount };
    // The item of a row, for the delegates.
    static constexpr int ItemRole = Qt::UserRole + 1;

    explicit BVActivityTableModel(BVActivityController *controller, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The column's identifier ("description" ...).
    static QString identifier(int column);
    BVActivityItem *itemAt(int row) const;
    void refresh();

private:
    BVActivityController *m_controller;
    int m_rows = 0;
};

// Draws a running job's bar with the estimate's time as subtitle (BVProgressIndicatorCell), the
// status words of the other jobs, and the cancel control or the tick of a finished job.
class BVProgressIndicatorCell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // Where the bar goes in a cell: (x, y - 1, w - 70, h - 2), 14 less high with a subtitle.
    static QRect barRect(const QRect &cell, bool hasSubtitle);
    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // Steps the indeterminate bars.
    void advance() { ++m_phase; }

private:
    int m_phase = 0;
};

class BVActivityCancelCell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit BVActivityCancelCell(BVActivityController *controller, QObject *parent = nullptr);
    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
        const QModelIndex &index) override;

private:
    BVActivityController *m_controller;
};

// The activity window: the table of jobs. Observes the controller.
class BVActivityWindow : public QWidget
{
    Q_OBJECT
public:
    explicit BVActivityWindow(BVActivityController *controller, QWidget *parent = nullptr);
    QTableView *tableView() const { return m_table; }
    BVActivityTableModel *model() const { return m_model; }

private:
    void refresh();

    BVActivityController *m_controller;
    BVActivityTableModel *m_model;
    QTableView *m_table;
    BVProgressIndicatorCell *m_progressCell;
    QTimer *m_animation;
};
