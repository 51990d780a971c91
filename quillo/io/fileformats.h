// The file-format table: one row per format, built-in or registered by an application, with its
// names and extensions, its reader, writer and content detector, and how the I/O component loads
// and saves it. Loading and saving by extension, detection by content, reading parameters only
// and the tool's choice of writable formats all go by these rows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

class TIOParamsVals;

// Reads an image from the stream's position into the bitmap (preview: parameters only).
using TQLReadFunction = std::function<void(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params,
                                           bool Preview, TProgressRec& Progress)>;
// Writes the bitmap (1-bit or 24-bit) at the stream's position.
using TQLWriteFunction = std::function<void(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params,
                                            TProgressRec& Progress)>;
// True when the bytes at the stream's position are this format; restores the position.
using TQLTryFunction = std::function<bool(TStream& Stream)>;

struct TQLFileFormatInfo {
  int32_t FileType = 0;
  std::string FullName;    // at most 80 characters
  std::string Extensions;  // without dots, separated by ";", at most 80 characters
  TQLReadFunction ReadFunction;
  TQLWriteFunction WriteFunction;
  TQLTryFunction TryFunction;
  // The extensions SaveToFile writes this format under, as Extensions; empty: all of them.
  // A format without WriteFunction is written under none.
  std::string SaveExtensions;
  // Further extensions LoadFromFile reads this format under, as Extensions, without their being
  // the row's own (Targa files named ".win").
  std::string LoadExtensions;
  // Whether a load from a file, and from a stream, passes the image's resolution to the attached
  // view (formats that store none leave the view's own).
  bool FileLoadSetsViewDpi = true;
  bool StreamLoadSetsViewDpi = true;
  // Set on the library's own rows: their detectors run after those of registered rows, so that
  // an application's format wins over a built-in detector that would also accept it.
  bool BuiltIn = false;
};

// The rows in order: the 12 built-in formats, then the registered ones. Created on first use.
std::vector<std::unique_ptr<TQLFileFormatInfo>>& qlgFileFormats();

// The first row of that type, or nullptr.
TQLFileFormatInfo* QLFileFormatGetInfo(int32_t FileType);
// The first row carrying the extension (without dot; compared in lower case), or nullptr.
TQLFileFormatInfo* QLFileFormatGetInfo2(const std::string& Extension);
// True when SaveToFile writes the row's format under the extension (without dot, any case).
bool QLFileFormatSavesExt(const TQLFileFormatInfo& Row, const std::string& Extension);
// The row LoadFromFile reads a file of this extension with: by the rows' extensions, then by
// their further load extensions; nullptr when none.
TQLFileFormatInfo* QLFileFormatForLoad(const std::string& Extension);
// Number of extensions of the type's row, up to the first empty one.
int32_t QLFileFormatGetExtCount(int32_t FileType);
// The Index-th extension (0-based) of the type's row, empty when there is none.
std::string QLFileFormatGetExt(int32_t FileType, int32_t Index);
// Appends a copy of the row (names cut to 80 characters).
void QLFileFormatAdd(const TQLFileFormatInfo& Info);
// Removes the row of that type.
void QLFileFormatRemove(int32_t FileType);

}  // namespace quillo
