#pragma once

#include <filesystem>

namespace qirn {

// The folder of the running executable, and the signature file in it.
std::filesystem::path ApplicationFolder();
std::filesystem::path DefaultSignatureFile();

}  // namespace qirn
