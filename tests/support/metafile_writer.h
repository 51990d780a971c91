// Little writers for hand-made metafiles, shared by the metafile and import tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quillo::test {

struct TWmf {
  std::vector<uint8_t> B;
  uint16_t Objects = 8;
  void W16(int32_t V) {
    B.push_back(uint8_t(V));
    B.push_back(uint8_t(V >> 8));
  }
  void W32(uint32_t V) {
    W16(int32_t(V & 0xFFFF));
    W16(int32_t(V >> 16));
  }
  void Rec(uint16_t Fn, std::vector<int32_t> Words) {
    W32(uint32_t(3 + Words.size()));
    W16(Fn);
    for (int32_t V : Words) W16(V);
  }
  // Placeable header with a box of W x H units at 96 per inch, then the standard header.
  std::vector<uint8_t> Finish(int32_t W, int32_t H) {
    std::vector<uint8_t> Out;
    auto P16 = [&Out](int32_t V) {
      Out.push_back(uint8_t(V));
      Out.push_back(uint8_t(V >> 8));
    };
    P16(0xCDD7);
    P16(0x9AC6);
    for (int32_t V : {0, 0, 0, W, H, 96, 0, 0, 0}) P16(V);
    for (int32_t V : {1, 9, 0x300, 0, 0, int32_t(Objects), 0, 0, 0}) P16(V);
    Out.insert(Out.end(), B.begin(), B.end());
    for (int32_t V : {3, 0, 0}) P16(V);
    return Out;
  }
};

struct TEmf {
  std::vector<uint8_t> B;
  void W32(uint32_t V) {
    for (int32_t I = 0; I < 4; ++I) B.push_back(uint8_t(V >> (8 * I)));
  }
  void F32(float F) {
    uint32_t V;
    std::memcpy(&V, &F, 4);
    W32(V);
  }
  void Rec(uint32_t Type, std::vector<uint32_t> Words) {
    W32(Type);
    W32(uint32_t(8 + 4 * Words.size()));
    for (uint32_t V : Words) W32(V);
  }
  // A header for a picture of W x H pixels on a 96-dpi reference device.
  std::vector<uint8_t> Finish(int32_t W, int32_t H) {
    TEmf Head;
    int32_t FW = int32_t(std::lround(W * 2540.0 / 96)), FH = int32_t(std::lround(H * 2540.0 / 96));
    Head.Rec(1, {0,
                 0,
                 uint32_t(W - 1),
                 uint32_t(H - 1),
                 0,
                 0,
                 uint32_t(FW),
                 uint32_t(FH),
                 0x464D4520u,
                 0x10000,
                 0,
                 0,
                 16,
                 0,
                 0,
                 0,
                 960,
                 960,
                 254,
                 254});
    Rec(14, {0, 0, 20});
    Head.B.insert(Head.B.end(), B.begin(), B.end());
    return Head.B;
  }
};

}  // namespace quillo::test
