// Compile-time checking of TBLog's printf-style formats. The compiler's own
// format attribute cannot be used: it rejects the log's "%llk" byte count.
// Instead a format given to TBLog::error, warning, info or debug becomes a
// TBLogFormat<Args...>, whose constructor runs while the program is compiled
// and reads the format as TBLog::format will (see TBLog.h). The program does
// not compile when the format
//   - holds a conversion TBLog::format does not know, or a length modifier
//     that does not go with its conversion (C's pairs, plus L and q with the
//     integer conversions, which the formatter reads as ll);
//   - asks for more arguments than are given, or is given more than it uses;
//   - gives a conversion (or a '*' width or precision) an argument of the
//     wrong kind: an integer of another size (after the usual promotions;
//     signedness is not checked), a floating-point number where an integer is
//     due or the other way round, a double for %Lf, anything but a char
//     pointer for %s or a wchar_t pointer for %ls, a non-pointer for %p or %n.
// The message names the fault: unknownConversionInLogFormat,
// argumentOfWrongKindForLogFormat, tooFewArgumentsForLogFormat or
// tooManyArgumentsForLogFormat.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string_view>
#include <type_traits>

namespace terbin {

namespace logformat {

// What an argument is, after the promotions a variadic call applies.
enum class Kind { Integer, Double, LongDouble, Text, WideText, Pointer, NullPointer, Other };

struct Argument {
    Kind kind = Kind::Other;
    size_t size = 0;  // for integers: the size of the promoted type
};

template <typename T>
consteval Argument describe() {
    using Pointee = std::remove_cv_t<std::remove_pointer_t<T>>;
    if constexpr (std::is_integral_v<T> || (std::is_enum_v<T> && std::is_convertible_v<T, int>)) {
        return {Kind::Integer, sizeof(decltype(+T{}))};
    } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
        return {Kind::Double, sizeof(double)};
    } else if constexpr (std::is_same_v<T, long double>) {
        return {Kind::LongDouble, sizeof(long double)};
    } else if constexpr (std::is_pointer_v<T> && std::is_same_v<Pointee, char>) {
        return {Kind::Text, sizeof(T)};
    } else if constexpr (std::is_pointer_v<T> && std::is_same_v<Pointee, wchar_t>) {
        return {Kind::WideText, sizeof(T)};
    } else if constexpr (std::is_pointer_v<T>) {
        return {Kind::Pointer, sizeof(T)};
    } else if constexpr (std::is_null_pointer_v<T>) {
        return {Kind::NullPointer, sizeof(T)};
    } else {
        return {Kind::Other, 0};
    }
}

// True for what TBLogRuntimeText accepts (references removed).
template <typename T>
constexpr bool isRuntimeText = std::is_same_v<std::remove_cv_t<T>, const char*> ||
                               std::is_same_v<std::remove_cv_t<T>, char*> ||
                               (std::is_array_v<T> &&
                                std::is_same_v<std::remove_extent_t<T>, char>);

enum class Problem { None, UnknownConversion, WrongKind, TooFewArguments, TooManyArguments };

// What one conversion takes from the argument list.
enum class Takes { Integer, Double, LongDouble, Text, WideText, Pointer };

struct Slot {
    Takes takes;
    size_t size;  // for integers
};

constexpr bool isOneOf(char c, std::string_view set) {
    return c != '\0' && set.find(c) != std::string_view::npos;
}

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The size of the integer a length modifier asks for, as TBLog::format reads
// it; 0 for text that is not a length modifier.
constexpr size_t integerSize(std::string_view length) {
    if (length.empty() || length == "hh" || length == "h")
        return sizeof(int);
    if (length == "l")
        return sizeof(long);
    if (length == "ll" || length == "q" || length == "L")
        return sizeof(long long);
    if (length == "j")
        return sizeof(intmax_t);
    if (length == "z")
        return sizeof(ssize_t);
    if (length == "t")
        return sizeof(ptrdiff_t);
    return 0;
}

// The argument conversion `type` with `length` takes; false for a pair the
// formatter does not know.
constexpr bool slotFor(char type, std::string_view length, Slot& slot) {
    const size_t integer = integerSize(length);
    switch (type) {
        case 'd':
        case 'i':
        case 'k':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            slot = {Takes::Integer, integer};
            return integer != 0;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            slot = {length == "L" ? Takes::LongDouble : Takes::Double, 0};
            return length.empty() || length == "l" || length == "L";
        case 'c':
            slot = {Takes::Integer, length == "l" ? sizeof(wint_t) : sizeof(int)};
            return length.empty() || length == "l";
        case 's':
            slot = {length == "l" ? Takes::WideText : Takes::Text, 0};
            return length.empty() || length == "l";
        case 'p':
            slot = {Takes::Pointer, 0};
            return length.empty();
        case 'n':
            slot = {Takes::Pointer, 0};
            return integer != 0 && length != "q" && length != "L";
        default:
            return false;
    }
}

constexpr bool fits(const Slot& slot, const Argument& argument) {
    switch (slot.takes) {
        case Takes::Integer:
            return argument.kind == Kind::Integer && argument.size == slot.size;
        case Takes::Double:
            return argument.kind == Kind::Double;
        case Takes::LongDouble:
            return argument.kind == Kind::LongDouble;
        case Takes::Text:
            return argument.kind == Kind::Text;
        case Takes::WideText:
            return argument.kind == Kind::WideText;
        case Takes::Pointer:
            return argument.kind == Kind::Text || argument.kind == Kind::WideText ||
                   argument.kind == Kind::Pointer || argument.kind == Kind::NullPointer;
    }
    return false;
}

// One directive of a format, as TBLog::format reads it: the text after a '%'
// that is not "%%", up to and including the conversion letter. The parts are
// views into the format.
struct Directive {
    std::string_view flags;      // of "-+ #0'"
    std::string_view width;      // digits; empty when none or '*'
    bool widthArgument = false;  // '*': an int argument gives the width
    bool hasPrecision = false;   // a '.' was given
    std::string_view precision;  // the digits after the '.'; empty when '*'
    bool precisionArgument = false;
    std::string_view length;    // of "hljztLq", perhaps no modifier the formatter knows
    char type = '\0';           // '\0' when the format ends first
    const char* end = nullptr;  // just past the directive
};

// The directive that starts at `p`, just past its '%'. The one reading of a
// directive, shared by check(), takesArguments() and TBLog::format.
constexpr Directive readDirective(const char* p) {
    auto run = [&p](auto accepts) {
        const char* start = p;
        while (accepts(*p)) ++p;
        return std::string_view(start, static_cast<size_t>(p - start));
    };
    Directive directive;
    directive.flags = run([](char c) { return isOneOf(c, "-+ #0'"); });
    if (*p == '*') {
        ++p;
        directive.widthArgument = true;
    } else {
        directive.width = run(isDigit);
    }
    if (*p == '.') {
        ++p;
        directive.hasPrecision = true;
        if (*p == '*') {
            ++p;
            directive.precisionArgument = true;
        } else {
            directive.precision = run(isDigit);
        }
    }
    directive.length = run([](char c) { return isOneOf(c, "hljztLq"); });
    directive.type = *p;
    directive.end = *p == '\0' ? p : p + 1;
    return directive;
}

// Calls `visit` with each directive of `format` in order ("%%" is none)
// until it returns false; whether every call returned true.
template <typename Visit>
constexpr bool forEachDirective(const char* format, Visit&& visit) {
    const char* p = format;
    while (*p != '\0') {
        if (*p++ != '%')
            continue;
        if (*p == '%') {
            ++p;
            continue;
        }
        const Directive directive = readDirective(p);
        if (!visit(directive))
            return false;
        p = directive.end;
    }
    return true;
}

// Reads `format` as TBLog::format does and matches each argument it would
// take against `arguments`, in order. Usable at run time as well.
constexpr Problem check(const char* format, const Argument* arguments, size_t count) {
    size_t used = 0;
    auto take = [&](const Slot& slot) {
        if (used == count)
            return Problem::TooFewArguments;
        return fits(slot, arguments[used++]) ? Problem::None : Problem::WrongKind;
    };
    const Slot star{Takes::Integer, sizeof(int)};
    Problem problem = Problem::None;
    forEachDirective(format, [&](const Directive& directive) {
        for (const bool starred : {directive.widthArgument, directive.precisionArgument}) {
            if (starred && (problem = take(star)) != Problem::None)
                return false;
        }
        Slot slot{};
        if (directive.type == '\0' || !slotFor(directive.type, directive.length, slot)) {
            problem = Problem::UnknownConversion;
            return false;
        }
        problem = take(slot);
        return problem == Problem::None;
    });
    if (problem != Problem::None)
        return problem;
    return used == count ? Problem::None : Problem::TooManyArguments;
}

// True when TBLog::format would take an argument for `format`: a '*' width or
// precision, or a conversion it knows with a length modifier it knows (paired
// or not). Unlike check(), this follows the formatter's leniency exactly.
constexpr bool takesArguments(const char* format) {
    return !forEachDirective(format, [](const Directive& directive) {
        const bool takes =
            directive.widthArgument || directive.precisionArgument ||
            (integerSize(directive.length) != 0 && isOneOf(directive.type, "diukoxXfFeEgGaAcspn"));
        return !takes;
    });
}

// Deliberately not constexpr, and never defined: the compile-time check calls
// the one that names the fault, which stops compilation with that name in the
// message. Nothing calls them at run time.
void unknownConversionInLogFormat();
void argumentOfWrongKindForLogFormat();
void tooFewArgumentsForLogFormat();
void tooManyArgumentsForLogFormat();

consteval void require(Problem problem) {
    switch (problem) {
        case Problem::None:
            return;
        case Problem::UnknownConversion:
            unknownConversionInLogFormat();
            return;
        case Problem::WrongKind:
            argumentOfWrongKindForLogFormat();
            return;
        case Problem::TooFewArguments:
            tooFewArgumentsForLogFormat();
            return;
        case Problem::TooManyArguments:
            tooManyArgumentsForLogFormat();
            return;
    }
}

}  // namespace logformat

// A log format checked at compile time against the argument types `Args`
// (as they reach the variadic call: arrays as pointers, no references).
// Made only from a constant: a string literal or a constexpr pointer to one.
template <typename... Args>
class TBLogFormat {
public:
    consteval TBLogFormat(const char* format)  // NOLINT: implicit by design
        : format_(format) {
        constexpr std::array<logformat::Argument, sizeof...(Args)> arguments{
            logformat::describe<Args>()...};
        logformat::require(logformat::check(format, arguments.data(), arguments.size()));
    }

    const char* get() const { return format_; }

private:
    const char* format_;
};

// A message text chosen while the program runs: a `char*` or `const char*`
// (not a literal, which is a `const char[N]`), or a writable `char` array.
// It is logged as a format that takes no arguments.
template <typename T>
concept TBLogRuntimeText = logformat::isRuntimeText<std::remove_reference_t<T>>;

}  // namespace terbin
