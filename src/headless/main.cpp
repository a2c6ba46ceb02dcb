// robot-simulator-headless: runs the simulator without a window. See docs/headless.md.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "headless/options.h"
#include "headless/runner.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void on_stop_signal(int /*signal*/) {
  stop_requested = 1;
}

// Qt's own notices (such as a missing XDG_RUNTIME_DIR under the offscreen
// platform) are not the user's concern in a batch run; only its errors pass.
void quiet_qt_messages(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::fprintf(stderr, "%s: %s\n", kProgramName, qPrintable(text));
  }
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);

  run_options options;
  std::string message;
  switch (parse_options(arguments, options, message)) {
    case parse_outcome::help:
      std::printf("%s", message.c_str());
      return kExitOk;
    case parse_outcome::version:
      std::printf("%s\n", message.c_str());
      return kExitOk;
    case parse_outcome::error:
      std::fprintf(stderr, "%s: %s (see --help)\n", kProgramName, message.c_str());
      return kExitBadArguments;
    case parse_outcome::run:
      break;
  }

  // Pictures need fonts for the statistics line, and fonts need a GUI application;
  // the offscreen platform gives one with no window system at all.
  qInstallMessageHandler(quiet_qt_messages);
  std::unique_ptr<QCoreApplication> app;
  if (!options.png_path.empty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  // Qt adopts the user's locale; numbers in the outputs always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");

  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
  // A reader that goes away (a closed pipe) is a write error to report, not a
  // reason to die with temporary files left behind.
  std::signal(SIGPIPE, SIG_IGN);
  return run_headless(options, stdout, stderr, &stop_requested);
}
