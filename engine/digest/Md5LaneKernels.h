#pragma once

// The lane kernels, each compiled for its own instruction set: call one only
// where Md5Lanes::Supported says the processor has it.

#include "engine/digest/Md5Lanes.h"

namespace qirn {

void Md5Avx2Kernel(std::uint32_t* state, const std::byte* const* blocks, std::size_t count);    // 8 lanes
void Md5Avx512Kernel(std::uint32_t* state, const std::byte* const* blocks, std::size_t count);  // 16 lanes

}  // namespace qirn
