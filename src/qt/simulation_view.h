// The client area of the main window: it runs the simulation driver on its timers,
// shows the off-screen image, takes the keyboard and edits the world with the
// mouse. It is the driver's window system (the platform interface).
#pragma once

#include <QBasicTimer>
#include <QWidget>
#include <map>
#include <memory>

#include "qt/key_map.h"
#include "qt/keyboard_layout.h"
#include "shell/driver.h"
#include "shell/simulator.h"

class qimage_context;

class SimulationView : public QWidget, public platform {
  Q_OBJECT

 public:
  // Periodic timers never fire more often than this; shorter periods, and 0,
  // run at it, so a period of 0 cannot turn into a busy loop.
  static constexpr int kMinimumTimerPeriodMs = 10;

  explicit SimulationView(QWidget* parent = nullptr);
  ~SimulationView() override;

  // Runs the driver's start-up once: called when the view is first shown, so the
  // off-screen image is made at the client area's real size.
  void startUp();
  // Stops the timers and runs the driver's shut-down; the view stays blank after.
  void shutDown();
  bool isRunning() const { return running_; }

  // The period a timer runs at, or -1 when it is not running (for tests).
  int timerPeriod(int id) const;
  // The statistics line as it is drawn when show_stats is on.
  QString statisticsLine() const;

  // The window's one simulation, with the shell's state around it.
  simulator& app() { return app_; }
  const simulator& app() const { return app_; }

  // platform
  void set_timer(int id, int period_ms) override;
  void request_repaint() override;
  void request_quit(int exit_code) override;
  void client_size(int& width, int& height) override;
  std::unique_ptr<draw_context> create_image(int width, int height) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // Reads the keyboard layout again when the user changes it.
  bool event(QEvent* event) override;
  // Tab and Backtab are keys like any other here, not focus moves.
  bool focusNextPrevChild(bool next) override;

 private:
  struct running_timer {
    QBasicTimer timer;
    int period_ms = 0;
  };

  simulator app_;
  std::map<int, running_timer> timers_;
  std::unique_ptr<keyboard_layout> layout_;
  key_tracker keys_;
  bool started_ = false;
  bool running_ = false;
};
