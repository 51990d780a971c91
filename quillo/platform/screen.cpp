#include "quillo/platform/screen.h"

#include <cstdlib>

namespace quillo {

int32_t gSystemDPIX = 96;
int32_t gSystemDPIY = 96;
int32_t gSystemColors = 24;
int32_t gEdgeX = 2;
int32_t gEdgeY = 2;
#if defined(__x86_64__) || defined(__i386__)
bool gMMX = true;
#else
bool gMMX = false;
#endif

std::string DefTEMPPATH;

std::string QLTempFolder() {
  if (!DefTEMPPATH.empty()) return DefTEMPPATH;
  const char* T = std::getenv("TMPDIR");
  if (T && *T) return T;
  return "/tmp";
}

}  // namespace quillo
