// The runner's picture as a PNG file's bytes: the image the scene was drawn
// into (shell/scene.h draws it, with the statistics line in a QImage), encoded
// by Qt.
#pragma once

#include <string>

#include "core/file_error.h"

class qimage_context;

// The image's PNG bytes, or a failure (of the content: nothing the file is at
// fault for) when Qt cannot encode them.
file_result encode_png(const qimage_context& image, std::string& png);
