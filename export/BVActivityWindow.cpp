#include "export/BVActivityWindow.h"

#include "export/BVActivityController.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString statusText(const BVActivityItem &item)
{
    if (item.isCancelled())
        return QStringLiteral("Cancelled");
    switch (item.status()) {
    case BVActivityItem::Queued:
        return QStringLiteral("Queued");
    case BVActivityItem::Failed:
        return QStringLiteral("Error");
    default:
        return QString();
    }
}

bool isRunning(const BVActivityItem &item)
{
    return !item.isCancelled() && item.status() == BVActivityItem::Running;
}

} // namespace

BVActivityTableModel::BVActivityTableModel(BVActivityController *controller, QObject *parent)
    : QAbstractTableModel(parent)
    , m_controller(controller)
    , m_rows(int(controller->items().size()))
{ }

int BVActivityTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int BVActivityTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString BVActivityTableModel::identifier(int column)
{
    switch (column) {
    case Icon:
        return QStringLiteral("icon");
    case Description:
        return QStringLiteral("description");
    case Status:
        return QStringLiteral("status");
    case Cancel:
        return QStringLiteral("cancel");
    default:
        return QString();
    }
}

BVActivityItem *BVActivityTableModel::itemAt(int row) const
{
    const auto &items = m_controller->items();
    return row >= 0 && size_t(row) < items.size() ? items[size_t(row)].get() : nullptr;
}

QVariant BVActivityTableModel::data(const QModelIndex &index, int role) const
{
    BVActivityItem *item = itemAt(index.row());
    if (!item)
        return {};
    if (role == ItemRole)
        return QVariant::fromValue(static_cast<void *>(item));
    switch (index.column()) {
    case Icon:
        if (role == Qt::DecorationRole) {
            const QIcon icon = QApplication::windowIcon();
            return icon.isNull() ? QApplication::style()->standardIcon(QStyle::SP_MediaPlay) : icon;
        }
        break;
    case Description:
        if (role == Qt::DisplayRole)
            return item->description();
        break;
    case Status:
        if (role == Qt::DisplayRole)
            return isRunning(*item) ? item->timeEstimate().timeRemaining() : statusText(*item);
        break;
    default:
        break;
    }
    return {};
}

QVariant BVActivityTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Description:
        return QStringLiteral("Task");
    case Status:
        return QStringLiteral("Progress");
    default:
        return QString();
    }
}

void BVActivityTableModel::refresh()
{
    const int rows = int(m_controller->items().size());
    if (rows > m_rows) {
        beginInsertRows({}, m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
    if (m_rows > 0)
        Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, ColumnCount - 1));
}

QRect BVProgressIndicatorCell::barRect(const QRect &cell, bool hasSubtitle)
{
    return QRect(cell.x(), cell.y() - 1, cell.width() - 70, cell.height() - 2 - (hasSubtitle ? 14 : 0));
}

void BVProgressIndicatorCell::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    auto *item = static_cast<BVActivityItem *>(index.data(BVActivityTableModel::ItemRole).value<void *>());
    if (!item || !isRunning(*item)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QString subtitle = index.data(Qt::DisplayRole).toString();
    const QRect cell = option.rect.adjusted(4, 4, -4, 0);
    QStyleOptionProgressBar bar;
    bar.rect = barRect(cell, !subtitle.isEmpty()).adjusted(0, 1, 0, 1);
    bar.minimum = 0;
    bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
    if (item->isIndeterminate()) {
        // A busy bar: a block that walks across.
        bar.maximum = 100;
        bar.progress = (m_phase * 5) % 100;
    } else {
        bar.maximum = 1000;
        bar.progress = int(item->progress() / std::max(item->progressMaximum(), 1e-9) * 1000);
    }
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
    if (!subtitle.isEmpty()) {
        painter->save();
        painter->setPen(Qt::white);
        QFont font = painter->font();
        font.setPixelSize(11);
        painter->setFont(font);
        const QRect text(cell.x(), bar.rect.bottom() + 1, cell.width() - 8, 14);
        painter->drawText(text, Qt::AlignRight | Qt::AlignVCenter, subtitle);
        painter->restore();
    }
}

BVActivityCancelCell::BVActivityCancelCell(BVActivityController *controller, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_controller(controller)
{ }

void BVActivityCancelCell::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    auto *item = static_cast<BVActivityItem *>(index.data(BVActivityTableModel::ItemRole).value<void *>());
    if (!item || item->isCancelled())
        return; // an empty cell
    const bool finished = item->status() == BVActivityItem::Finished;
    const QIcon icon = QApplication::style()->standardIcon(
        finished ? QStyle::SP_DialogApplyButton : QStyle::SP_BrowserStop);
    const QRect target = QRect(0, 0, 16, 16).translated(option.rect.center() - QPoint(8, 8));
    icon.paint(painter, target);
}

bool BVActivityCancelCell::editorEvent(
    QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &, const QModelIndex &index)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    auto *item = static_cast<BVActivityItem *>(index.data(BVActivityTableModel::ItemRole).value<void *>());
    if (!item || item->isCancelled() || item->status() == BVActivityItem::Finished)
        return false;
    m_controller->cancelItemAtRow(index.row());
    return true;
}

BVActivityWindow::BVActivityWindow(BVActivityController *controller, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_controller(controller)
    , m_model(new BVActivityTableModel(controller, this))
    , m_table(new QTableView(this))
    , m_progressCell(new BVProgressIndicatorCell(this))
    , m_animation(new QTimer(this))
{
    setWindowTitle(QStringLiteral("Activity"));
    m_table->setModel(m_model);
    m_table->setItemDelegateForColumn(BVActivityTableModel::Status, m_progressCell);
    m_table->setItemDelegateForColumn(
        BVActivityTableModel::Cancel, new BVActivityCancelCell(controller, this));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(40);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setShowGrid(false);
    m_table->setIconSize(QSize(32, 32));
    // A dark table: the time left is written in white under the bar.
    QPalette palette = m_table->palette();
    palette.setColor(QPalette::Base, QColor(0x2b, 0x2b, 0x2b));
    palette.setColor(QPalette::Text, Qt::white);
    m_table->setPalette(palette);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(BVActivityTableModel::Icon, QHeaderView::Fixed);
    header->resizeSection(BVActivityTableModel::Icon, 40);
    header->setSectionResizeMode(BVActivityTableModel::Description, QHeaderView::Stretch);
    header->resizeSection(BVActivityTableModel::Status, 260);
    header->setSectionResizeMode(BVActivityTableModel::Cancel, QHeaderView::Fixed);
    header->resizeSection(BVActivityTableModel::Cancel, 32);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table);
    resize(620, 260);

    connect(controller, &BVActivityController::changed, this, &BVActivityWindow::refresh);
    // Running rows: the busy bar moves and the time left is read again.
    m_animation->setInterval(100);
    connect(m_animation, &QTimer::timeout, this, [this] {
        m_progressCell->advance();
        m_table->viewport()->update();
    });
    refresh();
}

void BVActivityWindow::refresh()
{
    m_model->refresh();
    bool running = false;
    for (const std::shared_ptr<BVActivityItem> &item : m_controller->items())
        running = running || isRunning(*item);
    if (running && !m_animation->isActive())
        m_animation->start();
    else if (!running)
        m_animation->stop();
}
