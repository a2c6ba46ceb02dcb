// Robot Simulator: one window showing the simulated world and robot.
//   robot-simulator [--help | --version] [FILE]
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qt/main_window.h"
#include "qt/window_options.h"

namespace {

constexpr int kExitNoDisplay = 1;
constexpr int kExitBadArguments = 2;

bool is_set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Without a display Qt stops with a long message about platform plugins; a
// platform chosen by hand (QT_QPA_PLATFORM, e.g. offscreen) is left to Qt.
bool display_available() {
  return is_set("DISPLAY") || is_set("WAYLAND_DISPLAY") || is_set("QT_QPA_PLATFORM");
}

std::vector<std::string> arguments_of(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

}  // namespace

int main(int argc, char* argv[]) {
  // Help and version need no display.
  if (early_action(arguments_of(argc, argv)) != window_action::run) {
    std::fputs(parse_window_options(arguments_of(argc, argv)).message.c_str(), stdout);
    return 0;
  }
  if (!display_available()) {
    std::fprintf(stderr,
                 "%s: no display (DISPLAY and WAYLAND_DISPLAY are empty); start it in a "
                 "graphical session, or without one as: xvfb-run %s\n",
                 kExecutableName, kExecutableName);
    return kExitNoDisplay;
  }
  QApplication app(argc, argv);
  // Qt has taken its own options out of argv by now.
  const window_options options = parse_window_options(arguments_of(argc, argv));
  if (options.action == window_action::error) {
    std::fprintf(stderr, "%s: %s (see --help)\n", kExecutableName, options.message.c_str());
    return kExitBadArguments;
  }
  // Qt adopts the user's locale for the C library; numbers in the statistics line
  // and in world files always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  // Ties the window to its desktop entry (Wayland shows that entry's icon) and
  // takes the icon from the theme when the program is installed.
  QGuiApplication::setDesktopFileName(QStringLiteral(ROBOSIM_APP_ID));
  QGuiApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kExecutableName)));

  MainWindow window;
  window.show();
  if (!options.world_path.empty()) {
    // Once the event loop runs, so that a message about a bad file has the window
    // on the screen behind it.
    QTimer::singleShot(0, &window, [&window, &options] { window.openWorld(options.world_path); });
  }
  // Ends with 0 both after Exit or closing the window and after Esc.
  return app.exec();
}
