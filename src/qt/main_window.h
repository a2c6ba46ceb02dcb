// The program's one window: the File menu around the simulation's client area.
#pragma once

#include <QMainWindow>
#include <string>

class QAction;
class QMenu;
class SimulationView;

// Menu command ids of the File menu.
constexpr int kOpenCommand = 100;
constexpr int kSaveCommand = 101;
constexpr int kExitCommand = 102;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // The window's title, position and outer size when it opens.
  static constexpr int kLeft = 120;
  static constexpr int kTop = 120;
  static constexpr int kOuterWidth = 640;
  static constexpr int kOuterHeight = 480;

  explicit MainWindow(QWidget* parent = nullptr);

  SimulationView* view() const { return view_; }

 public slots:
  // Runs the menu command with this id; unknown ids do nothing.
  void mainMenu(int commandId);
  // Opens this world file (its name byte for byte) as File > Open does once a
  // file is chosen; a file that cannot be read gets the same message.
  void openWorld(const std::string& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void createActions();
  void createMenus();
  // Makes the frame, not the client area, 640 x 480 once the frame is known.
  void fitOuterSize();

  SimulationView* view_;
  QMenu* fileMenu_ = nullptr;
  QAction* openAct_ = nullptr;
  QAction* saveAct_ = nullptr;
  QAction* exitAct_ = nullptr;
  bool fitted_ = false;
};
