// Writing a file so that nothing is ever half-done: the contents are prepared in
// full first and put in place only at commit(). Serves the world files and the
// headless runner's outputs.
//
// How a file is put in place depends on what the user may do there:
//   - replace: the contents go to a temporary file beside the target (a short
//     hidden name, so targets of up to 255 bytes work), which commit() renames
//     over the target: atomic. The replacement keeps the old file's mode.
//   - in place: when the folder cannot take the temporary file or the rename
//     (a folder the user may not write, or a sticky folder where the file
//     belongs to someone else) but the file itself may be written, the
//     contents are held in memory and commit() writes them into the file.
//     Not atomic, but the file keeps its mode, owner and hard links, and the
//     space is reserved before the old contents are touched.
//   - direct: a device or a pipe (such as /dev/null), when allowed, is opened
//     and written as it is.
// A file the user may not write (mode 0444) is refused with "Permission
// denied" and left as it was, as opening it for writing would. A symbolic
// link is written through, also when it dangles (its target is created).
// Names are used byte for byte; only POSIX calls touch them.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_error.h"

class safe_file {
 public:
  enum class method { none, replace, in_place, direct };

  safe_file() = default;
  ~safe_file() { discard(); }
  safe_file(const safe_file&) = delete;
  safe_file& operator=(const safe_file&) = delete;

  // Checks the place and opens the staging stream. A failure is of the file
  // system, with the path, the errno where there is one, and a message that
  // says why without the path (the caller puts its own words in front):
  // "it is a folder" (EISDIR), "it is not a regular file" (when devices are
  // not allowed; no errno), "No space left on device", "Permission denied",
  // "Read-only file system", "Too many levels of symbolic links", ...
  file_result prepare(const std::string& path, bool allow_devices);
  bool is_open() const { return stream_ != nullptr; }
  method how() const { return method_; }
  const std::string& path() const { return path_; }

  // Buffered stream for the contents; write errors are reported by finish().
  std::FILE* stream() { return stream_; }
  void write(std::string_view bytes);

  // Flushes the contents to their staging place (and to disk for a temporary
  // file). After it only commit() or discard() may follow. Failures as prepare's.
  file_result finish();
  // Puts the finished contents in place.
  file_result commit();
  // Drops the contents; the target stays as it was and no temporary file is left.
  void discard();

 private:
  file_result open_replacement();
  file_result commit_in_place();
  // The failure of this file: the errno's words, or the message given.
  file_error failure(int error_number, std::string message = {}) const;

  std::string path_;       // as given
  std::string target_;     // the file written: path_ with symbolic links followed
  std::string folder_;     // the target's folder
  std::string temp_path_;  // replace: the temporary file beside the target
  bool exists_ = false;    // the target existed when prepared
  unsigned mode_ = 0;      // the mode a replacement gets
  method method_ = method::none;
  std::FILE* stream_ = nullptr;
  char* memory_ = nullptr;  // in place: the contents held by open_memstream
  std::size_t memory_size_ = 0;
  bool finished_ = false;
  int write_error_ = 0;  // errno of the first failed write()
};

// All outputs or none: first safe_file_finish_all() for every prepared file
// (if one fails, every file is discarded and nothing is replaced), then
// whatever else must succeed (a summary), then safe_file_commit_all(), which
// does the writes in place (the ones that can still fail part of the way)
// before the renames. On failure `failed` is the file that failed, the result
// says why (as finish() and commit() say it), and every file not yet in place
// is discarded.
file_result safe_file_finish_all(const std::vector<safe_file*>& files, const safe_file*& failed);
file_result safe_file_commit_all(const std::vector<safe_file*>& files, const safe_file*& failed);
