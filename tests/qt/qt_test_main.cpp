// The window tests need a QApplication; they run on Qt's offscreen platform unless
// another one is asked for, so they need no display.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstdio>

namespace {

QtMessageHandler default_handler = nullptr;

// The offscreen platform says so for every top-level window; it means nothing here.
void quiet_messages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("does not support propagateSizeHints")) ||
      message.contains(QLatin1String("does not support raise()")))
    return;
  if (default_handler != nullptr) {
    default_handler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  default_handler = qInstallMessageHandler(quiet_messages);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
