// Screen metrics and process-wide defaults. Headless values until a backend sets real ones.
#pragma once

#include <cstdint>
#include <string>

namespace quillo {

// Logical resolution of the screen, in dots per inch (96 headless).
extern int32_t gSystemDPIX;
extern int32_t gSystemDPIY;
// Bits per pixel of the screen (24 headless).
extern int32_t gSystemColors;
// Width and height of a 3-D edge.
extern int32_t gEdgeX;
extern int32_t gEdgeY;
// Whether the processor has the MMX instruction set.
extern bool gMMX;

// Folder for temporary files; empty means the system's temporary folder.
extern std::string DefTEMPPATH;

// The folder DefTEMPPATH names, or the system's temporary folder when it is empty.
std::string QLTempFolder();

}  // namespace quillo
