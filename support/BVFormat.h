#pragma once

#include <QString>
#include <QVariant>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

// Formats text in the platform's string-format convention: printf conversions (%d %i %u %ld %li
// %lu %lld %x %X %o %f %e %g %c %s %p with flags, width and precision), "%@" for an object's text
// and "%%". Arguments are converted once at the call site; a missing argument formats as empty.
class BVFormat
{
public:
    struct Arg
    {
        enum class Kind { Int, UInt, Double, Text, Pointer };
        Kind kind = Kind::Text;
        int64_t i = 0;
        uint64_t u = 0;
        double d = 0;
        QString text;
        const void *p = nullptr;

        Arg(bool v)
            : kind(Kind::Int)
            , i(v ? 1 : 0)
        { }
        Arg(char v)
            : kind(Kind::Int)
            , i(v)
        { }
        Arg(int v)
            : kind(Kind::Int)
            , i(v)
        { }
        Arg(long v)
            : kind(Kind::Int)
            , i(v)
        { }
        Arg(long long v)
            : kind(Kind::Int)
            , i(v)
        { }
        Arg(unsigned v)
            : kind(Kind::UInt)
            , u(v)
        { }
        Arg(unsigned long v)
            : kind(Kind::UInt)
            , u(v)
        { }
        Arg(unsigned long long v)
            : kind(Kind::UInt)
            , u(v)
        { }
        Arg(float v)
            : kind(Kind::Double)
            , d(v)
        { }
        Arg(double v)
            : kind(Kind::Double)
            , d(v)
        { }
        Arg(const QString &v)
            : kind(Kind::Text)
            , text(v)
        { }
        Arg(const char *v)
            : kind(Kind::Text)
            , text(QString::fromUtf8(v ? v : "(null)"))
        { }
        Arg(const std::string &v)
            : kind(Kind::Text)
            , text(QString::fromStdString(v))
        { }
        Arg(const QByteArray &v)
            : kind(Kind::Text)
            , text(QString::fromUtf8(v))
        { }
        Arg(const QVariant &v);
        Arg(const void *v)
            : kind(Kind::Pointer)
            , p(v)
        { }
    };

    static QString formatArgs(const QString &format, const std::vector<Arg> &args);

    template<typename... Args> static QString format(const char *fmt, Args &&...args)
    {
        return formatArgs(QString::fromUtf8(fmt), std::vector<Arg> {Arg(std::forward<Args>(args))...});
    }
    template<typename... Args> static QString format(const QString &fmt, Args &&...args)
    {
        return formatArgs(fmt, std::vector<Arg> {Arg(std::forward<Args>(args))...});
    }

    // The text "%@" gives for a value: strings as they are, numbers in their shortest form,
    // lists and maps in a readable nested form.
    static QString describe(const QVariant &value);
};
