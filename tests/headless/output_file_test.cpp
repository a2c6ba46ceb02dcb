#include "headless/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

QStringList entries(const QTemporaryDir& dir) {
  return QDir(dir.path())
      .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

class OutputFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  std::string path(const char* name) const { return dir_.path().toStdString() + "/" + name; }
  QTemporaryDir dir_;
};

TEST_F(OutputFile, AppearsOnlyOnCommit) {
  output_file out;
  std::string error;
  ASSERT_TRUE(out.open(path("result.csv"), error)) << error;
  out.write("a,b\n");
  std::fprintf(out.stream(), "%d,%d\n", 1, 2);
  // Before the commit only a hidden temporary file exists.
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path("result.csv"))));
  ASSERT_EQ(entries(dir_).size(), 1);
  EXPECT_TRUE(entries(dir_).first().startsWith(".result.csv.tmp-"));

  ASSERT_TRUE(out.commit(error)) << error;
  EXPECT_EQ(read_all(path("result.csv")), "a,b\n1,2\n");
  EXPECT_EQ(entries(dir_), QStringList{"result.csv"});
  // An ordinary new file, not the private mode of a temporary file.
  struct stat info {};
  ASSERT_EQ(::stat(path("result.csv").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & 0044, 0u);
}

TEST_F(OutputFile, DiscardLeavesTheOldFileAndNoTemporary) {
  std::ofstream(path("keep.txt")) << "old";
  {
    output_file out;
    std::string error;
    ASSERT_TRUE(out.open(path("keep.txt"), error)) << error;
    out.write("new and unfinished");
    // Going out of scope without a commit discards, as on an error path.
  }
  EXPECT_EQ(read_all(path("keep.txt")), "old");
  EXPECT_EQ(entries(dir_), QStringList{"keep.txt"});
}

TEST_F(OutputFile, CommitReplacesAnExistingFile) {
  std::ofstream(path("over.txt")) << "old contents that are longer";
  output_file out;
  std::string error;
  ASSERT_TRUE(out.open(path("over.txt"), error));
  out.write("new");
  ASSERT_TRUE(out.commit(error)) << error;
  EXPECT_EQ(read_all(path("over.txt")), "new");
}

TEST_F(OutputFile, UnwritablePlacesFailAtOpen) {
  output_file out;
  std::string error;
  EXPECT_FALSE(out.open(path("no/such/dir/file.csv"), error));
  EXPECT_NE(error.find("cannot write"), std::string::npos);
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_FALSE(out.open(dir_.path().toStdString(), error));
  EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
  EXPECT_FALSE(out.is_open());
  EXPECT_TRUE(entries(dir_).isEmpty());
}

TEST_F(OutputFile, WritesThroughASymbolicLink) {
  std::ofstream(path("real.txt")) << "old";
  ASSERT_EQ(::symlink("real.txt", path("link.txt").c_str()), 0);
  output_file out;
  std::string error;
  ASSERT_TRUE(out.open(path("link.txt"), error)) << error;
  out.write("new");
  ASSERT_TRUE(out.commit(error)) << error;
  struct stat info {};
  ASSERT_EQ(::lstat(path("link.txt").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";
  EXPECT_EQ(read_all(path("real.txt")), "new");
  EXPECT_EQ(entries(dir_), (QStringList{"link.txt", "real.txt"}));
}

TEST_F(OutputFile, KeepsTheModeOfAFileItReplaces) {
  std::ofstream(path("mode.txt")) << "old";
  ASSERT_EQ(::chmod(path("mode.txt").c_str(), 0640), 0);
  output_file out;
  std::string error;
  ASSERT_TRUE(out.open(path("mode.txt"), error));
  ASSERT_TRUE(out.commit(error)) << error;
  struct stat info {};
  ASSERT_EQ(::stat(path("mode.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(OutputFile, APipeIsWrittenDirectlyNotReplaced) {
  const std::string fifo = path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_all(fifo); });
  output_file out;
  std::string error;
  const bool opened = out.open(fifo, error);
  out.write("through the pipe");
  const bool committed = opened && out.commit(error);
  if (!opened) std::ofstream(fifo) << "";  // let the reader finish
  reader.join();
  ASSERT_TRUE(committed) << error;
  EXPECT_EQ(received, "through the pipe");
  struct stat info {};
  ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(entries(dir_), QStringList{"pipe"});
}

TEST_F(OutputFile, ARelativeNameGoesToTheWorkingDirectory) {
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  output_file out;
  std::string error;
  const bool opened = out.open("plain.txt", error);
  out.write("x");
  const bool committed = opened && out.commit(error);
  QDir::setCurrent(previous);
  ASSERT_TRUE(committed) << error;
  EXPECT_EQ(read_all(path("plain.txt")), "x");
}

}  // namespace
