// File names between the file dialogs, which speak text, and the system, which
// speaks bytes. Qt turns bytes that are not UTF-8 into U+FFFD, and its dialogs do
// not even list files whose names are not UTF-8; a name is turned back into the
// bytes of the file the user saw, never into those of another file.
#pragma once

#include <QString>
#include <string>

// The folder a file dialog starts in: the user's home folder ($HOME). Without a
// usable one (unset, not a folder, or a name that is not UTF-8) it is the
// current directory; when that name is not UTF-8 the text of it would name
// another folder (or none), so the dialog starts in /proc/self/cwd, the same
// folder under a name Qt can hold.
QString dialog_start_directory();

struct chosen_path {
  std::string bytes;  // the name to open, byte for byte
  std::string error;  // empty, or why the name cannot be used
};

// The bytes of a name chosen in a dialog. Parts holding U+FFFD may stand for
// names that are not UTF-8: such a part becomes the one entry of its folder that
// reads as that text. When several entries read alike, which one the user meant
// cannot be known and the name is refused; when none does, the text is the name.
chosen_path path_of_chosen_name(const QString& chosen);
