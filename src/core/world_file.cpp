#include "core/world_file.h"
bool world_read_file(const std::string&, std::string& error) { error = "not yet"; return false; }
bool world_read_text(std::string_view, std::string& error) { error = "not yet"; return false; }
bool world_write_file(const std::string&, std::string& error) { error = "not yet"; return false; }
std::string world_format_text() { return {}; }
