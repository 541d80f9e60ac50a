#pragma once

#include "export/BVMediaInfo.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QWidget>

class QComboBox;
class QTableView;

// The rows of the information table: infoArray or metaArray as "infoType" selects (0 information,
// anything else metadata). Columns "description" and "value"; rows cannot be edited.
class BVInfoTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    static QString identifier(int column);

    void setRows(const QVariantList &infoArray, const QVariantList &metaArray);
    const QVariantList &infoArray() const { return m_info; }
    const QVariantList &metaArray() const { return m_meta; }
    // The list shown, read from "infoType" each time.
    const QVariantList &shownRows() const;
    void reload();

private:
    QVariantList m_info;
    QVariantList m_meta;
};

// The information panel of a document (`infoPanel` with `infoTableView`). Main thread.
class BVInfoPanel : public QWidget
{
    Q_OBJECT
public:
    explicit BVInfoPanel(QWidget *parent = nullptr);

    // Rebuilds both lists (the metadata list only for a local movie) and reloads the table.
    void populateInfo(const BVMediaInfoSource &source);
    // Shows rows built elsewhere (on a background queue); no metadata list keeps the previous one.
    void showRows(const QVariantList &infoArray, const std::optional<QVariantList> &metaArray);
    // Shows the panel titled "<title> - Info" when hidden, hides it when shown; keeps "showInfo".
    void toggleInfo(const QString &title);
    QTableView *infoTableView() const { return m_table; }
    BVInfoTableModel *model() const { return m_model; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    BVInfoTableModel *m_model;
    QTableView *m_table;
    QComboBox *m_infoType;
};
