// The I/O parameter record lives with the image model (the codecs fill it); this header keeps
// the name under which the I/O component has always offered it.
#pragma once

#include "quillo/core/params.h"
