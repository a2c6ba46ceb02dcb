// The File menu's Open and Save: a file dialog, then the world file is read or
// written. Failures are reported in a message box naming the file and the reason.
//
// The dialogs start in the user's home folder. They have no owner and are not
// modal: while one is open the main window goes on ticking and taking keys, mouse
// editing and menu commands, which run nested inside the command that opened the
// dialog (a second Open opens a second dialog). The command goes on only when its
// dialog is closed, and then acts on the world as it is at that moment.
#pragma once

#include <string>

class QWidget;
struct simulation;

// Asks for a world file and loads it. A cancelled dialog changes nothing; a file
// that cannot be read leaves the world as it was. The dialog is centred on
// `centre_on` when one is given.
void world_load(simulation& sim, QWidget* centre_on = nullptr);
// Loads the world file `path` (byte for byte), as Open does once a file is chosen:
// one that cannot be read is reported and leaves the world as it was.
void world_open(simulation& sim, const std::string& path, QWidget* report_to = nullptr);
// Asks for a file name (confirming before replacing a file) and saves the world.
// A cancelled dialog writes "erer" to the console and saves nothing.
void world_save(simulation& sim, QWidget* centre_on = nullptr);

// Closes every open Open or Save dialog as abandoned: their commands then end
// without loading, saving or writing "erer". The window calls it when it closes,
// so no dialog outlives it and no command acts on a world that was shut down.
void close_world_dialogs();
// How many Open or Save dialogs are open (nested ones included).
int open_world_dialogs();
