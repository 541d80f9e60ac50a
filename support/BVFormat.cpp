#include "support/BVFormat.h"

#include <QVariantList>
#include <QVariantMap>

#include <cstdio>
#include <string>

BVFormat::Arg::Arg(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        kind = Kind::Int;
        i = v.toBool() ? 1 : 0;
        break;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
        kind = Kind::Int;
        i = v.toLongLong();
        break;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        kind = Kind::UInt;
        u = v.toULongLong();
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        kind = Kind::Double;
        d = v.toDouble();
        break;
    default:
        kind = Kind::Text;
        text = describe(v);
        break;
    }
}

namespace {

QString numberText(const BVFormat::Arg &a)
{
    switch (a.kind) {
    case BVFormat::Arg::Kind::Int:
        return QString::number(a.i);
    case BVFormat::Arg::Kind::UInt:
        return QString::number(a.u);
    case BVFormat::Arg::Kind::Double:
        return QString::number(a.d, 'g', 17);
    case BVFormat::Arg::Kind::Pointer:
        return QString::asprintf("%p", a.p);
    case BVFormat::Arg::Kind::Text:
        break;
    }
    return a.text;
}

int64_t asInt(const BVFormat::Arg &a)
{
    switch (a.kind) {
    case BVFormat::Arg::Kind::Int:
        return a.i;
    case BVFormat::Arg::Kind::UInt:
        return int64_t(a.u);
    case BVFormat::Arg::Kind::Double:
        return int64_t(a.d);
    case BVFormat::Arg::Kind::Pointer:
        return int64_t(reinterpret_cast<intptr_t>(a.p));
    case BVFormat::Arg::Kind::Text:
        return a.text.toLongLong();
    }
    return 0;
}

double asDouble(const BVFormat::Arg &a)
{
    switch (a.kind) {
    case BVFormat::Arg::Kind::Int:
        return double(a.i);
    case BVFormat::Arg::Kind::UInt:
        return double(a.u);
    case BVFormat::Arg::Kind::Double:
        return a.d;
    default:
        return a.text.toDouble();
    }
}

} // namespace

QString BVFormat::formatArgs(const QString &format, const std::vector<Arg> &args)
{
    QString out;
    out.reserve(format.size() + 16 * int(args.size()));
    size_t next = 0;
    const qsizetype n = format.size();
    for (qsizetype pos = 0; pos < n; ++pos) {
        const QChar c = format.at(pos);
        if (c != u'%' || pos + 1 >= n) {
            out.append(c);
            continue;
        }
        if (format.at(pos + 1) == u'%') {
            out.append(u'%');
            ++pos;
            continue;
        }
        if (format.at(pos + 1) == u'@') {
            if (next < args.size())
                out.append(numberText(args[next]));
            ++next;
            ++pos;
            continue;
        }
        // A printf conversion: flags, width, precision, length, conversion character.
        qsizetype end = pos + 1;
        std::string conversion = "%";
        while (end < n && QStringView(u"-+ #0").contains(format.at(end)))
            conversion += char(format.at(end++).unicode());
        while (end < n && format.at(end).isDigit())
            conversion += char(format.at(end++).unicode());
        if (end < n && format.at(end) == u'.') {
            conversion += '.';
            ++end;
            while (end < n && format.at(end).isDigit())
                conversion += char(format.at(end++).unicode());
        }
        while (end < n && QStringView(u"hlqLzjt").contains(format.at(end)))
            ++end;
        if (end >= n) {
            out.append(format.mid(pos));
            break;
        }
        const char conv = char(format.at(end).unicode());
        const Arg *arg = next < args.size() ? &args[next] : nullptr;
        char buffer[512];
        int written = -1;
        switch (conv) {
        case 'd':
        case 'i':
            conversion += "lld";
            written = std::snprintf(
                buffer, sizeof buffer, conversion.c_str(), (long long)(arg ? asInt(*arg) : 0));
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            conversion += "ll";
            conversion += conv;
            written = std::snprintf(buffer, sizeof buffer, conversion.c_str(),
                (unsigned long long)(arg ? uint64_t(asInt(*arg)) : 0));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            conversion += conv;
            written = std::snprintf(buffer, sizeof buffer, conversion.c_str(), arg ? asDouble(*arg) : 0.0);
            break;
        case 'c':
            conversion += 'c';
            written = std::snprintf(buffer, sizeof buffer, conversion.c_str(), int(arg ? asInt(*arg) : 0));
            break;
        case 'p':
            written = std::snprintf(buffer, sizeof buffer, "%p", arg ? arg->p : nullptr);
            break;
        case 's':
        case 'S': {
            conversion += 's';
            const QByteArray utf8 = (arg ? numberText(*arg) : QString()).toUtf8();
            const int needed = std::snprintf(nullptr, 0, conversion.c_str(), utf8.constData());
            if (needed >= int(sizeof buffer)) {
                std::string big(size_t(needed) + 1, '\0');
                std::snprintf(big.data(), big.size(), conversion.c_str(), utf8.constData());
                out.append(QString::fromUtf8(big.data(), needed));
                written = -2;
            } else {
                written = std::snprintf(buffer, sizeof buffer, conversion.c_str(), utf8.constData());
            }
            break;
        }
        default:
            // Not a conversion we know: keep the text as written.
            out.append(format.mid(pos, end - pos + 1));
            pos = end;
            continue;
        }
        if (written >= 0)
            out.append(QString::fromUtf8(buffer, std::min(written, int(sizeof buffer) - 1)));
        ++next;
        pos = end;
    }
    return out;
}

QString BVFormat::describe(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QStringLiteral("(null)");
    case QMetaType::Nullptr:
        return QStringLiteral("<null>");
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::QVariantList: {
        QStringList items;
        for (const QVariant &item : value.toList())
            items << QStringLiteral("    ") + describe(item);
        return QStringLiteral("(\n") + items.join(QStringLiteral(",\n")) + QStringLiteral("\n)");
    }
    case QMetaType::QVariantMap: {
        QStringList items;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            items << QStringLiteral("    ") + it.key() + QStringLiteral(" = ") + describe(it.value()) + u';';
        return QStringLiteral("{\n") + items.join(u'\n') + QStringLiteral("\n}");
    }
    case QMetaType::QByteArray:
        return QStringLiteral("<") + QString::fromLatin1(value.toByteArray().toHex()) + u'>';
    default:
        return value.toString();
    }
}
