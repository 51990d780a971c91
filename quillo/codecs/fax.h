// ITU-T T.4 / T.6 fax coding of bilevel rows: modified Huffman, group 3 one- and
// two-dimensional, group 4. One row per call; the caller carries the bit position (decoding) or
// the pending partial byte and the reference row (encoding) from row to row.
//
// Rows are one bit per pixel, first pixel in the most significant bit. The decoders write
// white as 1 and black as 0; the encoders read 0 as white and 1 as black. Coded data is read in
// fill order 1 (bits from the most significant end of each byte) or 2 (from the least
// significant end). Decoders never read past DataSize bytes, never write past the row, and
// always write every pixel of it.
#pragma once

#include <cstdint>
#include <vector>

#include "quillo/platform/streams.h"

namespace quillo {

// Modified Huffman (TIFF compression 2): one row starting at bit 0 of Data; returns the bytes
// consumed (rows are byte-aligned).
int64_t CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize, int32_t Width,
                            int32_t FillOrder);

// One-dimensional row starting at BitPos; returns the new bit position. An EOL before the
// row's first code is skipped; one met inside the row ends it.
int64_t _CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize, int32_t Width,
                             int64_t BitPos, int32_t FillOrder);

// Two-dimensional row (group 4, or group 3 with its EOL and 1-D/2-D tag bit) against RefRow;
// returns the new bit position and leaves the decoded row in RefRow (ceil(Width / 8) bytes).
// The caller sets RefRow to all ones (white) before the first row of a strip.
int64_t CCITT3_2D_GetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize, int32_t Width,
                          uint8_t* RefRow, int64_t BitPos, int32_t FillOrder);

// Two-dimensional decoding of the rows of one strip, the reference row kept between rows in
// a faster form than bits: GetLine gives the rows CCITT3_2D_GetLine gives for the same data.
class TQLFax2DDecoder {
 public:
  explicit TQLFax2DDecoder(int32_t Width = 0) { Reset(Width); }
  // Starts a strip: the reference row all white.
  void Reset(int32_t Width);
  // Takes the reference row from bits (1 white).
  void SetReference(const uint8_t* RefRow, int32_t Width);
  // Decodes the row at BitPos into Row (ceil(Width / 8) bytes, white 1), which becomes the
  // reference for the next; returns the new bit position.
  int64_t GetLine(uint8_t* Row, const uint8_t* Data, int64_t DataSize, int64_t BitPos,
                  int32_t FillOrder);

 private:
  int32_t FWidth = 0;
  std::vector<int32_t> FRef, FCur;
};

// Appends the one-dimensional codes of Row to Bits at BitPos (advanced); Bits grows as needed
// and the bits after the last code inside its byte are 0.
void _CCITTHuffmanPutLine(const uint8_t* Row, int32_t Width, std::vector<uint8_t>& Bits,
                          int64_t& BitPos);

// One modified Huffman row, padded to a whole byte. A short write sets Abort.
void CCITTHuffmanPutLine(const uint8_t* Row, int32_t Width, TStream& Stream, bool& Abort);

// Group 3 one-dimensional: an EOL and the row's codes follow the pending bits; whole bytes are
// written and the rest kept in PendingByte (its top PendingBits bits). A call with Row nullptr
// and Width 0 writes the pending bits padded with zeros.
void CCITTHuffmanPutLineG3(const uint8_t* Row, int32_t Width, TStream& Stream, uint8_t& PendingByte,
                           int32_t& PendingBits, bool& Abort);

// Group 3 two-dimensional: the first row (RefRow empty) as EOL, tag 1 and 1-D codes, every
// later one as EOL, tag 0 and 2-D codes against RefRow; the row then becomes RefRow. The final
// call (Row nullptr, Width 0) writes an EOL and the pending bits padded with zeros.
void CCITTHuffmanPutLineG32D(const uint8_t* Row, int32_t Width, TStream& Stream,
                             uint8_t& PendingByte, int32_t& PendingBits,
                             std::vector<uint8_t>& RefRow, bool& Abort);

// Group 4: every row two-dimensional against RefRow (all white when empty); no EOLs. The final
// call writes EOFB and pads with zeros to a whole byte.
void CCITTHuffmanPutLineG4(const uint8_t* Row, int32_t Width, TStream& Stream, uint8_t& PendingByte,
                           int32_t& PendingBits, std::vector<uint8_t>& RefRow, bool& Abort);

}  // namespace quillo
