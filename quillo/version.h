// The library's version, kept equal to the project version in CMakeLists.txt.
#pragma once

namespace quillo {

constexpr int QuilloVersionMajor = 0;
constexpr int QuilloVersionMinor = 1;
constexpr int QuilloVersionPatch = 0;
constexpr const char* QuilloVersionString = "0.1.0";

}  // namespace quillo
