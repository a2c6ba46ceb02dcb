// Robot Simulator: one window showing the simulated world and robot.
#include <QApplication>
#include <clocale>

#include "qt/main_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // Qt adopts the user's locale for the C library; numbers in the statistics line
  // and in world files always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");

  MainWindow window;
  window.show();
  // Ends with 0 both after Exit or closing the window and after Esc.
  return app.exec();
}
