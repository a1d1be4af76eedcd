// Forced into every C++ unit of a libFuzzer build whose standard library
// does not offer std::source_location to this compiler (clang 14 with the
// GNU library: <source_location> needs a builtin that clang gained later).
// Supplies the members the event loop uses, from the older call-site
// builtins, so the fuzz build compiles the same sources.
#pragma once

#include <source_location>

#if !defined(__cpp_lib_source_location)
namespace std {
struct source_location {
  static constexpr source_location current(const char* file = __builtin_FILE(),
                                           const char* function = __builtin_FUNCTION(),
                                           unsigned line = __builtin_LINE(),
                                           unsigned column = __builtin_COLUMN()) noexcept {
    source_location here;
    here.file_ = file;
    here.function_ = function;
    here.line_ = line;
    here.column_ = column;
    return here;
  }
  constexpr source_location() noexcept = default;
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr const char* function_name() const noexcept { return function_; }
  constexpr unsigned line() const noexcept { return line_; }
  constexpr unsigned column() const noexcept { return column_; }

 private:
  const char* file_ = "";
  const char* function_ = "";
  unsigned line_ = 0;
  unsigned column_ = 0;
};
}  // namespace std
#endif
