// The File menu's Open and Save: a file dialog, then the world file is read or
// written. Failures are reported in a message box naming the file and the reason.
#pragma once

class QWidget;

// Asks for a world file and loads it. A cancelled dialog changes nothing; a file
// that cannot be read leaves the world as it was.
void world_load(QWidget* parent = nullptr);
// Asks for a file name (confirming before replacing a file) and saves the world.
// A cancelled dialog writes "erer" to the console and saves nothing.
void world_save(QWidget* parent = nullptr);
