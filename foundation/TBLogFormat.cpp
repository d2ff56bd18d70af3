// TBLog::format, the printf-style formatter of log lines with its "%llk"
// byte count.
#include "foundation/TBLog.h"

#include <sys/types.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace terbin {

namespace {

// snprintf of a single conversion, appended to `out`.
template <typename T>
void appendConversion(std::string& out, const std::string& directive, T value) {
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
    if (n < 0) {
        return;
    }
    if (static_cast<size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(n));
        return;
    }
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(out.data() + at, static_cast<size_t>(n) + 1, directive.c_str(), value);
    out.resize(at + static_cast<size_t>(n));
}

std::string byteCount(int64_t value) {
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    constexpr int lastUnit = 5;
    const std::string sign = value < 0 ? "-" : "";
    // Unsigned magnitude, so that the most negative count has one too.
    const uint64_t magnitude =
        value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    if (magnitude < 1024) {
        return sign + std::to_string(magnitude) + " bytes";
    }
    int unit = 0;
    uint64_t divisor = 1024;
    while (unit < lastUnit && magnitude / divisor >= 1024) {
        divisor *= 1024;
        ++unit;
    }
    // Rounded tenths of the unit, split so that nothing overflows.
    auto tenthsOf = [magnitude](uint64_t d) {
        return magnitude / d * 10 + (magnitude % d * 10 + d / 2) / d;
    };
    uint64_t tenths = tenthsOf(divisor);
    if (tenths >= 10240 && unit < lastUnit) {
        // 1023.96 KB rounds to 1024.0 KB, which people read as 1.0 MB.
        divisor *= 1024;
        ++unit;
        tenths = tenthsOf(divisor);
    }
    return sign + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " +
           units[unit];
}

enum class Length { None, Char, Short, Long, LongLong, Max, Size, PtrDiff, LongDouble, Invalid };

Length parseLength(std::string_view text) {
    if (text.empty()) {
        return Length::None;
    }
    if (text == "hh") {
        return Length::Char;
    }
    if (text == "h") {
        return Length::Short;
    }
    if (text == "l") {
        return Length::Long;
    }
    if (text == "ll" || text == "q") {
        return Length::LongLong;
    }
    if (text == "j") {
        return Length::Max;
    }
    if (text == "z") {
        return Length::Size;
    }
    if (text == "t") {
        return Length::PtrDiff;
    }
    if (text == "L") {
        return Length::LongDouble;
    }
    return Length::Invalid;
}

// The argument of a signed integer conversion, as the caller passed it.
int64_t signedArgument(va_list& args, Length length) {
    switch (length) {
        case Length::Char:
            return static_cast<signed char>(va_arg(args, int));
        case Length::Short:
            return static_cast<short>(va_arg(args, int));
        case Length::Long:
            return va_arg(args, long);
        case Length::LongLong:
        case Length::LongDouble:
            return va_arg(args, long long);
        case Length::Max:
            return va_arg(args, intmax_t);
        case Length::Size:
            return va_arg(args, ssize_t);
        case Length::PtrDiff:
            return va_arg(args, ptrdiff_t);
        default:
            return va_arg(args, int);
    }
}

uint64_t unsignedArgument(va_list& args, Length length) {
    switch (length) {
        case Length::Char:
            return static_cast<unsigned char>(va_arg(args, unsigned));
        case Length::Short:
            return static_cast<unsigned short>(va_arg(args, unsigned));
        case Length::Long:
            return va_arg(args, unsigned long);
        case Length::LongLong:
        case Length::LongDouble:
            return va_arg(args, unsigned long long);
        case Length::Max:
            return va_arg(args, uintmax_t);
        case Length::Size:
            return va_arg(args, size_t);
        case Length::PtrDiff:
            return static_cast<uint64_t>(va_arg(args, ptrdiff_t));
        default:
            return va_arg(args, unsigned);
    }
}

// One parsed conversion: the text between '%' and the conversion letter,
// with any '*' already replaced by its argument.
struct Conversion {
    std::string flags;
    std::string width;
    std::string precision;  // with its '.', empty when none
    Length length = Length::None;

    std::string directive(const char* suffix) const {
        return "%" + flags + width + precision + suffix;
    }
    // For text made here: only alignment and width still apply.
    std::string textDirective() const {
        return std::string("%") + (flags.find('-') != std::string::npos ? "-" : "") + width + "s";
    }
    // The precision as a count; -1 when none.
    long count() const { return precision.empty() ? -1 : std::atol(precision.c_str() + 1); }
};

// Text from an argument is escaped (see TBString::escapeBytes) before it is
// padded: a name logged is shown, and can neither end the line early nor
// drive a terminal that shows the log. The precision cuts the text as given.
void appendText(std::string& out, const Conversion& c, std::string_view text) {
    const long limit = c.count();
    if (limit >= 0 && text.size() > static_cast<size_t>(limit)) {
        text = text.substr(0, static_cast<size_t>(limit));
    }
    appendConversion(out, c.textDirective(), TBString::escapeBytes(text).c_str());
}

void appendWide(std::string& out, const Conversion& c, std::wstring text) {
    const long limit = c.count();
    if (limit >= 0 && text.size() > static_cast<size_t>(limit)) {
        text.resize(static_cast<size_t>(limit));
    }
    appendConversion(out, c.textDirective(), TBString(std::move(text)).escaped().c_str());
}

// Formats the conversion `type`; false when it is not one this formatter knows.
bool appendArgument(std::string& out, const Conversion& c, char type, va_list& args) {
    const char letter[] = {type, '\0'};
    switch (type) {
        case 'd':
        case 'i':
            appendConversion(out, c.directive("ll") + letter,
                             static_cast<long long>(signedArgument(args, c.length)));
            return true;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            appendConversion(out, c.directive("ll") + letter,
                             static_cast<unsigned long long>(unsignedArgument(args, c.length)));
            return true;
        case 'k':
            appendConversion(out, c.textDirective(),
                             byteCount(signedArgument(args, c.length)).c_str());
            return true;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (c.length == Length::LongDouble) {
                appendConversion(out, c.directive("L") + letter, va_arg(args, long double));
            } else {
                appendConversion(out, c.directive(letter), va_arg(args, double));
            }
            return true;
        case 'c':
            if (c.length == Length::Long) {
                appendWide(out, c, std::wstring(1, static_cast<wchar_t>(va_arg(args, wint_t))));
            } else {
                const char byte = static_cast<char>(va_arg(args, int));
                appendConversion(out, c.textDirective(),
                                 TBString::escapeBytes(std::string_view(&byte, 1)).c_str());
            }
            return true;
        case 's':
            if (c.length == Length::Long) {
                const wchar_t* text = va_arg(args, const wchar_t*);
                appendWide(out, c, text ? std::wstring(text) : std::wstring(L"(null)"));
            } else {
                const char* text = va_arg(args, const char*);
                // No further than the precision: the text need not be ended there.
                const long limit = c.count();
                appendText(out, c,
                           text == nullptr ? std::string_view("(null)")
                           : limit < 0
                               ? std::string_view(text)
                               : std::string_view(text, strnlen(text, static_cast<size_t>(limit))));
            }
            return true;
        case 'p':
            appendConversion(out, c.directive("p"), va_arg(args, void*));
            return true;
        case 'n':
            // Writing through a pointer taken from a log format is not
            // something a log line should be able to do.
            va_arg(args, void*);
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string TBLog::format(const char* fmt, va_list args) {
    std::string out;
    if (fmt == nullptr) {
        return out;
    }
    va_list ap;
    va_copy(ap, args);
    const char* p = fmt;
    while (*p != '\0') {
        if (*p != '%') {
            const char* next = std::strchr(p, '%');
            const size_t n = next ? static_cast<size_t>(next - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        const logformat::Directive directive = logformat::readDirective(p);
        p = directive.end;
        Conversion c;
        c.flags = directive.flags;
        c.width = directive.widthArgument ? std::to_string(va_arg(ap, int))
                                          : std::string(directive.width);
        if (directive.precisionArgument) {
            // A negative precision counts as none.
            const int precision = va_arg(ap, int);
            if (precision >= 0) {
                c.precision = "." + std::to_string(precision);
            }
        } else if (directive.hasPrecision) {
            c.precision = "." + std::string(directive.precision);
        }
        c.length = parseLength(directive.length);
        const char type = directive.type;
        if (type == '\0') {
            out.append(start);
            break;
        }
        if (c.length == Length::Invalid || !appendArgument(out, c, type, ap)) {
            out.append(start, p);
        }
    }
    va_end(ap);
    return out;
}
}  // namespace terbin
