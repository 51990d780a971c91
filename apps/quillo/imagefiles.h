// Reading and writing images for the tool's commands, through the I/O component, with the
// progress bar, Ctrl-C and complete-or-nothing output files.
#pragma once

#include <string>
#include <vector>

#include "quillo/io/quilloio.h"

namespace quillo::tool {

// Loads FileName into the component's bitmap (format by content, else by extension); Frame
// picks the GIF frame or TIFF page. Throws std::runtime_error naming the file when it cannot
// be read, TInterrupted on Ctrl-C.
void LoadImage(TQuilloIO& IO, const std::string& FileName, int32_t Frame = 0);

// The file type for an output name (its extension) or for Format when given; throws
// TUsageError when neither names a format the library writes.
int32_t OutputType(const std::string& FileName, const std::string& Format);

// Brings the parameters carried from the input into what the output type can store (a grey
// JPEG for grey or black-and-white input, the depth a netpbm extension names...), so that a
// conversion never asks a writer for a layout it does not have.
void FitParams(TIOParamsVals& P, int32_t Type, const std::string& FileName);

// Writes the component's bitmap to FileName as Type (Format non-empty: through a stream, so
// any name works); the file appears only when complete. Throws std::runtime_error naming the
// file on failure, TInterrupted on Ctrl-C.
void SaveImage(TQuilloIO& IO, const std::string& FileName, const std::string& Format = "");

// The value of --frame / --page: a number from 0 (TUsageError otherwise).
int32_t ParseFrame(const std::string& Text);
// Applies --set FIELD=VALUE options (TUsageError for an unknown field or a bad value).
void ApplySets(TIOParamsVals& P, const std::vector<std::string>& Sets);

}  // namespace quillo::tool
