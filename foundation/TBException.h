// Exceptions thrown by the foundation's containers on misuse. Each carries the
// source file and line where it was raised; the system itself catches none.
#pragma once

#include <stdexcept>
#include <string>

namespace terbin {

class TBException : public std::runtime_error {
public:
    TBException(const char* kind, const std::string& message, const char* file, int line);
    const char* file() const { return file_.c_str(); }
    int line() const { return line_; }

private:
    std::string file_;
    int line_;
};

#define TB_DECLARE_EXCEPTION(Name)                                   \
    class Name : public TBException {                                \
    public:                                                          \
        Name(const std::string& message, const char* file, int line) \
            : TBException(#Name, message, file, line) {}             \
    };

TB_DECLARE_EXCEPTION(TBIndexOutOfBoundsException)
TB_DECLARE_EXCEPTION(TBNoSuchElementException)
TB_DECLARE_EXCEPTION(TBIllegalStateException)
TB_DECLARE_EXCEPTION(TBOutOfMemoryException)
#undef TB_DECLARE_EXCEPTION

// Source path relative to the repository, e.g. "foundation/TBList.h".
const char* tb_source_path(const char* file);

#define TB_THROW(Type, message) throw Type((message), ::terbin::tb_source_path(__FILE__), __LINE__)

}  // namespace terbin
