// The I/O component's glue to each codec: one file per format (quilloio_<format>.cpp) defines
// the component's loaders and savers for it and these calls, which the component's generic
// paths (detection, parameters-only reads) use.
#pragma once

#include <cstdint>

#include "quillo/core/types.h"
#include "quillo/core/params.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo::iodetail {

// Content detectors (restore the position).
bool TryJPEG(TStream& Stream);
bool TryPNG(TStream& Stream);
bool TryTGA(TStream& Stream);

// Preview reads of one image at the stream's position (parameters only).
void PreviewJPEG(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress);
void PreviewPNG(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress);
void PreviewGIF(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress);
void PreviewTIFF(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress);
void PreviewPCX(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress);
void PreviewTGA(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress);

}  // namespace quillo::iodetail
