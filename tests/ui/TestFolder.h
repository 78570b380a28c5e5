#pragma once

// The window tests' temporary folder and sample contents.

#include "tests/TempTree.h"

#include <string_view>

namespace qirn::uitest {

using TestFolder = qirn::test::TempTree;

// The standard antivirus test file and its MD5 digest.
inline constexpr std::string_view kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
inline constexpr std::string_view kEicarMd5 = "44d88612fea8a8f36de82e1278abb02f";
// MD5 of "hello".
inline constexpr std::string_view kHelloMd5 = "5d41402abc4b2a76b9719d911017c592";

}  // namespace qirn::uitest
