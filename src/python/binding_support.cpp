#include "python/binding_support.h"

#include <cmath>
#include <stdexcept>

#include "shell/snapshot.h"

namespace {

// Python's repr of a value, cut to a length a message can carry (10**400 has
// 401 digits).
std::string short_repr(const py::handle& value) {
  constexpr std::size_t kMaxReprBytes = 60;
  std::string text = py::repr(value);
  if (text.size() > kMaxReprBytes) text = text.substr(0, kMaxReprBytes - 3) + "...";
  return text;
}

bool is_numpy_bool(const py::handle& value) {
  // numpy's bool is not a subclass of Python's, but has __float__ and __index__.
  const std::string_view type = Py_TYPE(value.ptr())->tp_name;
  return type == "numpy.bool_" || type == "numpy.bool";
}

void set_error(PyObject* type, std::string_view message) {
  PyErr_SetObject(
      type, text_for_python(message.empty() ? "failed for a reason not given" : message).ptr());
}

// From the failure's value alone: the content's fault is a ValueError; the
// file system's an OSError(errno, message, filename), which Python makes a
// FileNotFoundError, IsADirectoryError, PermissionError, ... by the errno, or a
// plain OSError(message) when the system gave no errno.
void raise_file_failure(const file_error& error) {
  if (error.kind == file_error_kind::content) {
    set_error(PyExc_ValueError, error.message);
    return;
  }
  if (error.error_number == 0) {
    set_error(PyExc_OSError, error.message);
    return;
  }
  py::object filename = py::none();
  if (!error.path.empty()) {
    // As os.fsdecode gives it, so that a name that is not UTF-8 comes back whole.
    PyObject* name = PyUnicode_DecodeFSDefaultAndSize(error.path.data(),
                                                      static_cast<Py_ssize_t>(error.path.size()));
    if (name == nullptr) throw py::error_already_set();
    filename = py::reinterpret_steal<py::object>(name);
  }
  const py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(
      error.error_number, text_for_python(error.message), filename);
  PyErr_SetObject(PyExc_OSError, exception.ptr());
}

}  // namespace

std::string type_name(const py::handle& value) {
  return py::str(py::type::handle_of(value).attr("__name__"));
}

void type_error(const std::string& message) {
  throw py::type_error(message);
}

void value_error(const std::string& message) {
  throw py::value_error(message);
}

long long whole_number(const py::handle& value, const char* name, long long min, long long max) {
  if (PyBool_Check(value.ptr()) || is_numpy_bool(value) || !PyIndex_Check(value.ptr())) {
    type_error(std::string(name) + " must be an integer, not " + type_name(value));
  }
  const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
  if (!number) throw py::error_already_set();
  int overflow = 0;
  const long long result = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0 || result < min || result > max) {
    value_error(std::string(name) + " must be from " + std::to_string(min) + " to " +
                std::to_string(max) + ", got " + short_repr(number));
  }
  return result;
}

double real_number(const py::handle& value, const char* name) {
  PyObject* object = value.ptr();
  if (PyFloat_CheckExact(object)) {
    const double result = PyFloat_AS_DOUBLE(object);
    if (std::isfinite(result)) return result;
  } else if (PyBool_Check(object) || is_numpy_bool(value) || PyUnicode_Check(object) ||
             PyBytes_Check(object) ||
             !(PyFloat_Check(object) || PyIndex_Check(object) ||
               PyObject_HasAttrString(object, "__float__"))) {
    type_error(std::string(name) + " must be a number, not " + type_name(value));
  }
  const double result = PyFloat_AsDouble(object);
  if (result == -1.0 && PyErr_Occurred()) {
    // An int beyond the doubles is out of range, as an infinity is.
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
    PyErr_Clear();
  } else if (std::isfinite(result)) {
    return result;
  }
  value_error(std::string(name) + " must be a finite number, got " + short_repr(value));
}

std::vector<double> real_numbers(const py::handle& value, const char* name, std::size_t count) {
  if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) ||
      !PySequence_Check(value.ptr())) {
    type_error(std::string(name) + " must be a sequence of " + std::to_string(count) +
               " numbers, not " + type_name(value));
  }
  const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
  if (items.size() != count) {
    value_error(std::string(name) + " must hold " + std::to_string(count) + " numbers, got " +
                std::to_string(items.size()));
  }
  std::vector<double> result;
  for (std::size_t i = 0; i < count; ++i) result.push_back(real_number(items[i], name));
  return result;
}

bool flag(const py::handle& value, const char* name) {
  if (PyBool_Check(value.ptr())) return value.ptr() == Py_True;
  if (is_numpy_bool(value)) return PyObject_IsTrue(value.ptr()) == 1;
  type_error(std::string(name) + " must be True or False, not " + type_name(value));
}

std::string file_path(const py::handle& value, const char* name) {
  py::object path;
  try {
    path = py::module_::import("os").attr("fsencode")(value);
  } catch (py::error_already_set& error) {
    if (!error.matches(PyExc_TypeError)) throw;
    type_error(std::string(name) + " must be a path (str, bytes or os.PathLike), not " +
               type_name(value));
  }
  std::string bytes = py::bytes(path);
  if (bytes.find('\0') != std::string::npos) {
    value_error(std::string(name) + " must not contain a zero byte");
  }
  return bytes;
}

py::str text_for_python(std::string_view text) {
  PyObject* decoded =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

void register_failure_translation() {
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const py::builtin_exception&) {
      throw;  // pybind11's own (TypeError, ValueError, ...)
    } catch (const file_failure& failure) {
      raise_file_failure(failure.error());
    } catch (const snapshot_error& failure) {
      set_error(PyExc_ValueError, failure.what());
    } catch (const std::invalid_argument& failure) {
      set_error(PyExc_ValueError, failure.what());
    } catch (const std::runtime_error& failure) {
      set_error(PyExc_RuntimeError, failure.what());
    }
  });
}

namespace {

// pybind11 allocates an instance's C++ object lazily, with this function, only
// when a member is called on an instance whose object was never made.
void* refuse_uninitialised(std::size_t) {
  throw py::type_error(
      "this object was made by __new__ without its constructor and cannot be used; make it by "
      "calling its class (or as its documentation says)");
}

}  // namespace

void refuse_use_without_constructor(const py::module_& m) {
  for (const auto item : py::reinterpret_borrow<py::dict>(m.attr("__dict__"))) {
    if (!PyType_Check(item.second.ptr())) continue;
    auto* type = reinterpret_cast<PyTypeObject*>(item.second.ptr());
    if (py::detail::type_info* info = py::detail::get_type_info(type)) {
      info->operator_new = &refuse_uninitialised;
    }
  }
}

session_lock::session_lock(const session& s) : lock_(s.mutex(), std::try_to_lock) {
  if (!lock_.owns_lock()) {
    const py::gil_scoped_release release;
    lock_.lock();
  }
}

bool python_interrupted() {
  const py::gil_scoped_acquire acquire;
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  return false;
}
