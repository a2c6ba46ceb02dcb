#include "qt/world_dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <string>

#include "core/console.h"
#include "core/world_file.h"
#include "shell/driver.h"

namespace {

std::string local_path(const QString& file_name) {
  return QFile::encodeName(file_name).toStdString();
}

void report_failure(QWidget* parent, const QString& what, const QString& file_name,
                    const std::string& error) {
  QMessageBox::warning(
      parent, QString::fromLatin1(kProgramTitle),
      what.arg(QDir::toNativeSeparators(file_name), QString::fromLocal8Bit(error.c_str())));
}

}  // namespace

void world_load(QWidget* parent) {
  const QString file_name = QFileDialog::getOpenFileName(parent, QString(), QDir::currentPath(),
                                                         QObject::tr("World files (*.dat)"));
  if (file_name.isEmpty()) return;
  std::string error;
  if (!world_read_file(local_path(file_name), error))
    report_failure(parent, QObject::tr("Cannot open world file %1:\n%2"), file_name, error);
}

void world_save(QWidget* parent) {
  const QString file_name = QFileDialog::getSaveFileName(parent, QString(), QDir::currentPath(),
                                                         QObject::tr("Map files (*.dat)"));
  if (file_name.isEmpty()) {
    write_console("erer");
    return;
  }
  std::string error;
  if (!world_write_file(local_path(file_name), error))
    report_failure(parent, QObject::tr("Cannot save world file %1:\n%2"), file_name, error);
}
