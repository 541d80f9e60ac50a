#include "export/BVInfoPanel.h"

#include "platform/defaults/BVUserDefaults.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const QString infoTypeKey = QStringLiteral("infoType");
const QString showInfoKey = QStringLiteral("showInfo");

} // namespace

int BVInfoTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(shownRows().size());
}

int BVInfoTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QString BVInfoTableModel::identifier(int column)
{
    return column == 0 ? QStringLiteral("description") : QStringLiteral("value");
}

const QVariantList &BVInfoTableModel::shownRows() const
{
    return BVUserDefaults::standardUserDefaults()->integerForKey(infoTypeKey) == 0 ? m_info : m_meta;
}

QVariant BVInfoTableModel::data(const QModelIndex &index, int role) const
{
    const QVariantList &rows = shownRows();
    if (index.row() < 0 || index.row() >= rows.size())
        return {};
    const QVariantMap row = rows.at(index.row()).toMap();
    const bool description = index.column() == 0;
    switch (role) {
    case Qt::DisplayRole:
        return row.value(identifier(index.column())); // a separator has neither entry
    case Qt::TextAlignmentRole:
        return description ? int(Qt::AlignRight | Qt::AlignVCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::FontRole: {
        QFont font;
        font.setPointSize(11);
        font.setBold(description);
        return font;
    }
    case Qt::ForegroundRole:
        return QColor(Qt::white);
    default:
        return {};
    }
}

Qt::ItemFlags BVInfoTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void BVInfoTableModel::setRows(const QVariantList &infoArray, const QVariantList &metaArray)
{
    beginResetModel();
    m_info = infoArray;
    m_meta = metaArray;
    endResetModel();
}

void BVInfoTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

BVInfoPanel::BVInfoPanel(QWidget *parent)
    : QWidget(parent, Qt::Tool)
    , m_model(new BVInfoTableModel(this))
    , m_table(new QTableView(this))
    , m_infoType(new QComboBox(this))
{
    setObjectName(QStringLiteral("infoPanel"));
    m_table->setObjectName(QStringLiteral("infoTableView"));
    m_table->setModel(m_model);
    m_table->horizontalHeader()->hide();
    m_table->verticalHeader()->hide();
    m_table->setShowGrid(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->resizeSection(0, 170);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->setDefaultSectionSize(20);
    QPalette palette = m_table->palette();
    palette.setColor(QPalette::Base, QColor(0x26, 0x26, 0x26));
    m_table->setPalette(palette);
    m_infoType->addItems({QStringLiteral("Information"), QStringLiteral("Metadata")});
    m_infoType->setCurrentIndex(
        BVUserDefaults::standardUserDefaults()->integerForKey(infoTypeKey) == 0 ? 0 : 1);
    connect(m_infoType, &QComboBox::activated, this, [this](int index) {
        BVUserDefaults::standardUserDefaults()->setInteger(index, infoTypeKey);
        m_model->reload();
    });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_infoType);
    layout->addWidget(m_table);
    resize(420, 460);
}

void BVInfoPanel::populateInfo(const BVMediaInfoSource &source)
{
    showRows(BVMediaInfo::infoRows(source), BVMediaInfo::metadataRows(source));
}

void BVInfoPanel::showRows(const QVariantList &infoArray, const std::optional<QVariantList> &metaArray)
{
    m_model->setRows(infoArray, metaArray ? *metaArray : m_model->metaArray());
    const QSignalBlocker blocker(m_infoType);
    m_infoType->setCurrentIndex(
        BVUserDefaults::standardUserDefaults()->integerForKey(infoTypeKey) == 0 ? 0 : 1);
}

void BVInfoPanel::toggleInfo(const QString &title)
{
    setWindowTitle(QStringLiteral("%1 - Info").arg(title));
    const bool show = !isVisible();
    setVisible(show);
    BVUserDefaults::standardUserDefaults()->setBool(show, showInfoKey);
}

void BVInfoPanel::closeEvent(QCloseEvent *event)
{
    BVUserDefaults::standardUserDefaults()->setBool(false, showInfoKey);
    QWidget::closeEvent(event);
}
