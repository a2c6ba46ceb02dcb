#include "qt/chosen_path.h"

#include <dirent.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <memory>
#include <vector>

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool is_text(const QByteArray& name) {
  return QFile::encodeName(QFile::decodeName(name)) == name;
}

// Entries of a folder (given byte for byte) whose names read as `text`.
std::vector<std::string> entries_reading_as(const std::string& folder, const QString& text) {
  std::vector<std::string> found;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                                closedir);
  if (!dir) return found;
  while (const dirent* entry = readdir(dir.get())) {
    const QByteArray name(entry->d_name);
    if (QFile::decodeName(name) == text) found.emplace_back(entry->d_name);
  }
  return found;
}

// The current directory. When its name is not UTF-8 the text of it would name
// another folder (or none), so it is given as /proc/self/cwd, the same folder
// under a name Qt can hold.
QString current_directory_name() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return QDir::currentPath();
    buffer.resize(buffer.size() * 2);
  }
  const QByteArray cwd(buffer.data());
  if (is_text(cwd)) return QFile::decodeName(cwd);
  if (QFileInfo(QStringLiteral("/proc/self/cwd")).isDir()) return QStringLiteral("/proc/self/cwd");
  return QFile::decodeName(cwd);
}

}  // namespace

QString dialog_start_directory() {
  const QByteArray home = qgetenv("HOME");
  if (home.startsWith('/') && is_text(home) && QFileInfo(QFile::decodeName(home)).isDir())
    return QFile::decodeName(home);
  return current_directory_name();
}

chosen_path path_of_chosen_name(const QString& chosen) {
  if (!chosen.contains(kReplacement)) return {QFile::encodeName(chosen).toStdString(), {}};
  const bool absolute = chosen.startsWith(QLatin1Char('/'));
  std::string bytes = absolute ? "/" : "";
  const QStringList parts = chosen.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  for (qsizetype k = 0; k < parts.size(); ++k) {
    const QString& part = parts[k];
    std::string name = QFile::encodeName(part).toStdString();
    if (part.contains(kReplacement)) {
      const std::vector<std::string> found = entries_reading_as(bytes, part);
      if (found.size() > 1) {
        return {{},
                "more than one file or folder is named \"" + part.toStdString() +
                    "\" as the dialog shows names (their names are not all UTF-8); "
                    "nothing was opened or written"};
      }
      if (found.size() == 1) name = found.front();
    }
    if (k > 0 || absolute) {
      if (!bytes.empty() && bytes.back() != '/') bytes += '/';
    }
    bytes += name;
  }
  return {bytes, {}};
}
