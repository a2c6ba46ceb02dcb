#include "qt/world_dialogs.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/simulation.h"
#include "core/world_file.h"
#include "qt/chosen_path.h"
#include "shell/driver.h"

namespace {

// A dialog while it is open; abandoned when the window closes under it.
struct open_dialog {
  QFileDialog* dialog;
  bool abandoned = false;
};

std::vector<open_dialog*>& dialogs_open() {
  static std::vector<open_dialog*> open;
  return open;
}

enum class dialog_end { chosen, cancelled, abandoned };

struct dialog_answer {
  dialog_end end = dialog_end::cancelled;
  QString file;
};

void centre(QWidget& dialog, const QWidget* on) {
  if (on == nullptr) return;
  const QRect frame = on->window()->frameGeometry();
  dialog.move(frame.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
}

// Shows a file dialog without an owner and waits for it in a loop of its own, in
// which every event of the program goes on being handled.
dialog_answer ask_for_file(QWidget* centre_on, QFileDialog::AcceptMode mode,
                           const QString& filter) {
  QFileDialog dialog(nullptr, QString(), dialog_start_directory(), filter);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  // A native dialog could not be left non-modal with the window going on.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowModality(Qt::NonModal);

  open_dialog entry{&dialog};
  dialogs_open().push_back(&entry);
  QEventLoop loop;
  bool finished = false;
  QObject::connect(&dialog, &QDialog::finished, &loop, [&] {
    finished = true;
    loop.quit();
  });
  dialog.show();
  centre(dialog, centre_on);
  dialog.raise();
  dialog.activateWindow();
  // Returns at once, or early, when the program is asked to quit (Esc).
  loop.exec();
  auto& open = dialogs_open();
  open.erase(std::remove(open.begin(), open.end(), &entry), open.end());

  if (!finished || entry.abandoned) return {dialog_end::abandoned, {}};
  const QStringList files = dialog.selectedFiles();
  if (dialog.result() != QDialog::Accepted || files.isEmpty() || files.first().isEmpty())
    return {dialog_end::cancelled, {}};
  return {dialog_end::chosen, files.first()};
}

void report_failure(QWidget* parent, const QString& what, const QString& file_name,
                    const std::string& error) {
  QMessageBox::warning(
      parent, QString::fromLatin1(kProgramTitle),
      what.arg(QDir::toNativeSeparators(file_name), QString::fromLocal8Bit(error.c_str())));
}

}  // namespace

void world_load(simulation& sim, QWidget* centre_on) {
  const dialog_answer answer =
      ask_for_file(centre_on, QFileDialog::AcceptOpen, QObject::tr("World files (*.dat)"));
  if (answer.end != dialog_end::chosen) return;
  const chosen_path path = path_of_chosen_name(answer.file);
  std::string error = path.error;
  if (error.empty()) {
    const file_result loaded = world_read_file(sim, path.bytes);
    if (loaded) return;
    error = loaded.message();
  }
  report_failure(centre_on, QObject::tr("Cannot open world file %1:\n%2"), answer.file, error);
}

void world_open(simulation& sim, const std::string& path, QWidget* report_to) {
  const file_result loaded = world_read_file(sim, path);
  if (loaded) return;
  report_failure(report_to, QObject::tr("Cannot open world file %1:\n%2"),
                 QFile::decodeName(QByteArray::fromStdString(path)), loaded.message());
}

void world_save(simulation& sim, QWidget* centre_on) {
  const dialog_answer answer =
      ask_for_file(centre_on, QFileDialog::AcceptSave, QObject::tr("Map files (*.dat)"));
  if (answer.end == dialog_end::abandoned) return;
  if (answer.end == dialog_end::cancelled) {
    write_console(sim, "erer");
    return;
  }
  const chosen_path path = path_of_chosen_name(answer.file);
  std::string error = path.error;
  if (error.empty()) {
    const file_result saved = world_write_file(sim, path.bytes);
    if (saved) return;
    error = saved.message();
  }
  report_failure(centre_on, QObject::tr("Cannot save world file %1:\n%2"), answer.file, error);
}

void close_world_dialogs() {
  // Copied: rejecting a dialog ends its loop only once control returns to it.
  const std::vector<open_dialog*> open = dialogs_open();
  for (open_dialog* entry : open) {
    entry->abandoned = true;
    entry->dialog->reject();
  }
}

int open_world_dialogs() {
  return static_cast<int>(dialogs_open().size());
}
