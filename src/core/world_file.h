// World files: the robot's pose and the walls as plain text.
#pragma once

#include <string>
#include <string_view>

// Reads a world file: the world is reset to its defaults, the walls are dropped
// and the pose and walls of the file take their place. On any failure the world
// stays exactly as it was and error tells what went wrong.
bool world_read_file(const std::string& path, std::string& error);
// The same from text already in memory (tests and fuzzing).
bool world_read_text(std::string_view text, std::string& error);

// Writes the robot's pose and the walls, from the head of the list. The file is
// written beside the target and renamed over it only once complete.
bool world_write_file(const std::string& path, std::string& error);
// The text world_write_file would write.
std::string world_format_text();
