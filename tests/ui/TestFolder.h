#pragma once

// The window tests' temporary folder and sample contents.

#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

namespace qirn::uitest {

using TestFolder = qirn::test::TempTree;
using test::kEicar;
using test::kEicarMd5;
using test::kHelloMd5;
using test::kHelloSha256;

}  // namespace qirn::uitest
