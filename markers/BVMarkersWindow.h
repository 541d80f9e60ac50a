#pragma once

#include "markers/BVMarker.h"

#include <QWidget>

class BVMarkerModel;
class BVMarkersTableModel;
class QTableView;

// The markers window: the table of the document's markers. Backspace, Delete and forward delete
// ask to delete the first selected row's marker; selecting a row asks to go to its marker. Row
// heights fit the name column. Main thread.
class BVMarkersWindow : public QWidget
{
    Q_OBJECT
public:
    explicit BVMarkersWindow(BVMarkerModel *markers, QWidget *parent = nullptr);

    QTableView *tableView() const { return m_table; }
    BVMarkersTableModel *tableModel() const { return m_model; }
    // The record of the first selected row; none without a selection.
    BVMarker selectedMarker() const;
    // "%@ - Markers" with the document's title.
    void setDocumentTitle(const QString &title);
    // A row's height: the name measured in the system font, wrapped to the name column less 55.
    int heightOfRow(int row) const;

Q_SIGNALS:
    void deleteRequested(const BVMarker &marker);
    void markerSelected(const BVMarker &marker);
    // The window was closed by the user ("showMarkers" becomes false).
    void windowClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void updateRowHeights();

    BVMarkersTableModel *m_model;
    QTableView *m_table;
};
