// The window's simulation view at the extremes, on Qt's offscreen platform: a
// client area of 10,000 x 10,000 pixels and one of 0 x 0, drags that leave the
// window far behind, and every key held down at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <clocale>
#include <cmath>

#include "core/automode.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/world.h"
#include "qt/simulation_view.h"
#include "qtdraw/qimage_context.h"
#include "shell/driver.h"
#include "shell/mouse_edit.h"
#include "shell/simulator.h"

namespace {

class WindowExtremes : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_.resize(300, 200);
    view_ = new SimulationView(&frame_);
    view_->resize(300, 200);
    frame_.show();
    QApplication::processEvents();
    ASSERT_TRUE(view_->isRunning());
  }

  void TearDown() override { view_->shutDown(); }

  // The window's simulator and its parts.
  simulator& app() const { return view_->app(); }
  simulation& sim() const { return app().sim; }
  world_state& world() const { return sim().world; }
  robot_state& robot() const { return sim().robot; }

  void resize(int width, int height) {
    view_->resize(width, height);
    QApplication::processEvents();
  }

  void ticks(int count) {
    for (int i = 0; i < count; ++i) timer_message(app(), *view_, kTickTimerId);
  }

  void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, view_->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(view_, &event);
  }

  void key(QEvent::Type type, int code) {
    QKeyEvent event(type, code, Qt::NoModifier);
    QApplication::sendEvent(view_, &event);
  }

  void expect_world_position(double x, double y) const {
    EXPECT_TRUE(std::isfinite(x) && std::isfinite(y)) << x << " " << y;
    EXPECT_GE(x, 0.0);
    EXPECT_LE(x, world().width);
    EXPECT_GE(y, 0.0);
    EXPECT_LE(y, world().height);
  }

  QWidget frame_;
  SimulationView* view_ = nullptr;  // owned by frame_
};

TEST_F(WindowExtremes, HugeAndEmptyClientAreasRunPaintAndTakeTheMouse) {
  for (const auto& [width, height] : {std::pair{10000, 10000}, std::pair{0, 0}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    resize(width, height);
    EXPECT_EQ(sim().display_x, width);
    EXPECT_EQ(sim().display_y, height);
    const auto* image = dynamic_cast<const qimage_context*>(app().memdc.get());
    ASSERT_NE(image, nullptr);
    // An image that could not be allocated is an empty one: nothing is drawn.
    EXPECT_TRUE(image->width() == width || image->width() == 0);
    world().show_grad = true;
    robot().show_vision = true;
    ticks(3);
    view_->repaint();

    mouse(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, QPointF(1e6, 1e6), Qt::NoButton, Qt::LeftButton);
    expect_world_position(world().walls->x + world().walls->width,
                          world().walls->y + world().walls->height);
    mouse(QEvent::MouseButtonRelease, QPointF(-1e6, -1e6), Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(app().mouse.mouse_is_down);
    ticks(3);
  }
  resize(300, 200);
  EXPECT_EQ(dynamic_cast<const qimage_context*>(app().memdc.get())->width(), 300);
}

TEST_F(WindowExtremes, DragsFarOutsideTheWindowStayInsideTheWorld) {
  mouse(QEvent::MouseButtonPress, QPointF(150, 100), Qt::LeftButton, Qt::LeftButton);
  const wall_node* dragged = world().walls;
  for (const QPointF at : {QPointF(1e9, 1e9), QPointF(-1e9, 50), QPointF(70000, -70000),
                           QPointF(2147483647.0, 2147483647.0)}) {
    mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(world().walls, dragged);
    expect_world_position(dragged->x + dragged->width, dragged->y + dragged->height);
    EXPECT_GE(dragged->width, 0.0);
    EXPECT_GE(dragged->height, 0.0);
  }
  mouse(QEvent::MouseButtonRelease, QPointF(-5e8, 5e8), Qt::LeftButton, Qt::NoButton);

  mouse(QEvent::MouseButtonPress, QPointF(-1e9, 1e9), Qt::RightButton, Qt::RightButton);
  expect_world_position(world().target_x, world().target_y);
  for (const QPointF at : {QPointF(1e9, -1e9), QPointF(-1, -1), QPointF(301, 201)}) {
    mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::RightButton);
    expect_world_position(world().target_x, world().target_y);
  }
  mouse(QEvent::MouseButtonRelease, QPointF(1e9, 1e9), Qt::RightButton, Qt::NoButton);
  ticks(100);
  expect_world_position(robot().x, robot().y);
}

TEST_F(WindowExtremes, EveryKeyHeldAtOnceKeepsTheWindowRunning) {
  std::vector<int> codes;
  for (int code = Qt::Key_Space; code <= Qt::Key_AsciiTilde; ++code) codes.push_back(code);
  for (const int code : {Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Backspace, Qt::Key_Return,
                         Qt::Key_Enter, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down,
                         Qt::Key_Shift, Qt::Key_Control, Qt::Key_Alt, Qt::Key_F1, Qt::Key_F12}) {
    codes.push_back(code);
  }
  for (const int code : codes) key(QEvent::KeyPress, code);
  EXPECT_GE(app().driver.timer_val, 0);
  EXPECT_GE(view_->timerPeriod(kTickTimerId), SimulationView::kMinimumTimerPeriodMs);
  sim().manual_mode = true;
  world().show_grad = false;
  ticks(2000);
  expect_world_position(robot().x, robot().y);
  EXPECT_EQ(robot().speed, 0.03);  // W and A win over S and D
  EXPECT_EQ(robot().turn, -0.03);
  for (const int code : codes) key(QEvent::KeyRelease, code);
  ticks(1);
  EXPECT_EQ(robot().speed, 0.0);
  for (const bool held : app().driver.keys) EXPECT_FALSE(held);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
