// What the extension's bindings share: the checks of Python arguments (a wrong
// type is a TypeError, a value out of range a ValueError, both before anything
// changes), texts for Python from bytes that need not be UTF-8, the
// translation of the C++ failures into Python's exceptions, and the locks held
// around a session.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "python/session.h"

namespace py = pybind11;

// robosim.Simulation as bound: a session held by a shared pointer, so that an
// environment's episode and the Simulation Python sees of it are one.
using simulation_class = py::class_<session, std::shared_ptr<session>>;

std::string type_name(const py::handle& value);
[[noreturn]] void type_error(const std::string& message);
[[noreturn]] void value_error(const std::string& message);

// A whole number (int or anything with __index__, not bool) within [min, max].
long long whole_number(const py::handle& value, const char* name, long long min, long long max);
// A finite real number (int, float or anything with __float__; not bool, not
// numpy's bool, not text). A number too large for a double is a ValueError.
double real_number(const py::handle& value, const char* name);
// `count` finite numbers (as real_number takes them), from any sequence of that
// length but text.
std::vector<double> real_numbers(const py::handle& value, const char* name, std::size_t count);
// True or False (Python's bool, or numpy's).
bool flag(const py::handle& value, const char* name);
// A file name as the system takes it: str (encoded as the file system wants),
// bytes, or an os.PathLike of either; no zero byte.
std::string file_path(const py::handle& value, const char* name);

// A Python str of text that may hold any bytes (file names are not always
// UTF-8): what is not UTF-8 is shown as \xNN.
py::str text_for_python(std::string_view text);

// Translates file_failure, snapshot_error, std::invalid_argument and
// std::runtime_error into Python's exceptions with their whole message, whatever
// bytes it holds (see session.h for which is which).
void register_failure_translation();

// Makes every class bound in `m` refuse its members on an instance made by
// Class.__new__ alone (no __init__, or a class without a constructor), which
// pybind11 would give uninitialised memory at its first use: TypeError instead.
// Instances made by a constructor or handed out by C++ are not affected.
void refuse_use_without_constructor(const py::module_& m);

// Holds a session's mutex for one call. Waiting for it lets go of Python's lock,
// so that a thread running the session's ticks with Python's lock let go can
// take it back (to look for Ctrl-C) while this one waits.
class session_lock {
 public:
  explicit session_lock(const session& s);

 private:
  std::unique_lock<fork_aware_mutex> lock_;
};

// A member without arguments that reads or changes the open session, under its lock.
template <typename Fn>
auto locked(Fn fn) {
  return [fn](session& s) {
    const session_lock lock(s);
    s.require_open();
    return fn(s);
  };
}

// The question a long call asks with Python's lock let go: takes it back and
// runs the signal handlers; Ctrl-C (or any handler that raises) raises from here.
bool python_interrupted();
