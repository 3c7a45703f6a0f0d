#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

namespace pixavant::fuzz {

// Sets up what the file layer needs once per process (a core application for the renderer
// process, GraphicsMagick).
void initialize();

// Writes the input to a file in this process's scratch directory and returns its path. The last
// byte of the input picks the name's suffix, so that readers chosen partly by suffix (TGA, PICT,
// run-length BMP) and the PostScript reader are reached.
QString writeInput(const uint8_t* data, size_t size);

}  // namespace pixavant::fuzz
