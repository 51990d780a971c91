// Everything in the quillo library (not the Qt backend).
#pragma once

#include "quillo/version.h"

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/controls.h"
#include "quillo/platform/font.h"
#include "quillo/platform/metafile.h"
#include "quillo/platform/region.h"
#include "quillo/platform/screen.h"
#include "quillo/platform/streams.h"
#include "quillo/platform/threads.h"
#include "quillo/platform/sysutils.h"
#include "quillo/platform/types.h"
#include "quillo/platform/clipboard.h"

#include "quillo/core/colors.h"
#include "quillo/core/hooks.h"
#include "quillo/core/lists.h"
#include "quillo/core/metadata.h"
#include "quillo/core/pixels.h"
#include "quillo/core/types.h"
#include "quillo/core/view.h"
#include "quillo/core/selection.h"

#include "quillo/core/dither.h"

#include "quillo/codecs/bmp.h"
#include "quillo/codecs/fax.h"
#include "quillo/codecs/gif.h"
#include "quillo/codecs/jpeg.h"
#include "quillo/codecs/jpeg_quality.h"
#include "quillo/codecs/pcx.h"
#include "quillo/codecs/png.h"
#include "quillo/codecs/pxm.h"
#include "quillo/codecs/tga.h"
#include "quillo/codecs/tiff.h"
#include "quillo/codecs/zstreams.h"

#include "quillo/quant/convert.h"
#include "quillo/quant/mediancut.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/quantizer.h"
#include "quillo/quant/source24.h"

#include "quillo/lzw/gif_lzw.h"
#include "quillo/lzw/lzw.h"
#include "quillo/lzw/tiff_lzw.h"

#include "quillo/proc/analysis.h"
#include "quillo/proc/filters.h"
#include "quillo/proc/fourier.h"
#include "quillo/proc/geometry.h"
#include "quillo/proc/magicwand.h"
#include "quillo/proc/colorops.h"
#include "quillo/proc/dib.h"
#include "quillo/proc/quilloproc.h"

#include "quillo/io/fileformats.h"
#include "quillo/core/params.h"
#include "quillo/io/quilloio.h"


#include "quillo/view/quilloview.h"
#include "quillo/view/allinone.h"
#include "quillo/vect/vect.h"
