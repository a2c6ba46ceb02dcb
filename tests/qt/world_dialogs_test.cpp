// File > Open and File > Save with the real dialogs, answered by a timer the way a
// user would: choose a file, cancel, or acknowledge a message box.
#include "qt/world_dialogs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <sstream>
#include <string>

#include "core/automode.h"
#include "core/console.h"
#include "core/robot.h"
#include "core/world.h"
#include "core/world_file.h"
#include "shell/driver.h"
#include "shell/simulator.h"

namespace {

// The file dialog opened last that is still on the screen, if any.
QFileDialog* newest_file_dialog() {
  QFileDialog* newest = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QFileDialog*>(widget);
    if (dialog != nullptr && dialog->isVisible()) newest = dialog;
  }
  return newest;
}

// Answers whatever window comes up: a file dialog gets the chosen file (or
// is cancelled when the file is empty), a message box has its text kept and is
// closed.
class dialog_answerer {
 public:
  explicit dialog_answerer(QString file) : file_(std::move(file)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
    timer_.start(20);
  }

  QString filter;   // the filter the file dialog offered
  QString folder;   // the folder the file dialog showed first
  QString message;  // the text of the last message box
  bool confirmed_overwrite = false;
  int file_dialogs = 0;

 private:
  void answer() {
    QWidget* modal = QApplication::activeModalWidget();
    // A dialog that will not go away fails the test instead of hanging it.
    if (++ticks_ > 250) {
      ADD_FAILURE() << "a dialog stayed open";
      if (auto* dialog = qobject_cast<QDialog*>(modal))
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
      close_world_dialogs();
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (box->text().contains(QLatin1String("already exists"))) {
        confirmed_overwrite = true;
        if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
          yes->click();
        } else {
          box->accept();
        }
      } else {
        message = box->text();
        box->accept();
      }
      return;
    }
    QFileDialog* dialog = newest_file_dialog();
    if (dialog == nullptr || answered_.contains(dialog)) return;
    answered_.insert(dialog);
    ++file_dialogs;
    filter = dialog->selectedNameFilter();
    folder = dialog->directory().absolutePath();
    // Queued, so the confirmation box that accepting may open runs in the event
    // loop rather than inside this timer's handler, and is answered in turn.
    if (file_.isEmpty()) {
      QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    } else {
      // Typed into the name field, as a user would: selectFile() leaves the
      // field alone while it has the keyboard focus.
      if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        name->setText(file_);
      } else {
        dialog->selectFile(file_);
      }
      QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    }
  }

  QSet<QFileDialog*> answered_;
  QString file_;
  QTimer timer_;
  int ticks_ = 0;
};

class WorldDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    sim().rng.seed(4);
    sim().display_x = 640;
    sim().display_y = 480;
    world_setup(sim());
    set_console_sink(sim(), [this](std::string_view text) { console.append(text); });
  }

  simulator& app() { return *app_; }
  simulation& sim() { return app_->sim; }
  world_state& world() { return app_->sim.world; }
  robot_state& robot() { return app_->sim.robot; }
  std::unique_ptr<simulator> app_ = std::make_unique<simulator>();

  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  static std::string read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  QTemporaryDir dir;
  std::string console;
};

TEST_F(WorldDialogsTest, SaveWritesTheWorldToTheChosenFile) {
  world_add_wall(sim(), 1.0, 2.0, 3.0, 0.5);
  const std::string file = path("saved.dat");
  dialog_answerer answerer(QString::fromStdString(file));
  world_save(sim());
  EXPECT_EQ(answerer.filter, "Map files (*.dat)");
  EXPECT_EQ(read(file), world_format_text(sim()));
  EXPECT_TRUE(answerer.message.isEmpty());
}

TEST_F(WorldDialogsTest, SaveAsksBeforeReplacingAFile) {
  const std::string file = path("old.dat");
  std::ofstream(file) << "old\n";
  dialog_answerer answerer(QString::fromStdString(file));
  world_save(sim());
  EXPECT_TRUE(answerer.confirmed_overwrite);
  EXPECT_EQ(read(file), world_format_text(sim()));
}

TEST_F(WorldDialogsTest, CancelledSaveWritesErerAndNoFile) {
  dialog_answerer answerer(QString{});
  world_save(sim());
  EXPECT_EQ(answerer.file_dialogs, 1);
  EXPECT_EQ(console, "erer");
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST_F(WorldDialogsTest, FailedSaveNamesTheFileAndTheReason) {
  const std::string file = path("no-such-directory/world.dat");
  const file_result saved = world_write_file(sim(), file);
  ASSERT_FALSE(saved);
  const std::string expected_reason = saved.message();
  dialog_answerer answerer(QString::fromStdString(file));
  world_save(sim());
  EXPECT_TRUE(answerer.message.contains(QLatin1String("world.dat")))
      << answerer.message.toStdString();
  // The reason, without the file name it starts with.
  const std::string reason = expected_reason.substr(expected_reason.rfind(": ") + 2);
  EXPECT_TRUE(answerer.message.contains(QString::fromStdString(reason)))
      << answerer.message.toStdString();
}

TEST_F(WorldDialogsTest, OpenLoadsTheChosenFile) {
  const std::string file = path("room.dat");
  std::ofstream(file) << "2.500000\n7.250000\n1.500000\n1\n1.000000 1.000000 2.000000 3.000000\n";
  dialog_answerer answerer(QString::fromStdString(file));
  world_load(sim());
  EXPECT_EQ(answerer.filter, "World files (*.dat)");
  EXPECT_TRUE(answerer.message.isEmpty());
  ASSERT_EQ(world().num_walls, 1);
  EXPECT_EQ(world().walls->height, 3.0);
  EXPECT_EQ(robot().x, 2.5);
  EXPECT_EQ(robot().heading, 1.5);
}

TEST_F(WorldDialogsTest, BothDialogsStartInTheHomeFolder) {
  const QByteArray home = qgetenv("HOME");
  qputenv("HOME", QFile::encodeName(dir.path()));
  for (void (*command)(simulation&, QWidget*) : {world_load, world_save}) {
    dialog_answerer answerer(QString{});
    command(sim(), nullptr);
    EXPECT_EQ(answerer.folder, dir.path());
  }
  qputenv("HOME", home);
}

TEST_F(WorldDialogsTest, AFileOpenedByNameLoadsOrIsReportedLikeAChosenOne) {
  const std::string good = path("room.dat");
  std::ofstream(good) << "2.500000\n7.250000\n1.500000\n1\n1.000000 1.000000 2.000000 3.000000\n";
  const std::string bad = path("broken.dat");
  std::ofstream(bad) << "not a world\n";
  const struct {
    std::string file;
    const char* reported;  // in the message, or nullptr for none
    int walls_after;
  } cases[] = {
      {good, nullptr, 1},
      {bad, "Cannot open world file", 1},
      {path("missing.dat"), "missing.dat", 1},
      {QFile::encodeName(dir.path()).toStdString(), "Cannot open world file", 1},  // a folder
  };
  for (const auto& c : cases) {
    dialog_answerer answerer(QString{});
    world_open(sim(), c.file);
    if (c.reported == nullptr) {
      EXPECT_TRUE(answerer.message.isEmpty()) << answerer.message.toStdString();
    } else {
      EXPECT_TRUE(answerer.message.contains(QLatin1String(c.reported)))
          << c.file << ": " << answerer.message.toStdString();
    }
    EXPECT_EQ(answerer.file_dialogs, 0);
    EXPECT_EQ(world().num_walls, c.walls_after) << c.file;
  }
}

TEST_F(WorldDialogsTest, CancelledOpenChangesNothing) {
  world_add_wall(sim(), 1.0, 2.0, 3.0, 0.5);
  const std::string before = world_format_text(sim());
  dialog_answerer answerer(QString{});
  world_load(sim());
  EXPECT_EQ(answerer.file_dialogs, 1);
  EXPECT_EQ(world_format_text(sim()), before);
  EXPECT_TRUE(answerer.message.isEmpty());
}

TEST_F(WorldDialogsTest, UnreadableFileIsReportedAndTheWorldStaysAsItWas) {
  const std::string file = path("broken.dat");
  std::ofstream(file) << "not a world\n";
  const std::string before = world_format_text(sim());
  dialog_answerer answerer(QString::fromStdString(file));
  world_load(sim());
  EXPECT_TRUE(answerer.message.contains(QLatin1String("broken.dat")))
      << answerer.message.toStdString();
  EXPECT_GT(answerer.message.size(), QStringLiteral("broken.dat").size() + 20);
  EXPECT_EQ(world_format_text(sim()), before);
  EXPECT_EQ(world().num_walls, 4);
}

TEST_F(WorldDialogsTest, SaveIntoAFolderNamedWithBytesThatAreNotUtf8) {
  const std::string folder = QFile::encodeName(dir.path()).toStdString() + "/\xff";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  // Typed as the dialog shows the folder: U+FFFD for the byte 0xff.
  dialog_answerer answerer(QFile::decodeName(QByteArray::fromStdString(folder + "/w.dat")));
  world_save(sim());
  EXPECT_TRUE(answerer.message.isEmpty()) << answerer.message.toStdString();
  EXPECT_EQ(read(folder + "/w.dat"), world_format_text(sim()));
  // Nothing was made under the text of the name.
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("\uFFFD"))));
}

TEST_F(WorldDialogsTest, OpenRefusesANameThatCouldBeEitherOfTwoFiles) {
  // Byte for byte: path() would take the names as UTF-8 text.
  const std::string root = QFile::encodeName(dir.path()).toStdString() + "/";
  std::ofstream(root + "\xff.dat") << "1\n1\n0\n0\n";
  std::ofstream(root + "\xef\xbf\xbd.dat") << "2\n2\n0\n0\n";
  const std::string before = world_format_text(sim());
  dialog_answerer answerer(QFile::decodeName(QByteArray::fromStdString(root + "\xff.dat")));
  world_load(sim());
  EXPECT_TRUE(answerer.message.contains(QLatin1String("more than one file")))
      << answerer.message.toStdString();
  EXPECT_EQ(world_format_text(sim()), before);
}

}  // namespace
