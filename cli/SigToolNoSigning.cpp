// Windows: CNG has no Ed25519 and the MinGW build no OpenSSL, so this build
// imports lists but leaves signing and checking signatures to the Linux one.

#include "cli/SigToolSigning.h"

namespace qirn {

int RunSigning(const std::string& command, std::span<const std::string>, std::FILE*, std::FILE* err)
{
    std::fprintf(err, "qirn-sigtool: %s needs Ed25519, which this Windows build lacks; run it with the Linux build\n",
        command.c_str());
    return 2;
}

}  // namespace qirn
