#include "qt/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "qt/simulation_view.h"
#include "qt/world_dialogs.h"
#include "shell/driver.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), view_(new SimulationView(this)) {
  setCentralWidget(view_);

  createActions();
  createMenus();

  setWindowTitle(QString::fromLatin1(kProgramTitle));
  move(kLeft, kTop);
  resize(kOuterWidth, kOuterHeight);
  view_->setFocus();
}

void MainWindow::mainMenu(int commandId) {
  // A command queued before the window closed finds no world to load into or save.
  if (!view_->isRunning() && commandId != kExitCommand) return;
  switch (commandId) {
    case kOpenCommand:
      world_load(view_->app().sim, this);
      break;
    case kSaveCommand:
      world_save(view_->app().sim, this);
      break;
    case kExitCommand:
      close();
      break;
    default:
      break;
  }
}

void MainWindow::openWorld(const std::string& path) {
  if (view_->isRunning()) world_open(view_->app().sim, path, this);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Exit and closing the window both end here. Open dialogs go first, so that
  // their commands end without acting on the world, then the simulation shuts down.
  close_world_dialogs();
  view_->shutDown();
  event->accept();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!fitted_) {
    fitted_ = true;
    // The window manager reports the frame only after the window is mapped.
    QTimer::singleShot(0, this, &MainWindow::fitOuterSize);
  }
}

void MainWindow::fitOuterSize() {
  const QSize frame = frameGeometry().size();
  const QSize inner = size();
  const int extra_w = frame.width() - inner.width();
  const int extra_h = frame.height() - inner.height();
  if (extra_w > 0 || extra_h > 0) resize(kOuterWidth - extra_w, kOuterHeight - extra_h);
}

void MainWindow::createActions() {
  // Queued: a command runs from the event loop once the menu has closed, not inside
  // the menu's own event handling, so a dialog's loop never nests inside a menu.
  openAct_ = new QAction(tr("&Open"), this);
  openAct_->setData(kOpenCommand);
  connect(
      openAct_, &QAction::triggered, this, [this] { mainMenu(kOpenCommand); },
      Qt::QueuedConnection);

  saveAct_ = new QAction(tr("&Save"), this);
  saveAct_->setData(kSaveCommand);
  connect(
      saveAct_, &QAction::triggered, this, [this] { mainMenu(kSaveCommand); },
      Qt::QueuedConnection);

  exitAct_ = new QAction(tr("E&xit"), this);
  exitAct_->setData(kExitCommand);
  connect(
      exitAct_, &QAction::triggered, this, [this] { mainMenu(kExitCommand); },
      Qt::QueuedConnection);
}

void MainWindow::createMenus() {
  fileMenu_ = new QMenu(tr("&File"), this);
  fileMenu_->addAction(openAct_);
  fileMenu_->addAction(saveAct_);
  fileMenu_->addAction(exitAct_);

  menuBar()->addMenu(fileMenu_);
}
