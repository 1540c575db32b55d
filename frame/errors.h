// Error reporting shared by every module: traceback entries under a qualified
// name, and the unraisable report of functions whose result has no failure value.
#pragma once

#include <Python.h>

#include <source_location>
#include <string>

namespace zalmor::frame {

// Adds a traceback entry for `funcname` to the pending exception, with the C++
// source file and line of the failure. The caller holds the interpreter lock.
void add_traceback(const char* funcname,
                   std::source_location where = std::source_location::current());

// Raises ValueError with `message`, whose bytes need not be valid UTF-8 (a
// format text may quote any byte): undecodable bytes are shown escaped.
void set_value_error(const std::string& message);

// Reports the pending exception of a function that cannot pass it to its caller:
// prints it with its full traceback, then hands the same exception to the
// unraisable writer with `qualname` as context. Takes the interpreter lock, so it
// may be called with or without it. Leaves no exception pending.
void report_unraisable(const char* qualname) noexcept;

}  // namespace zalmor::frame
