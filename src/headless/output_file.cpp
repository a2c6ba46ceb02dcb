#include "headless/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

std::string describe(const std::string& path, int error_number) {
  return "cannot write " + path + ": " + std::strerror(error_number);
}

// The permissions a newly created file gets under the current umask.
mode_t default_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool output_file::open(const std::string& path, std::string& error) {
  discard();
  // Write through a symbolic link to the file it names, not over the link.
  std::error_code ec;
  std::filesystem::path target(path);
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec))) {
    const auto resolved = std::filesystem::canonical(target, ec);
    if (!ec) target = resolved;
  }

  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    error = "cannot write " + path + ": is a directory";
    return false;
  }
  if (exists && !S_ISREG(info.st_mode)) {
    // A device, pipe or socket (such as /dev/null or /dev/stdout) cannot be
    // replaced by renaming; it is written directly.
    std::FILE* stream = std::fopen(target.c_str(), "wb");
    if (stream == nullptr) {
      error = describe(path, errno);
      return false;
    }
    path_ = path;
    stream_ = stream;
    return true;
  }

  const auto parent = target.parent_path();
  const std::string prefix = (parent.empty() ? std::string() : parent.string() + "/") + "." +
                             target.filename().string() + ".tmp-";
  std::vector<char> name(prefix.begin(), prefix.end());
  for (char c : std::string_view("XXXXXX")) name.push_back(c);
  name.push_back('\0');

  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = describe(path, errno);
    return false;
  }
  // mkstemp makes the file private: a replacement keeps the mode of the file it
  // replaces, a new file gets the mode any new file gets.
  (void)::fchmod(fd, exists ? (info.st_mode & 07777) : default_file_mode());
  std::FILE* stream = ::fdopen(fd, "wb");
  if (stream == nullptr) {
    const int saved = errno;
    ::close(fd);
    ::unlink(name.data());
    error = describe(path, saved);
    return false;
  }
  std::setvbuf(stream, nullptr, _IOFBF, 1 << 20);
  path_ = path;
  target_ = target.string();
  temp_path_ = name.data();
  stream_ = stream;
  return true;
}

void output_file::write(std::string_view bytes) {
  if (stream_ != nullptr && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream_);
}

bool output_file::commit(std::string& error) {
  if (stream_ == nullptr) {
    error = "cannot write " + path_ + ": not open";
    return false;
  }
  errno = 0;
  bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  int saved = errno;
  // Only a regular file (written beside its target) is synced; devices and pipes
  // may not support it.
  if (ok && !temp_path_.empty() && ::fsync(::fileno(stream_)) != 0 && errno != EINVAL &&
      errno != ENOTSUP) {
    ok = false;
    saved = errno;
  }
  if (std::fclose(stream_) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  stream_ = nullptr;
  if (ok && !temp_path_.empty() && std::rename(temp_path_.c_str(), target_.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    error = describe(path_, saved != 0 ? saved : EIO);
  }
  temp_path_.clear();
  return ok;
}

void output_file::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temp_path_.empty()) {
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}
