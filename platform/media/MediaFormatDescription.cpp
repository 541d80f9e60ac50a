#include "platform/media/MediaFormatDescription.h"

QString MediaFormatDescription::fourCCString(uint32_t code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((code >> shift) & 0xff);
        text += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : QLatin1Char('?');
    }
    return text;
}

QString MediaFormatDescription::description() const
{
    QString text = fourCCString(m_mediaType) + QLatin1Char('/') + fourCCString(m_mediaSubType);
    if (!formatName().isEmpty())
        text += QStringLiteral(" \"") + formatName() + QLatin1Char('"');
    if (m_asbd)
        text += QStringLiteral(" %1 Hz, %2 ch, %3 bit")
                    .arg(m_asbd->sampleRate)
                    .arg(m_asbd->channelsPerFrame)
                    .arg(m_asbd->bitsPerChannel);
    if (!m_dimensions.isEmpty())
        text += QStringLiteral(" %1x%2").arg(m_dimensions.width()).arg(m_dimensions.height());
    if (m_frameQuanta)
        text += QStringLiteral(" tc flags %1, %2 fps").arg(m_timecodeFlags).arg(m_frameQuanta);
    return text;
}
