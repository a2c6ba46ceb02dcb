// World files: the robot's pose and the walls as plain text.
//
// Layout, one value or one wall per line, always with a decimal point whatever
// the process locale:
//   x of the robot        "2.500000"
//   y of the robot        "7.250000"
//   heading, radians      "1.500000"
//   number of walls       "4"
//   one line per wall     "9.950000 0.000000 0.050000 10.000000"  (x y width height)
// Reals are written with six decimals. The reader takes the values as a stream of
// numbers separated by any white space (blank lines, tabs, CR LF line ends), so the
// line structure itself is not enforced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_error.h"

struct simulation;

// Files above either limit are refused without being loaded.
constexpr std::size_t kWorldFileMaxBytes = std::size_t{16} * 1024 * 1024;
constexpr std::size_t kWorldFileMaxWalls = 100000;

// A loaded heading of at most this many radians either way is kept as written;
// a larger one becomes the same direction within half a turn of 0.
constexpr double kHeadingKeptAsWritten = 1000.0;
// The heading a loaded pose takes: as written up to kHeadingKeptAsWritten, else
// the same direction within half a turn of 0.
double world_loaded_heading(double heading);

struct world_file_wall {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
};

// What a world file holds. A file that ends early leaves the values it does not
// reach empty; loading then keeps the defaults of the reset for them.
struct world_file_data {
  std::optional<double> x;
  std::optional<double> y;
  std::optional<double> heading;
  std::optional<std::int32_t> wall_count;  // the count line as written (may be negative)
  std::vector<world_file_wall> walls;      // in file order
};

struct world_file_error {
  int line = 0;         // 1-based line of the fault; 0 when the fault is not on a line
  std::string message;  // complete sentence, with "line N: " in front when line > 0
};

// Parses world-file text without touching the world. Reading stops at the end of
// the text, or once as many walls as the count says have been read (a negative
// count is taken as unsigned and so reads to the end). Returns false, with the
// line and reason, for text that is not a world file: something other than a
// number where a number belongs, a value that is not finite, a wall cut off after
// one to three of its numbers, more than kWorldFileMaxWalls walls, or more than
// kWorldFileMaxBytes of text.
bool world_parse_text(std::string_view text, world_file_data& data, world_file_error& error);

// Replaces the world by the data: world_setup (defaults, random robot pose,
// planning run), all walls dropped, then the pose values present in the data and
// the walls, each put at the head of the list, so the list ends up in reverse
// file order. A heading beyond kHeadingKeptAsWritten either way becomes the same
// direction within half a turn of 0. The grid and waypoints are left as the reset
// made them.
void world_apply_data(simulation& sim, const world_file_data& data);

// Reads a world file and, only when all of it could be read and parsed, applies
// it with world_apply_data. On failure the world stays exactly as it was, and
// the failure's message names the file and the reason ("cannot load \"F\": ...",
// with the line for bad content). Its kind: the file system for a file that
// cannot be read (missing, a folder, not permitted, not a regular file), with
// the errno where there is one; the content for a file that is not a world
// file or is too large to be one.
file_result world_read_file(simulation& sim, const std::string& path);
// The same from text already in memory; the message starts with "line N: ".
file_result world_read_text(simulation& sim, std::string_view text);

// Writes the robot's pose and the walls, from the head of the list, through a
// safe_file (core/safe_file.h): the old file is replaced only once the new one
// is complete, or, where only the file itself may be written, written in place.
// Refuses targets that are folders or other non-regular files (the file
// system's failures, with safe_file's errno), and worlds holding values that
// are not finite (a failure of the content: the file could not be read again).
// Any number of walls is saved. The message names the file and the reason.
file_result world_write_file(const simulation& sim, const std::string& path);
// The text a save writes, or a failure of the content whose message is the
// reason (without the file name) when the world holds a value that is not finite.
file_result world_text_to_save(const simulation& sim, std::string& text);
// The text world_write_file writes, for the current world.
std::string world_format_text(const simulation& sim);

// The text a save writes after world_apply_data(data), without touching the world:
// the pose (the heading as a load keeps it), then the walls newest first, that is
// in the reverse of the data's order. A failure of the content, with the reason,
// when the data lacks a pose value or holds a value that is not finite.
file_result world_data_to_text(const world_file_data& data, std::string& text);
// Writes that text as world_write_file writes the world's, with its messages.
file_result world_data_write_file(const std::string& path, const world_file_data& data);
