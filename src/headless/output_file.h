// An output file that appears only when complete: everything goes to a temporary
// file beside the target, which is renamed over the target by commit(). Until then
// (and after discard or an error) the target is untouched and the temporary file
// is removed, so a failed or interrupted run leaves nothing half-written.
// A symbolic link is written through; a target that is a device or a pipe (such
// as /dev/null) cannot be renamed over and is written directly.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

class output_file {
 public:
  output_file() = default;
  ~output_file() { discard(); }
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;

  // Creates the temporary file; fails (with a one-line reason in error) when the
  // target is a directory or its directory cannot be written.
  bool open(const std::string& path, std::string& error);
  bool is_open() const { return stream_ != nullptr; }
  const std::string& path() const { return path_; }

  // Buffered stream for writing; errors are collected and reported by commit().
  std::FILE* stream() { return stream_; }
  void write(std::string_view bytes);

  // Flushes, closes and renames the temporary file over the target.
  bool commit(std::string& error);
  // Closes and removes the temporary file; the target stays as it was.
  void discard();

 private:
  std::string path_;
  std::string target_;     // the file renamed over: path_ with links resolved
  std::string temp_path_;  // empty when writing directly
  std::FILE* stream_ = nullptr;
};
