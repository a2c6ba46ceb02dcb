// Names chosen in the file dialogs, turned back into the bytes of the files the
// user saw: Qt shows bytes that are not UTF-8 as U+FFFD.
#include "qt/chosen_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <optional>
#include <string>

namespace {

class ChosenPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  std::string root() const { return QFile::encodeName(dir.path()).toStdString(); }
  void make_file(const std::string& name) const { std::ofstream(root() + "/" + name) << "x\n"; }
  // What the dialog hands back for a name: bytes that are not UTF-8 become U+FFFD.
  QString as_dialog_shows(const std::string& name) const {
    return QFile::decodeName(QByteArray::fromStdString(root() + "/" + name));
  }

  QTemporaryDir dir;
};

TEST_F(ChosenPathTest, NamesThatAreTextAreTheirOwnBytes) {
  EXPECT_EQ(path_of_chosen_name(as_dialog_shows("world.dat")).bytes, root() + "/world.dat");
  EXPECT_EQ(path_of_chosen_name(QStringLiteral("relative/é.dat")).bytes, "relative/\xc3\xa9.dat");
}

TEST_F(ChosenPathTest, ANameThatIsNotUtf8BecomesItsBytesAgain) {
  make_file("\xff.dat");
  const QString shown = as_dialog_shows("\xff.dat");
  ASSERT_TRUE(shown.contains(QChar(0xFFFD)));
  const chosen_path path = path_of_chosen_name(shown);
  EXPECT_EQ(path.error, "");
  EXPECT_EQ(path.bytes, root() + "/\xff.dat");
}

TEST_F(ChosenPathTest, AFolderThatIsNotUtf8IsFoundAndANewNameInItKept) {
  ASSERT_EQ(mkdir((root() + "/\xfe\xfd").c_str(), 0700), 0);
  const chosen_path path = path_of_chosen_name(as_dialog_shows("\xfe\xfd/new.dat"));
  EXPECT_EQ(path.error, "");
  EXPECT_EQ(path.bytes, root() + "/\xfe\xfd/new.dat");
}

TEST_F(ChosenPathTest, AGenuineReplacementCharacterIsKept) {
  make_file("\xef\xbf\xbd.dat");  // U+FFFD itself, in UTF-8
  EXPECT_EQ(path_of_chosen_name(as_dialog_shows("\xef\xbf\xbd.dat")).bytes,
            root() + "/\xef\xbf\xbd.dat");
  // A new name holding U+FFFD where no file reads alike: the text is the name.
  EXPECT_EQ(path_of_chosen_name(as_dialog_shows("\xef\xbf\xbd\xef\xbf\xbd.dat")).bytes,
            root() + "/\xef\xbf\xbd\xef\xbf\xbd.dat");
}

TEST_F(ChosenPathTest, NamesThatLookAlikeAreRefusedRatherThanGuessed) {
  make_file("\xff.dat");
  make_file("\xef\xbf\xbd.dat");
  const chosen_path path = path_of_chosen_name(as_dialog_shows("\xff.dat"));
  EXPECT_TRUE(path.bytes.empty());
  EXPECT_NE(path.error.find("more than one file"), std::string::npos) << path.error;
}

// Sets HOME for one test and puts the old value back afterwards.
class home_as {
 public:
  explicit home_as(const std::optional<std::string>& value)
      : had_(qEnvironmentVariableIsSet("HOME")), old_(qgetenv("HOME")) {
    if (value) {
      qputenv("HOME", QByteArray::fromStdString(*value));
    } else {
      qunsetenv("HOME");
    }
  }
  ~home_as() {
    if (had_) {
      qputenv("HOME", old_);
    } else {
      qunsetenv("HOME");
    }
  }

 private:
  bool had_;
  QByteArray old_;
};

TEST_F(ChosenPathTest, DialogsStartInTheHomeFolderOrElseTheCurrentDirectory) {
  const std::string not_text = root() + "/\xff";
  ASSERT_EQ(mkdir(not_text.c_str(), 0700), 0);
  make_file("a-file");
  const QString cwd = QDir::currentPath();
  const struct {
    std::optional<std::string> home;
    QString start;
  } cases[] = {
      {root(), dir.path()},     {std::nullopt, cwd},        {"", cwd},
      {"relative/folder", cwd}, {root() + "/missing", cwd}, {root() + "/a-file", cwd},
      {not_text, cwd},  // its text would be another folder
  };
  for (const auto& c : cases) {
    const home_as home(c.home);
    EXPECT_EQ(dialog_start_directory(), c.start) << c.home.value_or("(unset)");
  }
}

TEST_F(ChosenPathTest, DialogsStartInACurrentDirectoryThatIsNotUtf8) {
  const home_as no_home(std::nullopt);
  const std::string folder = root() + "/\xff";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const QString before = QDir::currentPath();
  ASSERT_EQ(chdir(folder.c_str()), 0);
  const QString start = dialog_start_directory();
  ASSERT_EQ(chdir(QFile::encodeName(before).constData()), 0);
  // The text of the folder's name would be another folder; this one is the same.
  EXPECT_EQ(start, QStringLiteral("/proc/self/cwd"));
  EXPECT_EQ(dialog_start_directory(), before);
}

}  // namespace
