// Runs a fuzz target's entry point once on each file named on the command line: the stand-in
// for libFuzzer when the compiler has none.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

int main(int argc, char** argv) {
  for (int I = 1; I < argc; ++I) {
    if (argv[I][0] == '-') continue;  // libFuzzer's options, which this driver has no use for
    std::ifstream F(argv[I], std::ios::binary);
    if (!F) {
      std::fprintf(stderr, "cannot open %s\n", argv[I]);
      return 1;
    }
    std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(F)), {});
    LLVMFuzzerTestOneInput(Bytes.data(), Bytes.size());
  }
  return 0;
}
