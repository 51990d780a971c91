// Everything in the quillo library (not the Qt backend).
#pragma once

#include "quillo/version.h"

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/font.h"
#include "quillo/platform/metafile.h"
#include "quillo/platform/region.h"
#include "quillo/platform/screen.h"
#include "quillo/platform/streams.h"
#include "quillo/platform/sysutils.h"
#include "quillo/platform/types.h"

#include "quillo/core/hooks.h"
#include "quillo/core/lists.h"
#include "quillo/core/metadata.h"
#include "quillo/core/pixels.h"
#include "quillo/core/types.h"

#include "quillo/io/fileformats.h"
#include "quillo/io/params.h"
