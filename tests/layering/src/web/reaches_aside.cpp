// A web page source that reaches for the tools and for Qt, which the page
// (WebAssembly, no Qt) may not use.
#include <QImage>

#include "tools/occupancy_map.h"
