#include "headless/frame_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

std::string write_error(const std::string& path, int error_number) {
  return "cannot write " + path + ": " + file_system_error(path, error_number).message;
}

file_result failure(const std::string& path, int error_number) {
  return file_system_error(path, error_number, write_error(path, error_number));
}

// The whole of the bytes, or the errno of the failure.
int write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

file_result frame_folder::prepare(const std::string& folder, std::uint64_t last_tick) {
  discard();
  folder_ = folder;
  names_.clear();
  digits_ = std::max<int>(6, static_cast<int>(std::to_string(last_tick).size()));
  made_folder_ = false;
  if (::mkdir(folder.c_str(), 0777) == 0) {
    made_folder_ = true;
  } else if (errno != EEXIST) {
    return failure(folder, errno);
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return failure(folder, errno);
  if (!S_ISDIR(info.st_mode)) return failure(folder, ENOTDIR);
  std::string pattern = folder + "/.frames-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    const int error = errno;
    if (made_folder_) ::rmdir(folder.c_str());
    made_folder_ = false;
    return failure(folder, error);
  }
  staging_ = pattern;
  return {};
}

std::string frame_folder::name_of(std::uint64_t tick) const {
  char name[48];
  std::snprintf(name, sizeof name, "tick-%0*llu.png", digits_,
                static_cast<unsigned long long>(tick));
  return name;
}

file_result frame_folder::add(std::uint64_t tick, const std::string& png) {
  const std::string name = name_of(tick);
  const std::string path = staging_ + "/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return failure(folder_ + "/" + name, errno);
  names_.push_back(name);
  const int written = write_all(fd, png);
  const int closed = ::close(fd) != 0 ? errno : 0;
  if (written != 0 || closed != 0) return failure(folder_ + "/" + name, written ? written : closed);
  return {};
}

file_result frame_folder::commit() {
  for (const std::string& name : names_) {
    const std::string to = folder_ + "/" + name;
    if (::rename((staging_ + "/" + name).c_str(), to.c_str()) != 0) return failure(to, errno);
  }
  names_.clear();
  ::rmdir(staging_.c_str());
  staging_.clear();
  made_folder_ = false;  // it is the run's output now
  return {};
}

void frame_folder::discard() {
  if (staging_.empty()) return;
  for (const std::string& name : names_) ::unlink((staging_ + "/" + name).c_str());
  names_.clear();
  ::rmdir(staging_.c_str());
  staging_.clear();
  if (made_folder_) ::rmdir(folder_.c_str());
  made_folder_ = false;
}
