#pragma once

// qirn-sigtool keygen, sign and verify, where the build has Ed25519.

#include <cstdio>
#include <span>
#include <string>

namespace qirn {

// command is keygen, sign or verify; args follow it.
int RunSigning(const std::string& command, std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace qirn
