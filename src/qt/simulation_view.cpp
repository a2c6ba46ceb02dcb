#include "qt/simulation_view.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>

#include "core/simulation.h"
#include "qtdraw/qimage_context.h"
#include "shell/mouse_edit.h"
#include "shell/scene.h"

SimulationView::SimulationView(QWidget* parent) : QWidget(parent) {
  // Painting copies the whole image: nothing needs erasing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(0, 0);
  layout_ = keyboard_layout::of_x11_server();
  keys_.use_layout(layout_.get());
}

SimulationView::~SimulationView() = default;

void SimulationView::startUp() {
  if (started_) return;
  started_ = true;
  running_ = true;
  mouse_edit_reset(app_);
  system_startup(app_, *this);
}

void SimulationView::shutDown() {
  if (!running_) return;
  running_ = false;
  // The timers end with the window: no tick may follow the shut-down.
  timers_.clear();
  system_shutdown(app_);
  mouse_edit_reset(app_);
  update();
}

int SimulationView::timerPeriod(int id) const {
  const auto found = timers_.find(id);
  if (found == timers_.end() || !found->second.timer.isActive()) return -1;
  return found->second.period_ms;
}

QString SimulationView::statisticsLine() const {
  return QString::fromStdString(statistics_line(app_));
}

void SimulationView::set_timer(int id, int period_ms) {
  if (!running_) return;
  running_timer& entry = timers_[id];
  entry.period_ms = std::max(period_ms, kMinimumTimerPeriodMs);
  // Starting a running timer again replaces it with the new period.
  entry.timer.start(entry.period_ms, Qt::PreciseTimer, this);
}

void SimulationView::request_repaint() {
  update();
}

void SimulationView::request_quit(int exit_code) {
  QCoreApplication::exit(exit_code);
}

void SimulationView::client_size(int& width, int& height) {
  width = this->width();
  height = this->height();
}

std::unique_ptr<draw_context> SimulationView::create_image(int width, int height) {
  return std::make_unique<qimage_context>(width, height);
}

void SimulationView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  startUp();
}

void SimulationView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  auto* image = dynamic_cast<qimage_context*>(app_.memdc.get());
  if (!running_ || image == nullptr || image->image().isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  if (app_.driver.show_stats) app_.memdc->text_out(1, 1, statistics_line(app_));
  painter.drawImage(0, 0, image->image());
  // Between a resize and the new image the widget can be larger than the image.
  if (image->width() < width()) {
    painter.fillRect(image->width(), 0, width() - image->width(), height(), Qt::black);
  }
  if (image->height() < height()) {
    painter.fillRect(0, image->height(), width(), height() - image->height(), Qt::black);
  }
}

void SimulationView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!running_) return;
  app_.memdc.reset();
  memdc_setup(app_, *this);
  // Draw the new image at once, so that a paint before the next tick does not show
  // an empty picture. It is the picture the tick draws; painting adds the
  // statistics line, as after every tick.
  if (auto* image = dynamic_cast<qimage_context*>(app_.memdc.get())) {
    scene_options shown = scene_options_of(app_);
    shown.stats = false;
    draw_scene(app_, shown, *image);
  }
}

void SimulationView::timerEvent(QTimerEvent* event) {
  for (const auto& [id, entry] : timers_) {
    if (entry.timer.timerId() == event->timerId()) {
      timer_message(app_, *this, static_cast<unsigned>(id));
      return;
    }
  }
  QWidget::timerEvent(event);
}

void SimulationView::keyPressEvent(QKeyEvent* event) {
  if (!running_) return;
  const std::optional<unsigned> code = keys_.press(*event);
  if (!code) {
    event->ignore();
    return;
  }
  // Every press runs the key table, auto-repeated ones too.
  key_down(app_, *this, *code);
}

void SimulationView::keyReleaseEvent(QKeyEvent* event) {
  if (!running_) return;
  const std::optional<unsigned> code = keys_.release(*event);
  if (!code) {
    event->ignore();
    return;
  }
  key_up(app_, *code);
}

void SimulationView::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  // A key released while another window has the keyboard never reports its
  // release here; let go of every held key now so none stays down for good.
  keys_.release_all([this](unsigned code) { key_up(app_, code); });
}

void SimulationView::mousePressEvent(QMouseEvent* event) {
  if (!running_) return;
  const QPoint at = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    mouse_down(app_, at.x(), at.y());
  } else if (event->button() == Qt::RightButton) {
    right_button_down(app_, at.x(), at.y());
  }
}

void SimulationView::mouseMoveEvent(QMouseEvent* event) {
  if (!running_) return;
  const QPoint at = event->position().toPoint();
  mouse_move(app_, at.x(), at.y());
}

void SimulationView::mouseReleaseEvent(QMouseEvent* event) {
  if (!running_) return;
  const QPoint at = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    mouse_up(app_, at.x(), at.y());
  } else if (event->button() == Qt::RightButton) {
    right_button_up(app_);
  }
}

bool SimulationView::event(QEvent* event) {
  if (event->type() == QEvent::KeyboardLayoutChange) {
    if (std::unique_ptr<keyboard_layout> fresh = keyboard_layout::of_x11_server()) {
      keys_.use_layout(fresh.get());
      layout_ = std::move(fresh);
    }
  }
  return QWidget::event(event);
}

bool SimulationView::focusNextPrevChild(bool /*next*/) {
  return false;
}
