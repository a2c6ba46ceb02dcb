// The diagnostic console: plain text lines for the user, on standard error
// unless the simulation's sink takes them.
#pragma once

#include <functional>
#include <string_view>

struct simulation;

// Where a simulation's console text goes instead of standard error.
using console_sink = std::function<void(std::string_view)>;

// Writes the text as it is (no line break added). Goes to standard error unless a
// sink has been installed. The console is the simulation's output, not its
// state: a const simulation writes to it too.
void write_console(const simulation& sim, const char* text);

// Redirects the simulation's console, for tests and tools; an empty function
// restores standard error.
void set_console_sink(simulation& sim, console_sink sink);
