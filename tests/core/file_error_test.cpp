// The failures of world files as values: the kind, the errno and the file,
// from real failures (a missing file, a folder, a pipe, bad content, a
// read-only place), as Python and the window take them. The full disk's EFBIG
// and a folder an ordinary user may not write (EACCES) are in world_file_test.
#include "core/file_error.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/world_file.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct failure_case {
  const char* what;
  std::function<file_result(simulation&, const fs::path& dir)> run;
  file_error_kind kind;
  int error_number;
  const char* file;  // the file the failure names, within the folder ("" for none)
};

// Runs `body` in a child process, which may change its user or its mounts
// without touching the test's; its exit code, or -1 when it did not end normally.
int in_child(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) ::_exit(body());
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// 0 when the result is a failure of the file system with this errno, 1 when it
// succeeded, 2 for another failure.
int exit_code_for(const file_result& result, int error_number) {
  if (result) return 1;
  const file_error& e = result.error();
  return e.kind == file_error_kind::file_system && e.error_number == error_number ? 0 : 2;
}

constexpr int kCannotSetUp = 99;

class FileErrorTest : public SimulationTest {
 protected:
  void SetUp() override {
    SimulationTest::SetUp();
    dir_ = make_scratch_directory("file_error_test");
  }
  void TearDown() override { remove_scratch_directory(dir_); }

  fs::path dir_;
};

TEST_F(FileErrorTest, RealFailuresCarryTheirKindErrnoAndFile) {
  const std::vector<failure_case> cases = {
      {"load a missing file",
       [](simulation& s, const fs::path& d) { return world_read_file(s, (d / "missing.dat")); },
       file_error_kind::file_system, ENOENT, "missing.dat"},
      {"load a folder",
       [](simulation& s, const fs::path& d) { return world_read_file(s, (d / "folder")); },
       file_error_kind::file_system, EISDIR, "folder"},
      {"load a named pipe",
       [](simulation& s, const fs::path& d) { return world_read_file(s, (d / "pipe")); },
       file_error_kind::file_system, 0, "pipe"},
      {"load bad content",
       [](simulation& s, const fs::path& d) { return world_read_file(s, (d / "bad.dat")); },
       file_error_kind::content, 0, "bad.dat"},
      {"load a file too large to be a world",
       [](simulation& s, const fs::path& d) { return world_read_file(s, (d / "huge.dat")); },
       file_error_kind::content, 0, "huge.dat"},
      {"load without a name", [](simulation& s, const fs::path&) { return world_read_file(s, ""); },
       file_error_kind::file_system, ENOENT, nullptr},
      {"save into a missing folder",
       [](simulation& s, const fs::path& d) {
         return world_write_file(s, (d / "missing" / "w.dat").string());
       },
       file_error_kind::file_system, ENOENT, "missing/w.dat"},
      {"save over a folder",
       [](simulation& s, const fs::path& d) { return world_write_file(s, (d / "folder")); },
       file_error_kind::file_system, EISDIR, "folder"},
      {"save over a named pipe",
       [](simulation& s, const fs::path& d) { return world_write_file(s, (d / "pipe")); },
       file_error_kind::file_system, 0, "pipe"},
      {"save a world that is not finite",
       [](simulation& s, const fs::path& d) {
         s.robot.heading = std::numeric_limits<double>::infinity();
         return world_write_file(s, (d / "w.dat"));
       },
       file_error_kind::content, 0, "w.dat"},
  };
  fs::create_directory(dir_ / "folder");
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  write_bytes(dir_ / "bad.dat", "1 2 x\n");
  {
    std::FILE* huge = std::fopen((dir_ / "huge.dat").c_str(), "wb");
    ASSERT_NE(huge, nullptr);
    ASSERT_EQ(::ftruncate(::fileno(huge), static_cast<off_t>(kWorldFileMaxBytes + 1)), 0);
    std::fclose(huge);
  }
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.what);
    start_afresh();
    const file_result result = c.run(sim, dir_);
    ASSERT_FALSE(result);
    const file_error& error = result.error();
    EXPECT_EQ(error.kind, c.kind);
    EXPECT_EQ(error.error_number, c.error_number);
    EXPECT_EQ(error.path, c.file == nullptr ? "" : (dir_ / c.file).string());
    EXPECT_FALSE(error.message.empty());
  }
  EXPECT_FALSE(fs::exists(dir_ / "w.dat"));
}

TEST_F(FileErrorTest, AReadOnlyFileSystemIsCalledSoAlsoWhereThePermissionsRefuse) {
  // In a mount namespace of the child's own: the folder bound onto itself
  // read-only, then written as root and as an ordinary user, to whom the
  // folder's permissions alone would also refuse a new file.
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  const std::string folder = dir_.string();
  const std::string file = (dir_ / "w.dat").string();
  const int code = in_child([&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      return kCannotSetUp;
    }
    if (const int as_root = exit_code_for(world_write_file(sim, file), EROFS); as_root != 0) {
      return 10 + as_root;
    }
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 0;  // root's case alone
    return 20 + exit_code_for(world_write_file(sim, file), EROFS);
  });
  if (code == kCannotSetUp) GTEST_SKIP() << "no read-only mount can be made here";
  EXPECT_TRUE(code == 0 || code == 20) << "1x: as root, 2x: as an ordinary user (x: 1 saved, "
                                          "2 another failure): "
                                       << code;
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
