#include "core/file_error.h"

#include <cstring>

file_error file_system_error(std::string path, int error_number, std::string message) {
  if (message.empty()) message = std::strerror(error_number);
  return file_error{file_error_kind::file_system, error_number, std::move(path),
                    std::move(message)};
}

file_error content_error(std::string path, std::string message) {
  return file_error{file_error_kind::content, 0, std::move(path), std::move(message)};
}

file_error with_prefix(std::string_view prefix, file_error error) {
  error.message.insert(0, prefix);
  return error;
}
