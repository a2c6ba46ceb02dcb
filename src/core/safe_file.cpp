#include "core/safe_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Random bits for a temporary name, fresh for every try, so that two programs or
// two threads writing beside the same file soon pick different names (O_EXCL
// refuses a taken one). Without the kernel's generator, the clock and the
// process stand in.
unsigned random_name_bits(int attempt) {
  unsigned value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) {
    return value;
  }
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<unsigned>(now) * 2654435761u ^ static_cast<unsigned>(::getpid()) * 40503u ^
         static_cast<unsigned>(attempt) * 7919u;
}

constexpr int kMaxLinkHops = 40;  // as the system's own limit for path lookups

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links, one at a time, to the name the contents belong under.
// A link that dangles leads to the name it points at, which is then created.
bool follow_links(const std::string& path, std::string& target, int& code) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) {
        code = errno;
        return false;
      }
      target = current;
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      target = current;
      return true;
    }
    std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 256) + 1, '\0');
    const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
    if (length < 0) {
      code = errno;
      return false;
    }
    link.resize(static_cast<std::size_t>(length));
    current = (!link.empty() && link[0] == '/') ? link : folder_of(current) + "/" + link;
  }
  code = ELOOP;
  return false;
}

// The permissions a newly created file gets under the current umask.
mode_t default_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// True when the file system holding the folder has no block left for the user.
bool disk_already_full(const std::string& folder) {
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0 || info.f_blocks == 0) return false;
  const auto available = ::geteuid() == 0 ? info.f_bfree : info.f_bavail;
  return available == 0;
}

// The system refuses a file in a folder the user may not write with "Permission
// denied" also when the file system is mounted read-only; it is told as such.
int told_as_read_only(int code, const std::string& folder) {
  struct statvfs info {};
  if (code == EACCES && ::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY) != 0) {
    return EROFS;
  }
  return code;
}

// A rename over the target is possible: the folder may be written, and a
// sticky folder does not keep the user from replacing the file.
// Whether a file may be created and renamed in the folder; `refused` says why not.
bool can_replace_in(const std::string& folder, const struct stat* existing, int& refused) {
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    refused = errno;
    return false;
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    refused = errno;
    return false;
  }
  const uid_t user = ::geteuid();
  if (existing != nullptr && (info.st_mode & S_ISVTX) != 0 && user != 0 &&
      existing->st_uid != user && info.st_uid != user) {
    refused = EACCES;
    return false;
  }
  return true;
}

bool write_all_at(int fd, const char* data, std::size_t size, int& code) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (written < 0) {
      if (errno == EINTR) continue;
      code = errno;
      return false;
    }
    if (written == 0) {
      code = EIO;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

bool sync_failed(int fd) {
  return ::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS;
}

}  // namespace

file_error safe_file::failure(int error_number, std::string message) const {
  return file_system_error(path_, error_number, std::move(message));
}

file_result safe_file::prepare(const std::string& path, bool allow_devices) {
  discard();
  path_ = path;
  if (path.empty()) return failure(ENOENT, "no file name given");
  int code = 0;
  if (!follow_links(path, target_, code)) return failure(code);
  folder_ = folder_of(target_);

  struct stat info {};
  exists_ = ::stat(target_.c_str(), &info) == 0;
  if (!exists_ && errno != ENOENT) return failure(errno);
  if (exists_ && S_ISDIR(info.st_mode)) return failure(EISDIR, "it is a folder");
  if (exists_ && !S_ISREG(info.st_mode)) {
    if (!allow_devices) return failure(0, "it is not a regular file");
    // Opened without waiting: a named pipe that nobody reads would block open()
    // for good, deaf to the signals that should end the program.
    const int fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      if (errno == ENXIO && S_ISFIFO(info.st_mode)) {
        return failure(ENXIO, "no program is reading the named pipe");
      }
      return failure(errno);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);  // writes wait, as usual
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
      const int error = errno;
      ::close(fd);
      return failure(error);
    }
    method_ = method::direct;
    return {};
  }

  struct stat folder_info {};
  if (::stat(folder_.c_str(), &folder_info) != 0) return failure(errno);
  if (!S_ISDIR(folder_info.st_mode)) return failure(ENOTDIR);
  if (exists_) {
    // Only what opening it for writing would allow.
    const int probe = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) return failure(told_as_read_only(errno, folder_));
    ::close(probe);
  }
  if (disk_already_full(folder_)) return failure(ENOSPC);
  mode_ = exists_ ? (info.st_mode & 07777) : default_file_mode();

  int refused = 0;
  if (can_replace_in(folder_, exists_ ? &info : nullptr, refused)) return open_replacement();
  // "Read-only file system", "Permission denied", ...
  if (!exists_) return failure(told_as_read_only(refused, folder_));
  stream_ = ::open_memstream(&memory_, &memory_size_);
  if (stream_ == nullptr) return failure(errno);
  method_ = method::in_place;
  return {};
}

file_result safe_file::open_replacement() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    // A short name, so that a target name of up to 255 bytes still works.
    char name[16];
    std::snprintf(name, sizeof name, ".rs-%08x", random_name_bits(attempt));
    const std::string candidate = folder_ + "/" + name;
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return failure(errno);
    }
    (void)::fchmod(fd, static_cast<mode_t>(mode_));
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
      const int error = errno;
      ::close(fd);
      ::unlink(candidate.c_str());
      return failure(error);
    }
    std::setvbuf(stream_, nullptr, _IOFBF, 1 << 20);
    temp_path_ = candidate;
    method_ = method::replace;
    return {};
  }
  return failure(EEXIST);
}

void safe_file::write(std::string_view bytes) {
  if (stream_ == nullptr || bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size() && write_error_ == 0) {
    write_error_ = errno;
  }
}

file_result safe_file::finish() {
  if (stream_ == nullptr) return failure(0, finished_ ? "already finished" : "not prepared");
  // An error of an earlier write (also one through stream()) leaves its code in
  // errno, as long as nothing else failed since.
  int code = std::ferror(stream_) != 0 ? (write_error_ != 0 ? write_error_ : errno) : 0;
  bool ok = code == 0 && std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  if (!ok && code == 0) code = errno;
  if (ok && method_ == method::replace && sync_failed(::fileno(stream_))) {
    ok = false;
    code = errno;
  }
  if (std::fclose(stream_) != 0 && ok) {
    ok = false;
    code = errno;
  }
  stream_ = nullptr;
  finished_ = true;
  if (ok) return {};
  discard();
  return failure(code != 0 ? code : EIO);
}

file_result safe_file::commit_in_place() {
  const int fd = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return failure(errno);
  int code = 0;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) code = errno;
  // Reserve the space first, so that a disk too small fails before the old
  // contents are touched.
  if (ok && static_cast<std::size_t>(info.st_size) < memory_size_) {
    const int result = ::posix_fallocate(fd, 0, static_cast<off_t>(memory_size_));
    if (result != 0 && result != EINVAL && result != EOPNOTSUPP) {
      ok = false;
      code = result;
    }
  }
  ok = ok && write_all_at(fd, memory_, memory_size_, code);
  if (ok && ::ftruncate(fd, static_cast<off_t>(memory_size_)) != 0) {
    ok = false;
    code = errno;
  }
  if (ok && sync_failed(fd)) {
    ok = false;
    code = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok) return {};
  return failure(code != 0 ? code : EIO);
}

file_result safe_file::commit() {
  if (!finished_ || method_ == method::none) return failure(0, "not finished");
  file_result result;
  if (method_ == method::replace) {
    if (::rename(temp_path_.c_str(), target_.c_str()) != 0) {
      result = failure(errno);
    } else {
      temp_path_.clear();
    }
  } else if (method_ == method::in_place) {
    result = commit_in_place();
  }
  discard();
  return result;
}

void safe_file::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temp_path_.empty()) {
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
  }
  std::free(memory_);
  memory_ = nullptr;
  memory_size_ = 0;
  method_ = method::none;
  finished_ = false;
  write_error_ = 0;
}

file_result safe_file_finish_all(const std::vector<safe_file*>& files, const safe_file*& failed) {
  for (safe_file* file : files) {
    if (!file->is_open()) continue;
    file_result finished = file->finish();
    if (!finished) {
      failed = file;
      for (safe_file* other : files) other->discard();
      return finished;
    }
  }
  return {};
}

file_result safe_file_commit_all(const std::vector<safe_file*>& files, const safe_file*& failed) {
  // The writes in place can fail part of the way (a disk that fills); the
  // renames hardly can. So the writes in place go first, and a failure there
  // leaves every rename undone.
  for (const safe_file::method pass :
       {safe_file::method::in_place, safe_file::method::direct, safe_file::method::replace}) {
    for (safe_file* file : files) {
      if (file->how() != pass) continue;
      file_result committed = file->commit();
      if (!committed) {
        failed = file;
        for (safe_file* other : files) other->discard();
        return committed;
      }
    }
  }
  return {};
}
