#include "markers/BVMarkersWindow.h"

#include "markers/BVMarkersTableModel.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

BVMarkersWindow::BVMarkersWindow(BVMarkerModel *markers, QWidget *parent)
    : QWidget(parent, Qt::Tool)
    , m_model(new BVMarkersTableModel(markers, this))
    , m_table(new QTableView)
{
    setObjectName(QStringLiteral("markerWindow"));
    m_table->setObjectName(QStringLiteral("markerTableView"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->setWordWrap(true);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(BVMarkersTableModel::Name, QHeaderView::Stretch);
    m_table->setColumnWidth(BVMarkersTableModel::Author, 80);
    m_table->setColumnWidth(BVMarkersTableModel::Timecode, 100);
    m_table->installEventFilter(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table);
    resize(460, 300);

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (BVMarker marker = selectedMarker())
            Q_EMIT markerSelected(marker);
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        connect(
            m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] {
                if (BVMarker marker = selectedMarker())
                    Q_EMIT markerSelected(marker);
            },
            Qt::UniqueConnection);
        updateRowHeights();
    });
    connect(
        m_table->horizontalHeader(), &QHeaderView::sectionResized, this, &BVMarkersWindow::updateRowHeights);
    updateRowHeights();
}

void BVMarkersWindow::setDocumentTitle(const QString &title)
{
    setWindowTitle(QStringLiteral("%1 - Markers").arg(title));
}

BVMarker BVMarkersWindow::selectedMarker() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? BVMarker() : m_model->markerAtRow(rows.first().row());
}

int BVMarkersWindow::heightOfRow(int row) const
{
    const QFontMetrics metrics(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    const QString name = m_model->data(m_model->index(row, BVMarkersTableModel::Name)).toString();
    const double available = std::max(1, m_table->columnWidth(BVMarkersTableModel::Name) - 55);
    const int lines = std::max(1, int(std::ceil(metrics.horizontalAdvance(name) / available)));
    return std::max(m_table->verticalHeader()->defaultSectionSize(), 18 * lines);
}

void BVMarkersWindow::updateRowHeights()
{
    for (int row = 0; row < m_model->rowCount(); ++row)
        m_table->setRowHeight(row, heightOfRow(row));
}

bool BVMarkersWindow::eventFilter(QObject *watched, QEvent *event)
{
    // While a cell is edited its editor has the keys; the table sees them only between edits.
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
            if (BVMarker marker = selectedMarker())
                Q_EMIT deleteRequested(marker);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void BVMarkersWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    Q_EMIT windowClosed();
}
