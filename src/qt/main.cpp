// Robot Simulator: one window showing the simulated world and robot.
#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "qt/main_window.h"

namespace {

constexpr const char* kExecutableName = "robot-simulator";

bool is_set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Without a display Qt stops with a long message about platform plugins; a
// platform chosen by hand (QT_QPA_PLATFORM, e.g. offscreen) is left to Qt.
bool display_available() {
  return is_set("DISPLAY") || is_set("WAYLAND_DISPLAY") || is_set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!display_available()) {
    std::fprintf(stderr,
                 "%s: no display (DISPLAY and WAYLAND_DISPLAY are empty); start it in a "
                 "graphical session, or without one as: xvfb-run make run\n",
                 kExecutableName);
    return 1;
  }
  QApplication app(argc, argv);
  // Qt adopts the user's locale for the C library; numbers in the statistics line
  // and in world files always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");

  MainWindow window;
  window.show();
  // Ends with 0 both after Exit or closing the window and after Esc.
  return app.exec();
}
