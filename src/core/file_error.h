// Failures of reading and writing files, as values. Every layer that reads or
// writes a file (world files, the safe file writing, the map import, the
// headless runner's outputs, the films) returns what went wrong as a
// file_error: the kind of fault, the system's error number when there is one,
// the file, and the message the user reads. Front ends show the message as it
// is (the window's dialogs, the runner's one-line errors) or turn the value
// into their own failures (Python's OSError with the errno and the file name,
// or ValueError) without reading the message.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

enum class file_error_kind : unsigned char {
  // The file could not be read or written: missing, a folder, not permitted, a
  // full disk, a device or pipe where a file belongs.
  file_system,
  // The file was read, but what it holds (or what was to be written) is
  // refused: not a world file, a map that cannot be imported, a world holding
  // values that are not finite.
  content,
};

struct file_error {
  file_error_kind kind = file_error_kind::file_system;
  int error_number = 0;  // the errno behind it; 0 when the system gave none
  std::string path;      // the file at fault, byte for byte as given; may be empty
  std::string message;   // the whole text the user reads
};

// A failure of the file system: the message is the system's words for the
// error number (strerror) unless one is given.
file_error file_system_error(std::string path, int error_number, std::string message = {});
// What the file holds (or was to hold) is refused.
file_error content_error(std::string path, std::string message);
// The same failure with text put in front of its message ("cannot save \"x\": ").
file_error with_prefix(std::string_view prefix, file_error error);

// Success, or the failure. True when it succeeded, as the bool it replaces.
class [[nodiscard]] file_result {
 public:
  file_result() = default;
  // A failure. Implicit, so that a function returns its file_error as it is.
  file_result(file_error error)
      : error_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  // Only for a failure.
  const file_error& error() const { return *error_; }
  // The failure's message; empty on success.
  std::string message() const { return error_ ? error_->message : std::string(); }

 private:
  std::optional<file_error> error_;
};
