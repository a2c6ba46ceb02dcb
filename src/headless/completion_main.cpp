// robosim_completion TEMPLATE OUTPUT: writes the bash completion of the three
// programs, the runner's part made from its option table. Run by the build.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "headless/completion.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: robosim_completion TEMPLATE OUTPUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in.is_open()) {
    std::fprintf(stderr, "robosim_completion: cannot read %s\n", argv[1]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  const std::string filled =
      fill_completion_template(text.str(), "@ROBOT_SIMULATOR_HEADLESS@", option_table());
  if (filled.empty()) {
    std::fprintf(stderr, "robosim_completion: %s has no @ROBOT_SIMULATOR_HEADLESS@ line\n",
                 argv[1]);
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << filled;
  out.close();
  if (!out) {
    std::fprintf(stderr, "robosim_completion: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
