// The diagnostic console: plain text lines for the user, on standard error.
#pragma once

#include <functional>
#include <string_view>

// Writes the text as it is (no line break added). Goes to standard error unless a
// sink has been installed.
void write_console(const char* text);

// Redirects the console, for tests and tools; an empty function restores stderr.
void set_console_sink(std::function<void(std::string_view)> sink);
