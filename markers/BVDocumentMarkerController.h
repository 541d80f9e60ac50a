#pragma once

#include "markers/BVMarker.h"
#include "player/document/BVDocumentMarkers.h"

#include <QObject>
#include <QPointer>

#include <memory>

class BVDocument;
class BVDocumentAnnotationController;
class BVMarkerModel;
class BVMarkerPopover;
class BVMarkerView;
class BVMarkersWindow;
class QMenu;

// The markers of one player document: its marker list (a BVMarkerModel stored under the file's
// entry of "fileSettings"), the tag strip over the scrubber, the marker popover, the markers window,
// the Markers menu with the import and export panels, stepping between markers and pausing on them.
// The document reaches it through its markers slot; the window writes its widgets from the model's
// signals. Main thread.
class BVDocumentMarkerController : public QObject, public BVDocumentMarkers
{
    Q_OBJECT
public:
    // Installs the markers and the annotations of a document (its two slots), sharing one list.
    static void install(BVDocument &document);

    explicit BVDocumentMarkerController(BVDocument &document);
    ~BVDocumentMarkerController() override;

    // ---- The slot
    void loadMarkers() override;
    void addMarker() override;
    void prevMarker() override;
    void nextMarker() override;
    void deleteAllMarkers() override;
    void playheadMoved(const MediaTime &time) override;
    void displayModeChanged() override;
    void attachTimeline(QWidget *timelineArea, QWidget *window) override;
    QWidget *markersWindow() override;
    void cleanup() override;

    BVMarkerModel &model() { return *m_model; }
    BVDocument &document() { return m_document; }
    BVMarkerView *markerView() const;
    BVMarkerPopover *popover() const;
    BVMarkersWindow *window() const;
    void setAnnotations(BVDocumentAnnotationController *annotations) { m_annotations = annotations; }

    // `curMarkerDict`: the record the popover shows or that is being annotated.
    BVMarker currentMarker() const { return m_currentMarker; }
    void setCurrentMarker(const BVMarker &marker) { m_currentMarker = marker; }

    // ---- The popover
    void showMarkerEditViewForMarker(
        const BVMarker &marker, bool newMarker = false, bool displayOnly = false);
    void editCurrentMarker();
    // Closes the popover, committing by its rule.
    void closePopover();
    void markerClicked(const BVMarker &marker);
    void markerHover(const BVMarker &marker);

    // ---- Deleting (each asks first with a sheet on the player window)
    void deleteMarker(const BVMarker &marker);
    void deleteMarkerAction();

    // ---- Marker lists
    // The open panel, then importMarkersFromFile().
    void importMarkers();
    void importMarkersFromFile(const QString &path);
    // The save panel with its format pop-up, then exportMarkersToFile().
    void exportMarkers();
    bool exportMarkersToFile(const QString &path, int format);

    // Moves the playhead to a marker and, once there while paused, shows its annotation.
    void goToMarker(const BVMarker &marker);
    // The timeline draws the thinned list again.
    void refreshTimeline();

private:
    void syncModel();
    void observeNotifications();
    void layoutMarkerView();
    void stepToMarker(const BVMarker &marker);
    void buildMenu(QWidget *window);
    bool eventFilter(QObject *watched, QEvent *event) override;

    BVDocument &m_document;
    std::unique_ptr<BVMarkerModel> m_model;
    BVDocumentAnnotationController *m_annotations = nullptr;
    BVMarker m_currentMarker;
    QPointer<QWidget> m_timelineArea;
    QPointer<QWidget> m_playerWindow;
    QPointer<BVMarkerView> m_markerView;
    QPointer<BVMarkerPopover> m_popover;
    // Made here, owned by the player window once it takes it (markersWindow()).
    QPointer<BVMarkersWindow> m_window;
    QPointer<QMenu> m_menu;
    bool m_cleanedUp = false;
};
