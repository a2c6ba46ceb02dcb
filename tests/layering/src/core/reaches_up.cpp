// A core source that reaches up into the drawing layer: the layering check must
// report it (tests/CMakeLists.txt runs the check on this folder).
#include "core/world.h"
#include "draw/world_draw.h"
