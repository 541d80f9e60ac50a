#pragma once

#include "platform/media/MediaPictureGeometry.h"
#include "player/media/BVPictureRotation.h"
#include "player/window/BVSafeAreaOverlay.h"

#include <QImage>
#include <QMutex>
#include <QPointer>
#include <QWidget>

#include <memory>

class BVAVPlaybackViewDelegate;
class MediaPlayer;

// The picture of a player document: the engine's current picture for a movie, the last frame
// image of an image sequence, or the waveform image of an audio file; the widescreen matte over
// it, rotation and flip, the safe-area frames and a host for the annotation layer. Painted with
// QPainter on the raster engine. Create and use it on the main thread; renderImage() may be
// called from any thread.
class BVAVPlaybackView : public QWidget
{
    Q_OBJECT
public:
    // How the picture fills the view: whole and letterboxed, filling it cropped, or stretched.
    enum class FillMode { AspectFit, AspectFill, Resize };

    static const QString mouseMoveNotification; // "BVReelmarkMouseMove", sender = the view
    static const QString updateBoundsNotification; // "BVReelmarkUpdateBounds"

    explicit BVAVPlaybackView(QWidget *parent = nullptr);
    ~BVAVPlaybackView() override;

    BVAVPlaybackViewDelegate *delegate() const { return m_delegate; }
    // Not owned; the owner clears it before going away.
    void setDelegate(BVAVPlaybackViewDelegate *delegate) { m_delegate = delegate; }

    // Shows the player's pictures, redrawing whenever the engine has a new one. The view takes
    // the player's frame handler; call setPlayer(nullptr) before the player is destroyed.
    void setPlayer(MediaPlayer *player);
    MediaPlayer *player() const { return m_player; }
    void setupLayer();
    void setVideoFillMode(FillMode mode);
    FillMode videoFillMode() const { return m_fillMode; }

    // Shows an image (an image-sequence frame, or the waveform of an audio file) instead of the
    // player's picture. Callable from any thread; the view redraws on the main thread. The first
    // image gives the view its natural size.
    void renderImage(const QImage &image);
    // The waveform of an audio file: drawn stretched over the whole view.
    void showWaveformImage(const QImage &image);
    void clearImage();
    QImage currentImage() const;

    // The picture's display size, upright (pixel aspect and the media's orientation applied); the
    // document sets it for a movie.
    QSizeF naturalSize() const;
    void setNaturalSize(const QSizeF &size);
    // The turn and mirror the media's pictures need to stand upright; the user's rotation
    // (setRotation) comes on top.
    MediaPictureGeometry::Orientation pictureOrientation() const { return m_orientation; }
    void setPictureOrientation(const MediaPictureGeometry::Orientation &orientation);
    // Above 100 %, pixels are drawn as blocks (nearest neighbour) instead of smoothly.
    bool nearestNeighbourZoom() const { return m_nearestNeighbourZoom; }
    void setNearestNeighbourZoom(bool nearest);
    // Transparent pictures over a checkerboard instead of black.
    bool alphaCheckerboard() const { return m_alphaCheckerboard; }
    void setAlphaCheckerboard(bool checkerboard);
    // Interlaced pictures deinterlaced by the engine instead of shown with woven fields.
    bool deinterlace() const { return m_deinterlace; }
    void setDeinterlace(bool deinterlace);

    // Width / height of the widescreen matte; 0 means none. Applied by updateBounds().
    float maskRatio() const { return m_maskRatio; }
    void setMaskRatio(float ratio);
    int rotation() const { return m_rotation; }
    // Turns the picture by a "rotation" value: 1 none, 2 flip horizontally, 3 a turn of 270 degrees,
    // 4 a turn of 90 degrees, counter-clockwise; anything else none.
    void setRotation(int rotation);

    bool show43Safe() const { return m_show43Safe; }
    bool show169Safe() const { return m_show169Safe; }
    // Sets both safe-area flags and updates the bounds.
    void setSafeAreaOverlay(bool show43, bool show169);
    // The safe-area overlay while a flag is on; null when both are off.
    BVSafeAreaOverlay *safeAreaOverlay() const { return m_safeAreaOverlay; }

    // The rectangle of the displayed picture in view coordinates (after rotation).
    QRectF videoRect() const;
    // The part of the picture the matte leaves open for a ratio; the whole view for ratio <= 0.
    QRectF maskBoundsForRatio(double ratio) const;

    // Re-reads the safe-area margins and places the overlays (also on "BVReelmarkUpdateBounds").
    void updateBounds();
    void updateBounds(const QRect &rect);
    void updateOverlays();

    // The layer the annotation tools draw on: a transparent child kept over the picture. The view
    // owns it; null until one is installed.
    QWidget *annotationLayer() const { return m_annotationLayer; }
    void setAnnotationLayer(QWidget *layer);

    bool preservesContentDuringLiveResize() const { return true; }
    bool acceptsFirstResponder() const { return true; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // The size of the picture as stored (pixel aspect applied), before any turn: the natural size
    // for the engine's pictures, the image's own for an image (each keeps its own aspect).
    QSizeF pictureSize() const;
    bool rotatesSideways() const
    {
        return m_rotation == BVPictureRotation::Rotation90 || m_rotation == BVPictureRotation::Rotation270;
    }
    // The user's turn and the media's together turn the stored picture sideways.
    bool pictureSideways() const { return rotatesSideways() != m_orientation.isSideways(); }
    void readSafeAreaSettings();
    // Tells the engine the size its pictures are drawn at, in device pixels of the stored picture.
    void updatePictureOptions();

    BVAVPlaybackViewDelegate *m_delegate = nullptr;
    MediaPlayer *m_player = nullptr;
    FillMode m_fillMode = FillMode::AspectFit;

    mutable QMutex m_imageMutex; // guards m_image and m_naturalSize (renderImage from any thread)
    QImage m_image;
    QSizeF m_naturalSize;
    bool m_waveform = false;

    float m_maskRatio = 0;
    int m_rotation = BVPictureRotation::RotationNone;
    MediaPictureGeometry::Orientation m_orientation;
    bool m_nearestNeighbourZoom = false;
    bool m_alphaCheckerboard = false;
    bool m_deinterlace = false;
    bool m_show43Safe = false;
    bool m_show169Safe = false;
    QPointer<BVSafeAreaOverlay> m_safeAreaOverlay;
    QPointer<QWidget> m_annotationLayer;
    bool m_swallowKeyPress = false; // a key equivalent the delegate used: its key press follows
};
