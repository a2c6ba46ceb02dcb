// robot-simulator-headless: runs the simulator without a window. See docs/headless.md.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "headless/options.h"
#include "headless/runner.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void on_stop_signal(int signal_number) {
  stop_requested = signal_number;
}

// The signals that end a run as Ctrl-C does: the run stops between two ticks,
// old files stay untouched and no temporary file is left.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

// Arguments are bytes. Qt's strings hold only valid text, so an argument that
// is not valid UTF-8 (a file name in another encoding) would be mangled; it is
// handed to the option parser as a placeholder and its bytes are put back into
// the file names afterwards.
constexpr char kRawPrefix[] = "\xEE\x80\x80raw-argument-";  // U+E000, a private-use character

QStringList arguments_with_placeholders(int argc, char** argv, std::vector<std::string>& raw) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    const QByteArray bytes(argv[i]);
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes) {
      arguments << text;
      continue;
    }
    // Keep an "--option=" in front, so that the parser still sees the option.
    const qsizetype equals = bytes.startsWith("--") ? bytes.indexOf('=') : -1;
    const QByteArray head = equals >= 0 ? bytes.left(equals + 1) : QByteArray();
    raw.push_back(bytes.mid(head.size()).toStdString());
    arguments << QString::fromUtf8(head) + QString::fromUtf8(kRawPrefix) +
                     QString::number(raw.size() - 1);
  }
  return arguments;
}

// Every option that takes a file name, as the option table lists them.
void restore_raw_paths(const std::vector<std::string>& raw, run_options& options) {
  for (const option_row& row : option_table()) {
    if (row.path == nullptr) continue;
    std::string& path = options.*row.path;
    if (path.rfind(kRawPrefix, 0) != 0) continue;
    const std::size_t index = std::stoul(path.substr(sizeof kRawPrefix - 1));
    if (index < raw.size()) path = raw[index];
  }
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
  std::vector<std::string> raw_arguments;
  const QStringList arguments = arguments_with_placeholders(argc, argv, raw_arguments);

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
  restore_raw_paths(raw_arguments, options);

  // Pictures need fonts for the statistics line, and fonts need a GUI application;
  // the offscreen platform gives one with no window system at all.
  qInstallMessageHandler(quiet_qt_messages);
  std::unique_ptr<QCoreApplication> app;
  if (!options.png_path.empty() || !options.gif_path.empty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  // Qt adopts the user's locale; numbers in the outputs always use a decimal point.
  std::setlocale(LC_NUMERIC, "C");

  for (const int signal_number : kStopSignals) std::signal(signal_number, on_stop_signal);
  // A reader that goes away (a closed pipe) is a write error to report, not a
  // reason to die with temporary files left behind.
  std::signal(SIGPIPE, SIG_IGN);
  return run_headless(options, stdout, stderr, &stop_requested);
}
