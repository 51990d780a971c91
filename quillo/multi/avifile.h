// AVI video files, frame by frame, on FFmpeg's libraries: reading any video stream of an AVI
// that FFmpeg decodes into 24-bit bitmaps, and writing bitmaps as an AVI with a chosen
// compressor. Input and output go through our streams (FFmpeg's custom I/O), so memory and
// files read alike. FFmpeg's own messages are silent unless QLSetAVILogging turns them on.
//
// FFmpeg's libraries are loaded at the first AVI use. Built without FFmpeg, or where its
// libraries cannot be loaded, QLAVIAvailable is false and every open fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// True when the library was built with FFmpeg and its libraries load.
bool QLAVIAvailable();
// Lets FFmpeg's warnings and errors through to standard error (off by default).
void QLSetAVILogging(bool On);

// The compressor an AVI is written with: uncompressed 24-bit DIB frames, Motion JPEG at a
// quality, or FFV1 (lossless).
enum TQLAVICodec : uint8_t { qlavRaw, qlavMJPEG, qlavFFV1 };

struct TQLAVIStreamInfo {
  int32_t Width = 0, Height = 0;
  // Frames per second as Rate / Scale, from the stream header.
  int32_t Rate = 0, Scale = 1;
  // The frame count the file announces (frames actually decodable may be fewer).
  int64_t Frames = 0;
  std::string Codec;  // FFmpeg's short codec name ("rawvideo", "mjpeg", "h264"...)
  // Milliseconds per frame: trunc(1000 * Scale / Rate), 0 when the rate is unknown.
  int32_t DelayMs() const;
};

// Reads the first video stream of an AVI from a stream (which must stay alive while it is
// open), frame after frame.
class TQLAVIReader {
 public:
  TQLAVIReader();
  ~TQLAVIReader();
  TQLAVIReader(const TQLAVIReader&) = delete;
  TQLAVIReader& operator=(const TQLAVIReader&) = delete;

  // False when the data is no AVI, has no video stream FFmpeg can decode, or its frame size
  // passes the pixel limit.
  bool Open(TStream& Stream);
  const TQLAVIStreamInfo& Info() const { return FInfo; }
  // The next frame as a 24-bit bitmap; false at the end and on damaged data (Failed tells
  // which).
  bool ReadFrame(TBitmap& Frame);
  bool Failed() const { return FFailed; }

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
  TQLAVIStreamInfo FInfo;
  bool FFailed = false;
};

// Writes an AVI of one video stream. Every frame must have the first frame's size: a frame of
// another size is replaced by the last frame that had it (the first when none did since).
class TQLAVIWriter {
 public:
  TQLAVIWriter();
  ~TQLAVIWriter();
  TQLAVIWriter(const TQLAVIWriter&) = delete;
  TQLAVIWriter& operator=(const TQLAVIWriter&) = delete;

  // Starts the file in Stream at Rate / Scale frames per second; Quality (1 to 100) is for
  // MJPEG. False when the compressor cannot take the size or is missing.
  bool Open(TStream& Stream, int32_t Width, int32_t Height, int32_t Rate, int32_t Scale,
            TQLAVICodec Codec, int32_t Quality = 75);
  // Appends a frame (any pixel format; converted to 24-bit first).
  bool WriteFrame(const TBitmap& Frame);
  // Flushes the compressor and writes the index; false when writing failed. The stream then
  // holds a complete file with the frames written so far.
  bool Close();
  int32_t FramesWritten() const { return FWritten; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
  int32_t FWidth = 0, FHeight = 0, FWritten = 0;
  TBitmap FLastGood;
};

// Frames per second for a frame time of DelayMs milliseconds (at least 1), as an exact
// fraction Rate / Scale in lowest terms.
void QLAVIRateForDelay(int32_t DelayMs, int32_t& Rate, int32_t& Scale);

}  // namespace quillo
