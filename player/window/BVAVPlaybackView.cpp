#include "player/window/BVAVPlaybackView.h"

#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/engine/MediaPlayer.h"
#include "player/window/BVAVPlaybackViewDelegate.h"
#include "player/window/BVSafeAreaOverlay.h"
#include "support/BVMainThread.h"
#include "support/BVNotificationCenter.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

const QString BVAVPlaybackView::mouseMoveNotification = QStringLiteral("BVReelmarkMouseMove");
const QString BVAVPlaybackView::updateBoundsNotification = QStringLiteral("BVReelmarkUpdateBounds");

BVAVPlaybackView::BVAVPlaybackView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("playbackView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(1, 1);
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    m_show43Safe = defaults->boolForKey(QStringLiteral("safe43Overlay"));
    m_show169Safe = defaults->boolForKey(QStringLiteral("safe169Overlay"));

    // Posted when the preferences window closes, possibly with new safe-area margins.
    BVNotificationCenter::defaultCenter().addObserver(
        this, updateBoundsNotification, nullptr, [this](const BVNotification &) {
            if (BVMainThread::isMainThread()) {
                updateBounds();
                return;
            }
            QPointer<BVAVPlaybackView> view(this);
            BVMainThread::async([view] {
                if (view)
                    view->updateBounds();
            });
        });
}

BVAVPlaybackView::~BVAVPlaybackView()
{
    BVNotificationCenter::defaultCenter().removeObserver(this);
    if (m_player)
        m_player->setFrameAvailableHandler({});
}

void BVAVPlaybackView::setPlayer(MediaPlayer *player)
{
    if (m_player == player)
        return;
    if (m_player)
        m_player->setFrameAvailableHandler({});
    m_player = player;
    if (m_player) {
        // Runs on the main thread, coalesced by the engine: one repaint per new picture.
        m_player->setFrameAvailableHandler([this] {
            update();
            if (m_delegate)
                m_delegate->pictureChanged(this);
        });
        clearImage();
    }
    setupLayer();
}

void BVAVPlaybackView::setupLayer()
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    updateOverlays();
}

void BVAVPlaybackView::setVideoFillMode(FillMode mode)
{
    if (m_fillMode == mode)
        return;
    m_fillMode = mode;
    updateOverlays();
}

void BVAVPlaybackView::renderImage(const QImage &image)
{
    {
        QMutexLocker lock(&m_imageMutex);
        m_image = image; // shares the pixels; no copy
        m_waveform = false;
        if (m_naturalSize.isEmpty() && !image.isNull())
            m_naturalSize = image.deviceIndependentSize();
    }
    if (BVMainThread::isMainThread()) {
        updateOverlays();
        return;
    }
    QPointer<BVAVPlaybackView> view(this);
    QMetaObject::invokeMethod(
        this,
        [view] {
            if (view)
                view->updateOverlays();
        },
        Qt::QueuedConnection);
}

void BVAVPlaybackView::showWaveformImage(const QImage &image)
{
    {
        QMutexLocker lock(&m_imageMutex);
        m_image = image;
        m_waveform = true;
    }
    update();
}

void BVAVPlaybackView::clearImage()
{
    QMutexLocker lock(&m_imageMutex);
    m_image = QImage();
    m_waveform = false;
}

QImage BVAVPlaybackView::currentImage() const
{
    QMutexLocker lock(&m_imageMutex);
    return m_image;
}

QSizeF BVAVPlaybackView::naturalSize() const
{
    QMutexLocker lock(&m_imageMutex);
    return m_naturalSize;
}

void BVAVPlaybackView::setNaturalSize(const QSizeF &size)
{
    {
        QMutexLocker lock(&m_imageMutex);
        m_naturalSize = size;
    }
    updateOverlays();
}

void BVAVPlaybackView::setPictureOrientation(const MediaPictureGeometry::Orientation &orientation)
{
    if (m_orientation == orientation)
        return;
    m_orientation = orientation;
    updateOverlays();
}

void BVAVPlaybackView::setNearestNeighbourZoom(bool nearest)
{
    if (m_nearestNeighbourZoom == nearest)
        return;
    m_nearestNeighbourZoom = nearest;
    update();
}

void BVAVPlaybackView::setAlphaCheckerboard(bool checkerboard)
{
    if (m_alphaCheckerboard == checkerboard)
        return;
    m_alphaCheckerboard = checkerboard;
    updateOverlays();
}

void BVAVPlaybackView::setDeinterlace(bool deinterlace)
{
    if (m_deinterlace == deinterlace)
        return;
    m_deinterlace = deinterlace;
    updatePictureOptions();
}

void BVAVPlaybackView::setMaskRatio(float ratio)
{
    m_maskRatio = ratio > 0 ? ratio : 0;
    updateBounds();
}

void BVAVPlaybackView::setRotation(int rotation)
{
    m_rotation = rotation;
    updateOverlays();
}

void BVAVPlaybackView::setSafeAreaOverlay(bool show43, bool show169)
{
    m_show43Safe = show43;
    m_show169Safe = show169;
    updateBounds();
}

QSizeF BVAVPlaybackView::pictureSize() const
{
    {
        QMutexLocker lock(&m_imageMutex);
        // An image (a sequence's frame) keeps its own shape, whatever size the first one had.
        if (!m_player && !m_image.isNull() && !m_waveform)
            return m_image.deviceIndependentSize();
        if (!m_naturalSize.isEmpty())
            return MediaPictureGeometry::orientedSize(m_naturalSize, m_orientation);
        if (!m_image.isNull())
            return m_image.deviceIndependentSize();
    }
    if (m_player) {
        if (std::shared_ptr<const QImage> image = m_player->currentImage())
            return image->size();
    }
    return {};
}

QRectF BVAVPlaybackView::videoRect() const
{
    const QRectF bounds(rect());
    bool waveform;
    {
        QMutexLocker lock(&m_imageMutex);
        waveform = m_waveform;
    }
    QSizeF picture = pictureSize();
    if (waveform || m_fillMode == FillMode::Resize || picture.isEmpty())
        return bounds;
    if (pictureSideways())
        picture.transpose();
    QSizeF size = picture.scaled(bounds.size(),
        m_fillMode == FillMode::AspectFill ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio);
    // On whole device pixels: a picture shown at its own size is then copied pixel for pixel
    // instead of resampled half a pixel off.
    const qreal ratio = devicePixelRatioF();
    size = QSizeF(std::round(size.width() * ratio) / ratio, std::round(size.height() * ratio) / ratio);
    const QPointF origin(std::floor((bounds.width() - size.width()) / 2 * ratio) / ratio,
        std::floor((bounds.height() - size.height()) / 2 * ratio) / ratio);
    return {bounds.topLeft() + origin, size};
}

QRectF BVAVPlaybackView::maskBoundsForRatio(double ratio) const
{
    if (!(ratio > 0))
        return QRectF(rect());
    // The matte crops the picture itself, so bars are measured on the video rectangle.
    const QRectF video = videoRect();
    const double cut = video.height() - video.width() / ratio;
    if (cut >= 0)
        return {video.x(), video.y() + cut / 2, video.width(), video.height() - cut};
    const double side = video.width() - ratio * video.height();
    return {video.x() + side / 2, video.y(), video.width() - side, video.height()};
}

void BVAVPlaybackView::updateBounds()
{
    updateOverlays();
}

void BVAVPlaybackView::updateBounds(const QRect &rect)
{
    setGeometry(rect);
    updateOverlays();
}

void BVAVPlaybackView::readSafeAreaSettings()
{
    if (!m_safeAreaOverlay)
        return;
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    auto fraction = [defaults](const char *key, double &target) {
        const QVariant value = defaults->objectForKey(QString::fromLatin1(key));
        bool ok = false;
        const double percent = value.toDouble(&ok);
        // Margins beyond half the picture would turn the frame inside out.
        if (value.isValid() && ok && percent >= 0 && percent < 50)
            target = percent / 100;
    };
    fraction("actionSafeH", m_safeAreaOverlay->actionSafeHorizontalDistance);
    fraction("actionSafeV", m_safeAreaOverlay->actionSafeVerticalDistance);
    fraction("titleSafeH", m_safeAreaOverlay->titleSafeHorizontalDistance);
    fraction("titleSafeV", m_safeAreaOverlay->titleSafeVerticalDistance);
}

void BVAVPlaybackView::updatePictureOptions()
{
    if (!m_player)
        return;
    MediaPictureOptions options;
    QSizeF shown = videoRect().size() * devicePixelRatioF();
    if (pictureSideways())
        shown.transpose();
    options.limit = QSize(int(std::round(shown.width())), int(std::round(shown.height())));
    if (options.limit.isEmpty())
        options.limit = QSize();
    options.checkerboard = m_alphaCheckerboard;
    options.deinterlace = m_deinterlace;
    m_player->setPictureOptions(options);
}

void BVAVPlaybackView::updateOverlays()
{
    updatePictureOptions();
    const QRect video = videoRect().toAlignedRect();
    if (m_show43Safe || m_show169Safe) {
        if (!m_safeAreaOverlay) {
            m_safeAreaOverlay = new BVSafeAreaOverlay(this);
            m_safeAreaOverlay->setObjectName(QStringLiteral("safeAreaOverlay"));
        }
        m_safeAreaOverlay->setShow43(m_show43Safe);
        m_safeAreaOverlay->setShow169(m_show169Safe);
        readSafeAreaSettings();
        m_safeAreaOverlay->setGeometry(video);
        m_safeAreaOverlay->show();
        m_safeAreaOverlay->raise();
        m_safeAreaOverlay->update();
    } else if (m_safeAreaOverlay) {
        delete m_safeAreaOverlay.data();
    }
    if (m_annotationLayer) {
        m_annotationLayer->setGeometry(video);
        m_annotationLayer->raise();
    }
    update();
}

void BVAVPlaybackView::setAnnotationLayer(QWidget *layer)
{
    if (m_annotationLayer == layer)
        return;
    delete m_annotationLayer.data();
    m_annotationLayer = layer;
    if (layer) {
        layer->setParent(this);
        layer->setObjectName(QStringLiteral("annotationLayer"));
        layer->setAttribute(Qt::WA_TranslucentBackground);
        layer->show();
    }
    updateOverlays();
}

void BVAVPlaybackView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);

    // The image is shared, not copied: the engine converted it off the main thread.
    std::shared_ptr<const QImage> playerImage;
    QImage ownImage;
    bool waveform;
    {
        QMutexLocker lock(&m_imageMutex);
        ownImage = m_image;
        waveform = m_waveform;
    }
    if (m_player && !waveform)
        playerImage = m_player->currentImage();
    const QImage *image = playerImage ? playerImage.get() : (ownImage.isNull() ? nullptr : &ownImage);
    if (!image || image->isNull())
        return;

    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (waveform) {
        painter.drawImage(QRectF(rect()), *image);
        return;
    }
    const QRectF target = videoRect();
    QSizeF drawSize = target.size();
    if (pictureSideways())
        drawSize.transpose();
    // Enlarged pixels stay sharp blocks when asked (so single pixels can be checked).
    const qreal ratio = devicePixelRatioF();
    if (m_nearestNeighbourZoom && drawSize.width() * ratio > image->width() + 0.5)
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (m_alphaCheckerboard && !playerImage && image->hasAlphaChannel()) {
        // The engine composites its own pictures; an image's transparency is shown here.
        const int square = 8;
        const QRect area = target.toAlignedRect();
        for (int y = area.top(); y <= area.bottom(); y += square)
            for (int x = area.left(); x <= area.right(); x += square)
                painter.fillRect(QRect(x, y, square, square).intersected(area),
                    ((x - area.left()) / square + (y - area.top()) / square) % 2 ? QColor(102, 102, 102)
                                                                                 : QColor(153, 153, 153));
    }
    painter.save();
    painter.translate(target.center());
    // The user's choice turns the upright picture (Qt turns clockwise for positive angles).
    switch (m_rotation) {
    case BVPictureRotation::RotationFlipHorizontal:
        painter.scale(-1, 1);
        break;
    case BVPictureRotation::Rotation270: // a quarter turn clockwise
        painter.rotate(90);
        break;
    case BVPictureRotation::Rotation90: // a quarter turn counter-clockwise
        painter.rotate(-90);
        break;
    default:
        break;
    }
    // The media's own orientation brings the stored picture upright first.
    if (m_orientation.quarterTurns)
        painter.rotate(90.0 * m_orientation.quarterTurns);
    if (m_orientation.mirrored)
        painter.scale(-1, 1);
    painter.drawImage(QRectF(QPointF(-drawSize.width() / 2, -drawSize.height() / 2), drawSize), *image);
    painter.restore();

    if (m_maskRatio > 0) {
        QPainterPath bars;
        bars.setFillRule(Qt::OddEvenFill);
        bars.addRect(QRectF(rect()));
        bars.addRect(maskBoundsForRatio(m_maskRatio));
        painter.fillPath(bars, Qt::black);
    }
}

void BVAVPlaybackView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateOverlays();
}

bool BVAVPlaybackView::event(QEvent *event)
{
    // Key equivalents (keys with Ctrl) are offered to the document before the menu shortcuts;
    // accepting the override makes Qt deliver the key here instead of to the shortcut. Every key
    // press with Ctrl is preceded by such an override, so the press itself is not offered again.
    if (event->type() == QEvent::ShortcutOverride && m_delegate) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & Qt::ControlModifier) {
            if (m_swallowKeyPress || m_delegate->keyDown(this, key)) {
                m_swallowKeyPress = true;
                event->accept();
                return true;
            }
        }
    }
    return QWidget::event(event);
}

void BVAVPlaybackView::keyPressEvent(QKeyEvent *event)
{
    if (m_swallowKeyPress) {
        m_swallowKeyPress = false;
        event->accept();
        return;
    }
    const bool offered = event->modifiers() & Qt::ControlModifier;
    if (m_delegate && !offered && m_delegate->keyDown(this, event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void BVAVPlaybackView::keyReleaseEvent(QKeyEvent *event)
{
    if (m_delegate && m_delegate->keyUp(this, event)) {
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void BVAVPlaybackView::mouseMoveEvent(QMouseEvent *event)
{
    BVNotificationCenter::defaultCenter().postNotification(mouseMoveNotification, this);
    if (m_delegate) {
        if (event->buttons() & Qt::LeftButton)
            m_delegate->mouseDragged(this, event);
        else
            m_delegate->mouseMoved(this, event);
    }
}

void BVAVPlaybackView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    if (m_delegate)
        m_delegate->mouseDown(this, event);
}

void BVAVPlaybackView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_delegate)
        m_delegate->mouseUp(this, event);
}
