#pragma once

#include "platform/media/MediaFormatDescription.h"
#include "platform/media/MediaFrameIndex.h"
#include "platform/media/MediaPictureGeometry.h"
#include "platform/media/MediaTime.h"

#include <QList>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <memory>

// Media types of tracks, as the platform names them.
namespace MediaType {
inline const QString video = QStringLiteral("vide");
inline const QString audio = QStringLiteral("soun");
inline const QString timecode = QStringLiteral("tmcd");
inline const QString subtitle = QStringLiteral("sbtl");
inline const QString closedCaption = QStringLiteral("clcp");
inline const QString metadata = QStringLiteral("meta");
inline const QString muxed = QStringLiteral("muxx");
inline const QString text = QStringLiteral("text");
} // namespace MediaType

// One track of an asset, as found when the asset loaded: a plain value. streamIndex() is the
// track's stream in the container, used by the reader.
class MediaTrack
{
public:
    MediaTrack() = default;

    int32_t trackID() const { return m_trackID; }
    void setTrackID(int32_t trackID) { m_trackID = trackID; }
    int streamIndex() const { return m_streamIndex; }
    void setStreamIndex(int index) { m_streamIndex = index; }
    const QString &mediaType() const { return m_mediaType; }
    void setMediaType(const QString &type) { m_mediaType = type; }
    bool isValid() const { return m_streamIndex >= 0; }

    const QList<MediaFormatDescription> &formatDescriptions() const { return m_formatDescriptions; }
    void setFormatDescriptions(const QList<MediaFormatDescription> &descriptions)
    {
        m_formatDescriptions = descriptions;
    }
    // Display size of the picture (sample aspect ratio applied, before the preferred orientation);
    // zero for non-video tracks.
    QSizeF naturalSize() const { return m_naturalSize; }
    void setNaturalSize(const QSizeF &size) { m_naturalSize = size; }
    // The turn and mirror the track's display matrix asks for; the identity when it has none.
    const MediaPictureGeometry::Orientation &preferredOrientation() const { return m_orientation; }
    void setPreferredOrientation(const MediaPictureGeometry::Orientation &orientation)
    {
        m_orientation = orientation;
    }
    // The natural size once oriented: the size the picture is shown at.
    QSizeF orientedSize() const { return MediaPictureGeometry::orientedSize(m_naturalSize, m_orientation); }
    // Frames per second the track is meant to play at; 0 for non-video tracks.
    float nominalFrameRate() const { return m_nominalFrameRate; }
    void setNominalFrameRate(float rate) { m_nominalFrameRate = rate; }
    // Exact frame rate as a fraction (30000/1001 ...); 0/0 when unknown.
    int frameRateNumerator() const { return m_rateNum; }
    int frameRateDenominator() const { return m_rateDen; }
    void setFrameRate(int numerator, int denominator)
    {
        m_rateNum = numerator;
        m_rateDen = denominator;
    }
    // A picture track whose frames do not come at a constant rate: its real frames (the frame
    // rule of the track), and frameRate() is then the rate its timecode counts in. None for
    // constant-rate video and other tracks.
    const std::shared_ptr<const MediaFrameIndex> &frameIndex() const { return m_frameIndex; }
    void setFrameIndex(std::shared_ptr<const MediaFrameIndex> index) { m_frameIndex = std::move(index); }
    bool hasVariableFrameRate() const { return m_frameIndex != nullptr; }
    // Frames per second on average; 0 for non-video tracks.
    double averageFrameRate() const { return m_averageFrameRate; }
    void setAverageFrameRate(double rate) { m_averageFrameRate = rate; }
    const MediaTimeRange &timeRange() const { return m_timeRange; }
    void setTimeRange(const MediaTimeRange &range) { m_timeRange = range; }
    // Bits per second; 0 when unknown.
    float estimatedDataRate() const { return m_estimatedDataRate; }
    void setEstimatedDataRate(float rate) { m_estimatedDataRate = rate; }
    const QString &languageCode() const { return m_languageCode; }
    void setLanguageCode(const QString &code) { m_languageCode = code; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    bool operator==(const MediaTrack &other) const
    {
        return m_trackID == other.m_trackID && m_streamIndex == other.m_streamIndex;
    }

private:
    int32_t m_trackID = 0;
    int m_streamIndex = -1;
    QString m_mediaType;
    QList<MediaFormatDescription> m_formatDescriptions;
    QSizeF m_naturalSize;
    MediaPictureGeometry::Orientation m_orientation;
    float m_nominalFrameRate = 0;
    int m_rateNum = 0;
    int m_rateDen = 0;
    std::shared_ptr<const MediaFrameIndex> m_frameIndex;
    double m_averageFrameRate = 0;
    MediaTimeRange m_timeRange;
    float m_estimatedDataRate = 0;
    QString m_languageCode;
    bool m_enabled = true;
};
