#include "platform/media/MediaAssetProbe.h"

#include "platform/media/MediaFrameIndex.h"
#include "support/BVLog.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/bswap.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>
#include <mutex>
#include <vector>

const QString MediaAssetProbe::errorDomain = QStringLiteral("MediaAssetErrorDomain");

namespace {

constexpr uint32_t fourCC(const char (&code)[5])
{
    return MediaFormatDescription::fourCC(code);
}

int interruptCallback(void *opaque)
{
    const auto *cancel = static_cast<const std::atomic<bool> *>(opaque);
    return cancel && cancel->load() ? 1 : 0;
}

MediaTime timeInBase(int64_t value, AVRational base)
{
    if (value == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0)
        return MediaTime::invalid();
    return MediaTime(value * base.num, base.den);
}

uint32_t readBigEndian32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
}

// The common key a container tag maps to; empty when it maps to none.
QString commonKeyForTag(QString tag)
{
    static const QHash<QString, QString> keys {
        {QStringLiteral("title"), QStringLiteral("title")},
        {QStringLiteral("artist"), QStringLiteral("artist")},
        {QStringLiteral("author"), QStringLiteral("author")},
        {QStringLiteral("album"), QStringLiteral("albumName")},
        {QStringLiteral("description"), QStringLiteral("description")},
        {QStringLiteral("synopsis"), QStringLiteral("description")},
        {QStringLiteral("comment"), QStringLiteral("description")},
        {QStringLiteral("copyright"), QStringLiteral("copyright")},
        {QStringLiteral("creation_time"), QStringLiteral("creationDate")},
        {QStringLiteral("creationdate"), QStringLiteral("creationDate")},
        {QStringLiteral("date"), QStringLiteral("creationDate")},
        {QStringLiteral("composer"), QStringLiteral("creator")},
        {QStringLiteral("encoder"), QStringLiteral("software")},
        {QStringLiteral("software"), QStringLiteral("software")},
        {QStringLiteral("publisher"), QStringLiteral("publisher")},
        {QStringLiteral("language"), QStringLiteral("language")},
        {QStringLiteral("location"), QStringLiteral("location")},
        {QStringLiteral("location.iso6709"), QStringLiteral("location")},
        {QStringLiteral("genre"), QStringLiteral("type")},
        {QStringLiteral("make"), QStringLiteral("make")},
        {QStringLiteral("model"), QStringLiteral("model")},
    };
    tag = tag.toLower();
    if (tag.startsWith(QLatin1String("com.apple.quicktime.")))
        tag = tag.mid(20);
    return keys.value(tag);
}

QString videoFormatName(const AVCodecParameters *par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_H264:
        return QStringLiteral("H.264");
    case AV_CODEC_ID_HEVC:
        return QStringLiteral("HEVC");
    case AV_CODEC_ID_MJPEG:
        return QStringLiteral("Photo - JPEG");
    case AV_CODEC_ID_PRORES:
        return QStringLiteral("Apple ProRes");
    default:
        break;
    }
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(par->codec_id);
    return descriptor && descriptor->long_name ? QString::fromUtf8(descriptor->long_name) : QString();
}

uint32_t videoSubType(const AVCodecParameters *par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_H264:
        return par->codec_tag ? uint32_t(av_bswap32(par->codec_tag)) : fourCC("avc1");
    case AV_CODEC_ID_HEVC:
        return par->codec_tag ? uint32_t(av_bswap32(par->codec_tag)) : fourCC("hvc1");
    case AV_CODEC_ID_MJPEG:
        return fourCC("jpeg");
    default:
        return par->codec_tag ? uint32_t(av_bswap32(par->codec_tag)) : 0;
    }
}

uint32_t audioFormatID(const AVCodecParameters *par)
{
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(par->codec_id);
    if (descriptor && QByteArray(descriptor->name).startsWith("pcm_"))
        return fourCC("lpcm");
    switch (par->codec_id) {
    case AV_CODEC_ID_AAC:
        return fourCC("aac ");
    case AV_CODEC_ID_MP3:
        return fourCC(".mp3");
    case AV_CODEC_ID_ALAC:
        return fourCC("alac");
    case AV_CODEC_ID_AC3:
        return fourCC("ac-3");
    case AV_CODEC_ID_EAC3:
        return fourCC("ec-3");
    case AV_CODEC_ID_FLAC:
        return fourCC("flac");
    case AV_CODEC_ID_OPUS:
        return fourCC("opus");
    default:
        return par->codec_tag ? uint32_t(av_bswap32(par->codec_tag)) : 0;
    }
}

MediaAudioStreamBasicDescription audioDescription(const AVCodecParameters *par)
{
    MediaAudioStreamBasicDescription asbd;
    asbd.sampleRate = par->sample_rate;
    asbd.formatID = audioFormatID(par);
    asbd.channelsPerFrame = uint32_t(std::max(par->ch_layout.nb_channels, 0));
    if (asbd.formatID == fourCC("lpcm")) {
        const int bits = av_get_bits_per_sample(par->codec_id);
        asbd.bitsPerChannel = uint32_t(std::max(bits, 0));
        asbd.framesPerPacket = 1;
        asbd.bytesPerFrame = asbd.bitsPerChannel / 8 * asbd.channelsPerFrame;
        asbd.bytesPerPacket = asbd.bytesPerFrame;
        const AVCodecDescriptor *descriptor = avcodec_descriptor_get(par->codec_id);
        const QByteArray name = descriptor ? QByteArray(descriptor->name) : QByteArray();
        asbd.formatFlags = 8; // packed
        if (name.startsWith("pcm_f"))
            asbd.formatFlags |= 1; // float
        else if (name.startsWith("pcm_s"))
            asbd.formatFlags |= 4; // signed integer
        if (name.endsWith("be"))
            asbd.formatFlags |= 2; // big-endian
    } else {
        asbd.framesPerPacket = uint32_t(std::max(par->frame_size, 0));
    }
    return asbd;
}

// The track a stream stands for; an invalid track for streams that are not tracks of their own
// (cover pictures, the text stream that carries a movie's chapter titles).
MediaTrack trackForStream(const AVFormatContext *context, const AVStream *stream)
{
    MediaTrack track;
    const AVCodecParameters *par = stream->codecpar;
    const uint32_t tag = uint32_t(av_bswap32(par->codec_tag));
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return track;

    MediaFormatDescription format;
    QString type;
    switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO: {
        type = MediaType::video;
        format = MediaFormatDescription(fourCC("vide"), videoSubType(par));
        format.setDimensions(QSize(par->width, par->height));
        const QString name = videoFormatName(par);
        if (!name.isEmpty())
            format.setExtension(QStringLiteral("FormatName"), name);
        // The container's pixel aspect ('pasp' ...) first, the codec's when the container has none.
        const AVRational aspect = av_guess_sample_aspect_ratio(
            const_cast<AVFormatContext *>(context), const_cast<AVStream *>(stream), nullptr);
        double width = par->width;
        if (aspect.num > 0 && aspect.den > 0)
            width = width * aspect.num / aspect.den;
        track.setNaturalSize(QSizeF(width, par->height));
        if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den)
            format.setExtension(
                QStringLiteral("PixelAspectRatio"), QStringLiteral("%1:%2").arg(aspect.num).arg(aspect.den));
        const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
        track.setPreferredOrientation(
            MediaPictureGeometry::orientationForDisplayMatrix(reinterpret_cast<const int32_t *>(matrix)));
        // The colour matrix as tagged; untagged pictures get the one their size suggests.
        const QString matrixName = MediaPictureGeometry::matrixName(par->color_space);
        const AVPixFmtDescriptor *pixels = av_pix_fmt_desc_get(AVPixelFormat(par->format));
        const bool rgb = pixels && (pixels->flags & AV_PIX_FMT_FLAG_RGB);
        if (!rgb && par->width > 0 && par->height > 0) {
            format.setExtension(QStringLiteral("YCbCrMatrix"),
                !matrixName.isEmpty() ? matrixName
                    : MediaPictureGeometry::untaggedIsBT709(par->width, par->height)
                    ? QStringLiteral("BT.709")
                    : QStringLiteral("BT.601"));
            format.setExtension(QStringLiteral("YCbCrMatrixAssumed"), matrixName.isEmpty());
        }
        switch (par->field_order) {
        case AV_FIELD_PROGRESSIVE:
            format.setExtension(QStringLiteral("FieldOrder"), QStringLiteral("progressive"));
            break;
        case AV_FIELD_TT:
        case AV_FIELD_TB:
            format.setExtension(QStringLiteral("FieldOrder"), QStringLiteral("top"));
            break;
        case AV_FIELD_BB:
        case AV_FIELD_BT:
            format.setExtension(QStringLiteral("FieldOrder"), QStringLiteral("bottom"));
            break;
        default:
            break;
        }
        AVRational rate = stream->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = stream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
            track.setFrameRate(rate.num, rate.den);
            track.setNominalFrameRate(float(double(rate.num) / rate.den));
            track.setAverageFrameRate(double(rate.num) / rate.den);
        }
        break;
    }
    case AVMEDIA_TYPE_AUDIO: {
        type = MediaType::audio;
        const MediaAudioStreamBasicDescription asbd = audioDescription(par);
        format = MediaFormatDescription(fourCC("soun"), asbd.formatID);
        format.setAudioStreamBasicDescription(asbd);
        const AVCodecDescriptor *descriptor = avcodec_descriptor_get(par->codec_id);
        if (descriptor && descriptor->long_name)
            format.setExtension(QStringLiteral("FormatName"), QString::fromUtf8(descriptor->long_name));
        break;
    }
    case AVMEDIA_TYPE_DATA:
        if (tag == fourCC("tmcd")) {
            type = MediaType::timecode;
            format = MediaFormatDescription(fourCC("tmcd"), fourCC("tmcd"));
            if (par->extradata && par->extradata_size >= 17) {
                format.setTimecodeFlags(readBigEndian32(par->extradata + 4));
                const uint32_t timescale = readBigEndian32(par->extradata + 8);
                const uint32_t frameDuration = readBigEndian32(par->extradata + 12);
                if (timescale > 0 && timescale <= uint32_t(INT32_MAX))
                    format.setFrameDuration(MediaTime(frameDuration, int32_t(timescale)));
                format.setFrameQuanta(par->extradata[16]);
            }
            format.setExtension(QStringLiteral("FormatName"), QStringLiteral("Timecode"));
        } else if (tag == fourCC("text") && context->nb_chapters > 0) {
            return track; // the chapter titles
        } else {
            type = MediaType::metadata;
            format = MediaFormatDescription(fourCC("meta"), tag);
        }
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        if (par->codec_id == AV_CODEC_ID_EIA_608) {
            type = MediaType::closedCaption;
            format = MediaFormatDescription(fourCC("clcp"), fourCC("c608"));
        } else if (tag == fourCC("text")) {
            type = MediaType::text;
            format = MediaFormatDescription(fourCC("text"), tag);
        } else {
            type = MediaType::subtitle;
            format = MediaFormatDescription(fourCC("sbtl"), tag ? tag : fourCC("tx3g"));
        }
        break;
    default:
        return track;
    }
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(par->codec_id);
    if (descriptor)
        format.setCodecName(QString::fromUtf8(descriptor->name));

    track.setStreamIndex(stream->index);
    track.setTrackID(stream->id > 0 ? stream->id : stream->index + 1);
    track.setMediaType(type);
    track.setFormatDescriptions({format});
    track.setEstimatedDataRate(float(par->bit_rate));
    if (const AVDictionaryEntry *language = av_dict_get(stream->metadata, "language", nullptr, 0))
        track.setLanguageCode(QString::fromUtf8(language->value));

    MediaTime start = timeInBase(stream->start_time, stream->time_base);
    if (!start.isValid())
        start = MediaTime(0, stream->time_base.den > 0 ? stream->time_base.den : 1);
    MediaTime length = timeInBase(stream->duration, stream->time_base);
    if (!length.isValid() && context->duration != AV_NOPTS_VALUE)
        length = MediaTime(context->duration, AV_TIME_BASE);
    track.setTimeRange(MediaTimeRange(start, length));
    return track;
}

// The stream the player follows: the first decodable picture that is not a cover, else the first
// decodable sound; -1 when there is neither.
int primaryStream(const AVFormatContext *context)
{
    for (const AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            const AVStream *stream = context->streams[i];
            if (stream->codecpar->codec_type != type || (stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
                continue;
            if (avcodec_find_decoder(stream->codecpar->codec_id))
                return int(i);
        }
    }
    return -1;
}

MediaTime presentationStart(const AVFormatContext *context)
{
    const int primary = primaryStream(context);
    if (primary < 0)
        return MediaTime::zero();
    const AVStream *stream = context->streams[primary];
    const MediaTime start = timeInBase(stream->start_time, stream->time_base);
    return start.isNumeric() && start > MediaTime::zero() ? start : MediaTime::zero();
}

// Footage whose frames do not come at a constant rate (a phone's) gets the index of its real frames,
// read from a local file's packets: its frames then follow that index, and timecode counts them at
// the nominal rate. Program and transport streams are left to their constant rate: their clocks say
// nothing about phones, and reading them whole would take long.
void indexVariableRate(AVFormatContext *context, int primary, MediaTrack &track, const QString &location,
    const std::atomic<bool> *cancel)
{
    const char *name = context->iformat ? context->iformat->name : "";
    const AVStream *stream = context->streams[primary];
    if (track.mediaType() != MediaType::video || !QFileInfo(location).isFile()
        || std::strcmp(name, "mpeg") == 0 || std::strcmp(name, "mpegts") == 0
        || !MediaFrameIndex::ratesSuggestVariable(stream->r_frame_rate.num, stream->r_frame_rate.den,
            stream->avg_frame_rate.num, stream->avg_frame_rate.den))
        return;
    std::shared_ptr<const MediaFrameIndex> index = MediaFrameIndex::scan(context, primary, cancel);
    const MediaFrameRate average(track.frameRateNumerator(), track.frameRateDenominator());
    if (!index || index->followsRate(average))
        return; // the constant rule already puts every frame where it is
    const MediaFrameRate nominal
        = MediaFrameIndex::nominalRate(av_q2d(stream->r_frame_rate), index->averageRate());
    track.setFrameIndex(index);
    track.setAverageFrameRate(index->averageRate());
    track.setFrameRate(int(nominal.numerator()), int(nominal.denominator()));
    track.setNominalFrameRate(float(nominal.fps()));
    BVLog::appendLog("Variable frame rate: %@ frames, %@ fps on average, timecode at %@ fps",
        qlonglong(index->count()), index->averageRate(), nominal.fps());
}

// Program and transport streams carry no index: FFmpeg guesses their length from the timestamps near
// the end, and its guess can be frames short. The end of the primary stream is read here from the
// last megabytes of a local file (packets only, nothing decoded): the latest presented frame's end.
} // namespace

MediaTime MediaAssetProbe::scannedEnd(AVFormatContext *context, int primary)
{
    const char *name = context->iformat ? context->iformat->name : "";
    if (primary < 0 || !context->pb || !(context->pb->seekable & AVIO_SEEKABLE_NORMAL)
        || (std::strcmp(name, "mpeg") != 0 && std::strcmp(name, "mpegts") != 0))
        return MediaTime::invalid();
    const int64_t size = avio_size(context->pb);
    if (size <= 0)
        return MediaTime::invalid();
    const AVStream *stream = context->streams[primary];
    std::vector<AVDiscard> discards(context->nb_streams);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        discards[i] = context->streams[i]->discard;
        context->streams[i]->discard = int(i) == primary ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    int64_t end = AV_NOPTS_VALUE;
    AVPacket *packet = av_packet_alloc();
    for (int64_t window = int64_t(4) << 20; packet && end == AV_NOPTS_VALUE; window *= 4) {
        const int64_t from = std::max<int64_t>(0, size - window);
        if (avformat_seek_file(context, -1, INT64_MIN, from, INT64_MAX, AVSEEK_FLAG_BYTE) < 0)
            break;
        // Packets without a presentation time (the last ones of a program stream) are placed by
        // their decoding time and the reordering delay seen on the packets that have both.
        int64_t delay = 0;
        while (av_read_frame(context, packet) >= 0) {
            if (packet->stream_index == primary) {
                if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE)
                    delay = packet->pts - packet->dts;
                const int64_t shown = packet->pts != AV_NOPTS_VALUE ? packet->pts
                    : packet->dts != AV_NOPTS_VALUE                 ? packet->dts + delay
                                                                    : AV_NOPTS_VALUE;
                const int64_t frameEnd = shown + std::max<int64_t>(packet->duration, 0);
                if (shown != AV_NOPTS_VALUE && (end == AV_NOPTS_VALUE || frameEnd > end))
                    end = frameEnd;
            }
            av_packet_unref(packet);
        }
        if (from == 0)
            break;
    }
    av_packet_free(&packet);
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = discards[i];
    return timeInBase(end, stream->time_base);
}

namespace {

bool hasDecoder(const AVFormatContext *context, const MediaTrack &track)
{
    const AVStream *stream = context->streams[track.streamIndex()];
    return avcodec_find_decoder(stream->codecpar->codec_id) != nullptr;
}

void quietLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_ERROR)
            av_log_set_level(AV_LOG_ERROR);
    });
}

} // namespace

bool MediaAssetProbe::recognizesContents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray head = file.read(64 * 1024);
    if (head.isEmpty())
        return false;
    const int size = int(head.size());
    head.append(QByteArray(AVPROBE_PADDING_SIZE, '\0'));
    const QByteArray name = QFile::encodeName(path);
    AVProbeData data {};
    data.filename = name.constData();
    data.buf = reinterpret_cast<unsigned char *>(head.data());
    data.buf_size = size;
    int score = 0;
    const AVInputFormat *format = av_probe_input_format3(&data, 1, &score);
    // A score at the extension's level or below is a guess from the name (".txt" as a terminal
    // recording); the contents themselves must say what the file is.
    return format && score > AVPROBE_SCORE_EXTENSION;
}

BVError MediaAssetProbe::errorFromCode(int code, const QString &description, const QString &location)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return BVError::withDescription(
        errorDomain, code, description, QStringLiteral("%1 (%2)").arg(QString::fromUtf8(text), location));
}

AVFormatContext *MediaAssetProbe::openInput(
    const QString &location, const std::atomic<bool> *cancel, BVError *error)
{
    quietLibraryLog();
    AVFormatContext *context = avformat_alloc_context();
    if (!context) {
        if (error)
            *error
                = errorFromCode(AVERROR(ENOMEM), QStringLiteral("The file could not be opened."), location);
        return nullptr;
    }
    context->interrupt_callback.callback = interruptCallback;
    context->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(cancel);

    const QUrl url(location);
    const bool network = !url.isRelative() && url.scheme().size() > 1 && !url.isLocalFile();
    // A local path goes through the file protocol so that a ':' in a name is never read as a scheme.
    const QByteArray address = network ? location.toUtf8() : QByteArray("file:") + location.toUtf8();
    AVDictionary *options = nullptr;
    if (network)
        av_dict_set(&options, "rw_timeout", "20000000", 0);
    int result = avformat_open_input(&context, address.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        if (error)
            *error = errorFromCode(result, QStringLiteral("The file could not be opened."), location);
        return nullptr; // avformat_open_input freed the context
    }
    result = avformat_find_stream_info(context, nullptr);
    if (result < 0) {
        avformat_close_input(&context);
        if (error)
            *error = errorFromCode(result, QStringLiteral("The file's streams could not be read."), location);
        return nullptr;
    }
    return context;
}

std::optional<MediaAssetInfo> MediaAssetProbe::probe(
    const QString &location, const std::atomic<bool> *cancel, BVError *error)
{
    AVFormatContext *context = openInput(location, cancel, error);
    if (!context)
        return std::nullopt;

    MediaAssetInfo info;
    bool decodable = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        MediaTrack track = trackForStream(context, context->streams[i]);
        if (!track.isValid())
            continue;
        if ((track.mediaType() == MediaType::video || track.mediaType() == MediaType::audio)
            && hasDecoder(context, track))
            decodable = true;
        info.tracks.append(track);
    }
    info.playable = decodable;
    info.readable = decodable;

    // Times count from the first presented frame of the stream the player follows (the picture,
    // else the sound), as the player's positions do: a transport stream whose clock starts at ten
    // hours, or a movie whose first picture is shown after a reordering delay, starts at zero.
    info.startTime = presentationStart(context);
    const int primary = primaryStream(context);
    for (MediaTrack &track : info.tracks)
        if (track.streamIndex() == primary)
            indexVariableRate(context, primary, track, location, cancel);
    const MediaTime streamEnd = MediaAssetProbe::scannedEnd(context, primary);
    if (streamEnd.isNumeric()) {
        for (MediaTrack &track : info.tracks) {
            if (track.streamIndex() != primary || !track.timeRange().start().isNumeric())
                continue;
            const MediaTime start = track.timeRange().start();
            if (streamEnd > start)
                track.setTimeRange(MediaTimeRange(start, streamEnd - start));
        }
    }
    if (info.startTime > MediaTime::zero()) {
        for (MediaTrack &track : info.tracks) {
            const MediaTimeRange range = track.timeRange();
            if (!range.start().isNumeric())
                continue;
            const MediaTime start = MediaTime::maximum(range.start() - info.startTime, MediaTime::zero());
            if (range.duration().isNumeric()) {
                const MediaTime end = range.end() - info.startTime;
                track.setTimeRange(MediaTimeRange(start, MediaTime::maximum(end - start, MediaTime::zero())));
            } else {
                track.setTimeRange(MediaTimeRange(start, range.duration()));
            }
        }
    }

    // The asset lasts as long as its longest audio or video track, in that track's own timescale.
    for (const MediaTrack &track : std::as_const(info.tracks)) {
        if (track.mediaType() != MediaType::video && track.mediaType() != MediaType::audio)
            continue;
        const MediaTime end = track.timeRange().end();
        if (end.isNumeric() && (!info.duration.isValid() || end > info.duration))
            info.duration = end;
    }
    if (!info.duration.isValid() && context->duration != AV_NOPTS_VALUE)
        info.duration = MediaTime(context->duration, AV_TIME_BASE);

    const AVDictionaryEntry *entry = nullptr;
    while ((entry = av_dict_get(context->metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        const QString key = QString::fromUtf8(entry->key);
        MediaMetadataItem item(
            key, commonKeyForTag(key), QString::fromUtf8(entry->value), QStringLiteral("container"));
        info.metadata.append(item);
        if (item.commonKey() == QLatin1String("creationDate") && !info.creationDate.isValid())
            info.creationDate = QDateTime::fromString(item.stringValue(), Qt::ISODateWithMs);
    }
    // The container's tag first, then the streams' (video before the others).
    if (const AVDictionaryEntry *tag = av_dict_get(context->metadata, "timecode", nullptr, 0))
        info.timecodeTag = QString::fromUtf8(tag->value).trimmed();
    for (int pass = 0; pass < 2 && info.timecodeTag.isEmpty(); ++pass) {
        for (unsigned i = 0; i < context->nb_streams && info.timecodeTag.isEmpty(); ++i) {
            const AVStream *stream = context->streams[i];
            if ((stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) != (pass == 0))
                continue;
            if (const AVDictionaryEntry *tag = av_dict_get(stream->metadata, "timecode", nullptr, 0))
                info.timecodeTag = QString::fromUtf8(tag->value).trimmed();
        }
    }
    if (!info.creationDate.isValid() && QFileInfo::exists(location)) {
        const QFileInfo file(location);
        info.creationDate = file.birthTime().isValid() ? file.birthTime() : file.lastModified();
    }

    QString chapterLocale = QStringLiteral("und");
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_DATA
            && uint32_t(av_bswap32(stream->codecpar->codec_tag)) == fourCC("text")) {
            if (const AVDictionaryEntry *language = av_dict_get(stream->metadata, "language", nullptr, 0))
                chapterLocale = QString::fromUtf8(language->value);
        }
    }
    for (unsigned i = 0; i < context->nb_chapters; ++i) {
        const AVChapter *chapter = context->chapters[i];
        MediaTime start = timeInBase(chapter->start, chapter->time_base);
        MediaTime end = timeInBase(chapter->end, chapter->time_base);
        if (info.startTime > MediaTime::zero() && start.isValid() && end.isValid()) {
            start = MediaTime::maximum(start - info.startTime, MediaTime::zero());
            end = MediaTime::maximum(end - info.startTime, MediaTime::zero());
        }
        const MediaTime length
            = start.isValid() && end.isValid() && end > start ? end - start : MediaTime::zero();
        QList<MediaMetadataItem> items;
        if (const AVDictionaryEntry *title = av_dict_get(chapter->metadata, "title", nullptr, 0)) {
            MediaMetadataItem item(QStringLiteral("title"), QStringLiteral("title"),
                QString::fromUtf8(title->value), QStringLiteral("chapter"));
            item.setTime(start);
            item.setDuration(length);
            item.setExtendedLanguageTag(chapterLocale);
            items.append(item);
        }
        info.chapters.append(MediaTimedMetadataGroup(MediaTimeRange(start, length), items));
    }
    if (!info.chapters.isEmpty())
        info.chapterLocales = QStringList {chapterLocale};

    avformat_close_input(&context);
    return info;
}
