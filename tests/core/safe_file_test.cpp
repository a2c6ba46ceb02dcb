// The safe file writer behind world saves and the headless outputs: the user's
// permissions, names byte for byte, symbolic links, and all outputs or none.
#include "core/safe_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/robot.h"
#include "core/world.h"
#include "core/world_file.h"
#include "shell/simulation_reset.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs `body` as an ordinary user (permissions do not bind root) in a child
// process; returns its exit code, or -1 when the switch is not possible.
int as_ordinary_user(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 99 ? -1 : WEXITSTATUS(status);
}

// Saves the world there: 0 on success, 1 on failure with `expected` in the
// message, 2 otherwise.
int save(simulation& sim, const std::string& path, const std::string& expected = "") {
  const file_result saved = world_write_file(sim, path);
  if (!saved) return saved.message().find(expected) != std::string::npos ? 1 : 2;
  return expected.empty() ? 0 : 2;
}

class SafeFileTest : public SimulationTest {
 protected:
  void SetUp() override {
    simulation_reset(app);
    sim.rng.seed(3);
    world_setup(sim);
    world_add_wall(sim, 1, 2, 3, 4);
    text_ = world_format_text(sim);
    dir_ = make_scratch_directory("safe_file_test").string();
    ::chmod(dir_.c_str(), 0777);
  }
  void TearDown() override {
    ::chmod(dir_.c_str(), 0777);
    remove_scratch_directory(dir_);
    world_destroy(sim);
  }
  // A folder of its own owned by the ordinary user, or by root.
  std::string folder(const char* name, mode_t mode, uid_t owner) const {
    const std::string path = dir_ + "/" + name;
    ::mkdir(path.c_str(), 0755);
    if (::geteuid() == 0) (void)::chown(path.c_str(), owner, owner);
    ::chmod(path.c_str(), mode);
    return path;
  }
  void own(const std::string& path, uid_t owner, mode_t mode) {
    if (::geteuid() == 0) (void)::chown(path.c_str(), owner, owner);
    ::chmod(path.c_str(), mode);
  }
  std::string dir_;
  std::string text_;  // what a save writes
};

TEST_F(SafeFileTest, ReadOnlyFileOfTheUserIsRefusedAndLeftAlone) {
  const std::string place = folder("mine", 0755, kNobody);
  const std::string file = place + "/locked.dat";
  write_bytes(file, "old\n");
  own(file, kNobody, 0444);
  const int result = as_ordinary_user([&] { return save(sim, file, "Permission denied"); });
  if (result == -1) GTEST_SKIP() << "cannot switch to an ordinary user";
  EXPECT_EQ(result, 1) << "0: replaced a file the user may not write";
  EXPECT_EQ(read_bytes(file), "old\n");
  EXPECT_EQ(names_in(place), std::vector<std::string>{"locked.dat"});
}

TEST_F(SafeFileTest, WritableFileInAFolderTheUserMayNotWriteIsWrittenInPlace) {
  const std::string place = folder("theirs", 0755, 0);  // root's folder
  const std::string file = place + "/shared.dat";
  const std::string link = place + "/hard-link.dat";
  write_bytes(file, std::string(2000, 'o'));  // longer than the new contents
  own(file, kNobody, 0640);
  ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);

  const int result = as_ordinary_user([&] { return save(sim, file); });
  if (result == -1) GTEST_SKIP() << "cannot switch to an ordinary user";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_bytes(file), text_);
  EXPECT_EQ(read_bytes(link), text_) << "the hard link sees the new contents";
  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(names_in(place), (std::vector<std::string>{"hard-link.dat", "shared.dat"}));
}

TEST_F(SafeFileTest, FileOfSomeoneElseInAStickyFolderIsWrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs a file of another user";
  const std::string place = folder("sticky", 01777, 0);
  const std::string file = place + "/roots.dat";
  write_bytes(file, "old\n");
  own(file, 0, 0666);
  const int result = as_ordinary_user([&] { return save(sim, file); });
  if (result == -1) GTEST_SKIP() << "cannot switch to an ordinary user";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_bytes(file), text_);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u) << "the owner stays";
  EXPECT_EQ(info.st_mode & 07777, 0666u);
  EXPECT_EQ(names_in(place), std::vector<std::string>{"roots.dat"});
}

TEST_F(SafeFileTest, NewFileInAFolderTheUserMayNotWriteIsRefused) {
  const std::string place = folder("closed", 0755, 0);
  const int result =
      as_ordinary_user([&] { return save(sim, place + "/new.dat", "Permission denied"); });
  if (result == -1) GTEST_SKIP() << "cannot switch to an ordinary user";
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(names_in(place).empty());
}

TEST_F(SafeFileTest, NamesAreUsedByteForByte) {
  // Not UTF-8, and the longest names the system takes.
  const std::vector<std::string> names = {"\xff\xfe world.dat", "caf\xe9.dat",
                                          std::string(244, 'a'), std::string(255, 'b'),
                                          std::string(250, '\xe9')};
  for (const std::string& name : names) {
    const std::string path = dir_ + "/" + name;
    ASSERT_EQ(save(sim, path), 0) << name.size();
    EXPECT_EQ(read_bytes(path), world_format_text(sim));
    ASSERT_TRUE(succeeded(world_read_file(sim, path)));
    ASSERT_EQ(save(sim, path), 0);  // and replaced
    EXPECT_EQ(read_bytes(path), world_format_text(sim));
  }
  std::vector<std::string> expected = names;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names_in(dir_), expected) << "no temporary file left, no name mangled";
}

TEST_F(SafeFileTest, SymbolicLinksAreWrittenThroughEvenWhenTheyDangle) {
  const std::string target = dir_ + "/target.dat";
  const std::string dangling = dir_ + "/dangling.dat";
  ASSERT_EQ(::symlink("target.dat", dangling.c_str()), 0);
  const std::string chain = dir_ + "/chain.dat";
  ASSERT_EQ(::symlink("dangling.dat", chain.c_str()), 0);
  ASSERT_EQ(save(sim, chain), 0);
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_TRUE(fs::is_symlink(chain));
  EXPECT_EQ(read_bytes(target), text_);

  // A loop is reported and changes nothing.
  const std::string a = dir_ + "/loop-a";
  const std::string b = dir_ + "/loop-b";
  ASSERT_EQ(::symlink("loop-b", a.c_str()), 0);
  ASSERT_EQ(::symlink("loop-a", b.c_str()), 0);
  EXPECT_EQ(save(sim, a, "Too many levels of symbolic links"), 1);
  EXPECT_TRUE(fs::is_symlink(a));
  EXPECT_EQ(names_in(dir_).size(), 5u);
}

TEST_F(SafeFileTest, AllOrNothing) {
  const std::string kept = dir_ + "/kept.dat";
  write_bytes(kept, "old\n");
  safe_file good;
  safe_file full;
  ASSERT_TRUE(succeeded(good.prepare(kept, false)));
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_TRUE(succeeded(full.prepare("/dev/full", true)));
  good.write("new\n");
  full.write(std::string(1 << 16, 'x'));
  const safe_file* failed = nullptr;
  const file_result finished = safe_file_finish_all({&good, &full}, failed);
  EXPECT_EQ(failure_of(finished), "No space left on device");
  EXPECT_EQ(finished.error().error_number, ENOSPC);
  EXPECT_EQ(finished.error().path, "/dev/full");
  EXPECT_EQ(failed, &full);
  EXPECT_EQ(read_bytes(kept), "old\n");
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"kept.dat"}) << "temporary removed";

  // Both ready: both appear, and only at the commit.
  safe_file first;
  safe_file second;
  ASSERT_TRUE(succeeded(first.prepare(kept, false)));
  ASSERT_TRUE(succeeded(second.prepare(dir_ + "/second.dat", false)));
  first.write("1\n");
  second.write("2\n");
  ASSERT_TRUE(succeeded(safe_file_finish_all({&first, &second}, failed)));
  EXPECT_EQ(read_bytes(kept), "old\n");
  EXPECT_FALSE(fs::exists(dir_ + "/second.dat"));
  ASSERT_TRUE(succeeded(safe_file_commit_all({&first, &second}, failed)));
  EXPECT_EQ(read_bytes(kept), "1\n");
  EXPECT_EQ(read_bytes(dir_ + "/second.dat"), "2\n");
}

TEST_F(SafeFileTest, WorldSavesAndLoadsUnderANameThatIsNotUtf8) {
  robot.x = 2.5;
  const std::string path = dir_ + "/\xff\xfe.dat";
  ASSERT_TRUE(succeeded(world_write_file(sim, path)));
  robot.x = 7;
  ASSERT_TRUE(succeeded(world_read_file(sim, path)));
  EXPECT_EQ(robot.x, 2.5);
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"\xff\xfe.dat"});
}

}  // namespace
