// The real main window on Qt's offscreen platform: start-up, menu, timers, keys,
// painting, resizing, mouse editing and the three ways the program ends.
#include "qt/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>

#include "core/automode.h"
#include "core/robot.h"
#include "core/world.h"
#include "qt/simulation_view.h"
#include "qt/world_dialogs.h"
#include "qtdraw/qimage_context.h"
#include "shell/driver.h"
#include "shell/mouse_edit.h"
#include "shell/simulator.h"

namespace {

// Runs `action` from the event loop once `ready` holds, polled every few
// milliseconds while the loop (or a dialog's) runs.
void when(QObject* context, std::function<bool()> ready, std::function<void()> action) {
  auto* poll = new QTimer(context);
  QObject::connect(poll, &QTimer::timeout, context,
                   [poll, ready = std::move(ready), action = std::move(action)] {
                     if (!ready()) return;
                     poll->stop();
                     poll->deleteLater();
                     action();
                   });
  poll->start(5);
}

// The ticks the window runs from now on: its per-second count of updates, read
// every few milliseconds and summed across the resets of the rate timer (ticks
// between a read and a reset are lost, so the count never runs ahead).
class tick_count {
 public:
  explicit tick_count(const simulator& app) : app_(app), last_(app.driver.updates) {
    QObject::connect(&poll_, &QTimer::timeout, [this] { read(); });
    poll_.start(2);
  }
  int read() {
    const int now = app_.driver.updates;
    total_ += now >= last_ ? now - last_ : now;
    last_ = now;
    return total_;
  }

 private:
  const simulator& app_;
  int last_;
  int total_ = 0;
  QTimer poll_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MainWindow>();
    window->show();
    QApplication::processEvents();
    view = window->view();
    // A condition that never comes fails the test instead of hanging it: every
    // event loop ends and every dialog closes.
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] {
      ADD_FAILURE() << "the test waited two minutes for a condition that never came";
      close_world_dialogs();
      QApplication::exit(-1);
    });
    deadline.start(120000);
  }

  void TearDown() override { window.reset(); }

  // The window's simulator and its parts.
  simulator& app() const { return view->app(); }
  simulation& sim() const { return app().sim; }
  world_state& world() const { return sim().world; }
  robot_state& robot() const { return sim().robot; }

  void send_key(QEvent::Type type, int key, bool repeat = false) {
    QKeyEvent event(type, key, Qt::NoModifier, 0, 0, 0, QString(), repeat);
    QApplication::sendEvent(view, &event);
  }
  void click_key(int key) {
    send_key(QEvent::KeyPress, key);
    send_key(QEvent::KeyRelease, key);
  }
  void send_mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), view->mapToGlobal(QPointF(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(view, &event);
  }
  const qimage_context* image() const { return dynamic_cast<qimage_context*>(app().memdc.get()); }

  std::unique_ptr<MainWindow> window;
  SimulationView* view = nullptr;
  QTimer deadline;
};

TEST_F(MainWindowTest, TitleSizeAndFileMenu) {
  EXPECT_EQ(window->windowTitle(), "Robot Simulator");
  EXPECT_EQ(window->frameGeometry().size(), QSize(640, 480));
  const QList<QAction*> menus = window->menuBar()->actions();
  ASSERT_EQ(menus.size(), 1);
  EXPECT_EQ(menus[0]->text(), "&File");
  const QList<QAction*> items = menus[0]->menu()->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), "&Open");
  EXPECT_EQ(items[0]->data().toInt(), 100);
  EXPECT_EQ(items[1]->text(), "&Save");
  EXPECT_EQ(items[1]->data().toInt(), 101);
  EXPECT_EQ(items[2]->text(), "E&xit");
  EXPECT_EQ(items[2]->data().toInt(), 102);
}

TEST_F(MainWindowTest, StartUpBuildsTheWorldAndTheImageAndStartsBothTimers) {
  ASSERT_TRUE(view->isRunning());
  EXPECT_EQ(world().num_walls, 4);
  ASSERT_NE(image(), nullptr);
  // The image is the client area: the window less its menu bar.
  EXPECT_EQ(image()->width(), view->width());
  EXPECT_EQ(image()->height(), view->height());
  EXPECT_EQ(sim().display_x, view->width());
  EXPECT_EQ(sim().display_y, view->height());
  EXPECT_LT(view->height(), 480);
  EXPECT_EQ(view->timerPeriod(kTickTimerId), 10);
  EXPECT_EQ(view->timerPeriod(kRateTimerId), 1000);
}

TEST_F(MainWindowTest, TicksRunFromTheEventLoop) {
  tick_count ticks(app());
  when(view, [&ticks] { return ticks.read() > 5; }, [] { QApplication::exit(5); });
  EXPECT_EQ(QApplication::exec(), 5);
}

TEST_F(MainWindowTest, ShortAndZeroPeriodsRunAtTenMilliseconds) {
  click_key(Qt::Key_Up);
  EXPECT_EQ(app().driver.timer_val, 9);
  EXPECT_EQ(view->timerPeriod(kTickTimerId), 10);
  app().driver.timer_val = 0;
  click_key(Qt::Key_Up);
  EXPECT_EQ(app().driver.timer_val, 0);
  EXPECT_EQ(view->timerPeriod(kTickTimerId), 10);
  for (int k = 0; k < 25; ++k) click_key(Qt::Key_Down);
  EXPECT_EQ(app().driver.timer_val, 25);
  EXPECT_EQ(view->timerPeriod(kTickTimerId), 25);
  EXPECT_EQ(view->timerPeriod(kRateTimerId), 1000);
}

TEST_F(MainWindowTest, KeysReachTheKeyTable) {
  click_key(Qt::Key_Space);
  EXPECT_TRUE(app().driver.show_stats);
  click_key(Qt::Key_G);
  EXPECT_TRUE(world().show_grad);
  click_key(Qt::Key_M);
  EXPECT_TRUE(sim().manual_mode);
  click_key(Qt::Key_T);
  EXPECT_FALSE(world().show_walls);
}

TEST_F(MainWindowTest, HeldKeyStaysDownThroughAutoRepeatAndEveryRepeatActs) {
  send_key(QEvent::KeyPress, Qt::Key_2);
  EXPECT_NEAR(world().scale1, 0.12, 1e-12);
  for (int k = 0; k < 3; ++k) {
    send_key(QEvent::KeyRelease, Qt::Key_2, true);
    EXPECT_TRUE(app().driver.keys['2']);
    send_key(QEvent::KeyPress, Qt::Key_2, true);
  }
  EXPECT_NEAR(world().scale1, 0.15, 1e-12);
  send_key(QEvent::KeyRelease, Qt::Key_2);
  EXPECT_FALSE(app().driver.keys['2']);
}

TEST_F(MainWindowTest, LosingTheKeyboardLetsGoOfHeldKeys) {
  send_key(QEvent::KeyPress, Qt::Key_W);
  ASSERT_TRUE(app().driver.keys['W']);
  QFocusEvent focus_out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(view, &focus_out);
  EXPECT_FALSE(app().driver.keys['W']);
}

TEST_F(MainWindowTest, PaintingCopiesTheImageAndDrawsTheStatisticsLine) {
  QImage shown = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), image()->image().size());
  EXPECT_EQ(shown, image()->image());
  // The left boundary wall in its colour, the world white inside.
  EXPECT_EQ(shown.pixel(1, view->height() / 2), qRgb(0, 128, 200));

  app().driver.updates_per_second = 98;
  app().driver.show_stats = true;
  EXPECT_EQ(view->statisticsLine(),
            "Update rate:  98 scale1 0.110000 scale2 0.860000 scale3: 0.193000");
  shown = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int dark = 0;
  for (int y = 1; y < 16; ++y)
    for (int x = 1; x < 300; ++x) dark += qGray(shown.pixel(x, y)) < 100;
  EXPECT_GT(dark, 150);
  // The line is drawn into the image itself.
  EXPECT_EQ(shown, image()->image());
}

TEST_F(MainWindowTest, ResizeRecreatesTheImageAtTheNewSizeAndDrawsIt) {
  window->resize(800, 600);
  QApplication::processEvents();
  ASSERT_NE(image(), nullptr);
  EXPECT_EQ(image()->width(), view->width());
  EXPECT_EQ(image()->height(), view->height());
  EXPECT_EQ(sim().display_x, 800);
  // Drawn at once: the right boundary wall sits at the new right edge.
  EXPECT_EQ(image()->image().pixel(sim().display_x - 1, sim().display_y / 2), qRgb(0, 128, 200));
}

TEST(SimulationViewAlone, ZeroSizedClientAreaNeitherCrashesNorGivesNaN) {
  QWidget frame;
  frame.resize(300, 200);
  auto* view = new SimulationView(&frame);
  const auto app = [view]() -> simulator& { return view->app(); };
  const auto sim = [view]() -> simulation& { return view->app().sim; };
  const auto world = [view]() -> world_state& { return view->app().sim.world; };
  view->resize(300, 200);
  frame.show();
  QApplication::processEvents();
  ASSERT_TRUE(view->isRunning());

  view->resize(0, 0);  // a minimised client area
  QApplication::processEvents();
  EXPECT_EQ(sim().display_x, 0);
  EXPECT_EQ(sim().display_y, 0);
  ASSERT_NE(app().memdc, nullptr);
  world().show_grad = true;
  timer_message(app(), *view, kTickTimerId);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view, &press);
  EXPECT_TRUE(std::isfinite(world().walls->x));
  EXPECT_TRUE(std::isfinite(world().walls->y));
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view, &release);
  view->grab();  // painting a 0 x 0 image

  view->resize(300, 200);  // restored
  QApplication::processEvents();
  EXPECT_EQ(sim().display_x, 300);
  EXPECT_EQ(dynamic_cast<qimage_context*>(app().memdc.get())->width(), 300);

  view->shutDown();
}

TEST_F(MainWindowTest, LeftDragDrawsAWallAndTheReleaseEndsItEvenOutsideTheWindow) {
  const int walls = world().num_walls;
  send_mouse(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
  send_mouse(QEvent::MouseMove, {200, 150}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(world().num_walls, walls + 1);
  const double width = world().walls->width;
  EXPECT_NEAR(width, 100.0 / sim().display_x * 10.0, 1e-9);
  // Released outside the window (the mouse is captured, so the release arrives).
  send_mouse(QEvent::MouseButtonRelease, {-40, 900}, Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(app().mouse.mouse_is_down);
  send_mouse(QEvent::MouseMove, {300, 300}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(world().walls->width, width);
}

TEST_F(MainWindowTest, RightButtonPlacesAndDragsTheTarget) {
  const QPoint first(sim().display_x / 4, sim().display_y / 4);
  send_mouse(QEvent::MouseButtonPress, first, Qt::RightButton, Qt::RightButton);
  EXPECT_EQ(world().target_x, get_world_x(sim(), first.x()));
  EXPECT_EQ(world().target_y, get_world_y(sim(), first.y()));
  const QPoint second(sim().display_x / 2, sim().display_y / 2);
  send_mouse(QEvent::MouseMove, second, Qt::NoButton, Qt::RightButton);
  EXPECT_EQ(world().target_x, get_world_x(sim(), second.x()));
  EXPECT_EQ(world().target_y, get_world_y(sim(), second.y()));
  send_mouse(QEvent::MouseButtonRelease, {sim().display_x / 2, sim().display_y / 2},
             Qt::RightButton, Qt::NoButton);
  EXPECT_FALSE(app().mouse.right_mouse_down);
}

// The one file dialog on the screen, if exactly one is.
QFileDialog* the_file_dialog() {
  QFileDialog* found = nullptr;
  int visible = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible()) {
      found = dialog;
      ++visible;
    }
  }
  return visible == 1 ? found : nullptr;
}

// Types the file into the one open dialog and accepts it, as a user would.
void choose_in_dialog(const QString& file) {
  QFileDialog* dialog = the_file_dialog();
  ASSERT_NE(dialog, nullptr);
  dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
  QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
}

TEST_F(MainWindowTest, WindowGoesOnWhileAFileDialogIsOpenAndCommandsNest) {
  QTemporaryDir dir;
  const QString one_wall = dir.filePath(QStringLiteral("one.dat"));
  const QString two_walls = dir.filePath(QStringLiteral("two.dat"));
  std::ofstream(one_wall.toStdString()) << "1\n1\n0\n1\n4 4 1 1\n";
  std::ofstream(two_walls.toStdString()) << "2\n2\n0\n2\n4 4 1 1\n6 6 1 1\n";
  tick_count ticks(app());
  int ticks_before = 0;
  bool nested_saw_two_dialogs = false;
  when(view, [] { return the_file_dialog() != nullptr; }, [&] {
    // The dialog is open, owns nothing and blocks nothing.
    ASSERT_EQ(open_world_dialogs(), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(the_file_dialog()->parentWidget(), nullptr);
    ticks_before = ticks.read();
    click_key(Qt::Key_Space);
    const QPoint at(sim().display_x / 4, sim().display_y / 4);
    send_mouse(QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
    send_mouse(QEvent::MouseButtonRelease, at, Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(world().target_x, get_world_x(sim(), at.x()));
    // A second Open while the first is open: nested inside this handler. It is
    // answered once ticks have gone on behind both dialogs.
    const auto nested_open_and_ticking = [&] {
      return open_world_dialogs() == 2 && ticks.read() > ticks_before + 5;
    };
    when(view, nested_open_and_ticking, [&] {
      nested_saw_two_dialogs = true;
      // Answer the newer one: the older is hidden from the_file_dialog() while
      // both show, so hide the outer one's twin by choosing through the newest.
      QFileDialog* newest = nullptr;
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QFileDialog*>(widget);
            d && d->isVisible() && d->isActiveWindow())
          newest = d;
      if (newest == nullptr) newest = qobject_cast<QFileDialog*>(QApplication::activeWindow());
      ASSERT_NE(newest, nullptr);
      newest->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(one_wall);
      QMetaObject::invokeMethod(newest, "accept", Qt::QueuedConnection);
    });
    window->mainMenu(kOpenCommand);
    // The nested command has loaded its world while the first dialog stays open.
    EXPECT_EQ(world().num_walls, 1);
    EXPECT_EQ(open_world_dialogs(), 1);
    choose_in_dialog(two_walls);
  });
  window->mainMenu(kOpenCommand);
  EXPECT_TRUE(app().driver.show_stats);
  EXPECT_TRUE(nested_saw_two_dialogs);
  EXPECT_GT(ticks.read(), ticks_before + 5);  // ticks went on behind the dialogs
  // The first command loads once its dialog closes, into the world as it is then.
  EXPECT_EQ(world().num_walls, 2);
  EXPECT_EQ(robot().x, 2.0);
  EXPECT_EQ(open_world_dialogs(), 0);
}

TEST_F(MainWindowTest, AWorldGivenByNameOpensOnlyWhileTheSimulationRuns) {
  QTemporaryDir dir;
  const std::string one_wall = dir.filePath(QStringLiteral("one.dat")).toStdString();
  std::ofstream(one_wall) << "1\n1\n0\n1\n4 4 1 1\n";
  window->openWorld(one_wall);
  EXPECT_EQ(world().num_walls, 1);
  EXPECT_EQ(robot().x, 1.0);
  window->close();
  window->openWorld(one_wall);  // after shut-down: nothing to load into
  EXPECT_FALSE(view->isRunning());
}

TEST_F(MainWindowTest, ClosingTheWindowWhileADialogIsOpenEndsTheCommandQuietly) {
  when(view, [] { return open_world_dialogs() == 1; }, [this] { window->close(); });
  window->mainMenu(kOpenCommand);
  EXPECT_EQ(open_world_dialogs(), 0);
  EXPECT_FALSE(view->isRunning());
  EXPECT_EQ(the_file_dialog(), nullptr);
  // Save likewise: no "erer", no file, no crash on the shut-down world.
  window->mainMenu(kSaveCommand);
}

TEST_F(MainWindowTest, EscWhileADialogIsOpenEndsTheProgramAndLoadsNothing) {
  QTimer::singleShot(0, view, [this] { window->mainMenu(kOpenCommand); });
  when(view, [] { return open_world_dialogs() == 1; },
       [this] { send_key(QEvent::KeyPress, Qt::Key_Escape); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_EQ(open_world_dialogs(), 0);
  EXPECT_TRUE(view->isRunning());
  EXPECT_EQ(world().num_walls, 4);
}

TEST_F(MainWindowTest, EscEndsTheLoopWithZeroWithoutShuttingDown) {
  QTimer::singleShot(0, view, [this] { send_key(QEvent::KeyPress, Qt::Key_Escape); });
  EXPECT_EQ(QApplication::exec(), 0);
  // The shut-down did not run: the world and the image are still there.
  EXPECT_NE(world().walls, nullptr);
  EXPECT_NE(app().memdc, nullptr);
  EXPECT_TRUE(view->isRunning());
}

TEST_F(MainWindowTest, ExitShutsDownFirstAndStopsTheTimers) {
  window->mainMenu(999);  // unknown command: nothing
  EXPECT_TRUE(view->isRunning());
  window->mainMenu(kExitCommand);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(view->isRunning());
  EXPECT_EQ(app().memdc, nullptr);
  EXPECT_EQ(world().walls, nullptr);
  EXPECT_EQ(view->timerPeriod(kTickTimerId), -1);
  // Painting after the shut-down shows a blank view.
  view->grab();
}

TEST_F(MainWindowTest, ClosingTheWindowShutsDownToo) {
  window->close();
  EXPECT_FALSE(view->isRunning());
  EXPECT_EQ(app().memdc, nullptr);
  EXPECT_EQ(world().num_walls, 0);
}

}  // namespace
