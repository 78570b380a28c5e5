#include "cli/SigTool.h"

#include "cli/SigToolImport.h"
#include "cli/SigToolSigning.h"

namespace qirn {

namespace {

constexpr const char* kUsage = "Usage: qirn-sigtool import [--format F] [--output FILE] LIST...\n"
                               "       qirn-sigtool keygen [--out NAME]\n"
                               "       qirn-sigtool sign --key NAME.key --serial N [--output SIG] SA_KVD\n"
                               "       qirn-sigtool verify --key NAME.pub [--sig SIG] SA_KVD\n"
                               "\n"
                               "import   reads hash lists and writes one sa.kvd (digest=name, CR LF, lowercase,\n"
                               "         each digest and name once) to standard output or, with --output, to\n"
                               "         FILE, which is replaced only when every LIST was read. The format is\n"
                               "         told by content; --format forces one of: kvd, plain, sums (md5sum or\n"
                               "         sha256sum output), bsd (\"MD5 (file) = digest\"), hashdeep, clamav\n"
                               "         (.hdb, .hsb), loki (hash;description), csv (MalwareBazaar and others\n"
                               "         with MD5 or SHA-256 columns), misp. A load report goes to standard error.\n"
                               "keygen   makes an Ed25519 key pair: NAME.key (private, mode 0600, never\n"
                               "         overwritten) and NAME.pub (default NAME: qirn-signing). It prints the\n"
                               "         qirn-checker.ini line that makes the window trust the key.\n"
                               "sign     writes SA_KVD.sig: the file's SHA-256 and serial N, signed. N must\n"
                               "         grow with every list published. The file must pass the same checks\n"
                               "         as a download.\n"
                               "verify   checks SA_KVD against SA_KVD.sig (or SIG) and the public key.\n"
                               "\n"
                               "Exit status: 0 done; 1 verification failed; 2 bad input or arguments.\n";

}  // namespace

int RunSigTool(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? err : out);
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    if (command == "import")
        return RunImport(args.subspan(1), out, err);
    if (command == "keygen" || command == "sign" || command == "verify")
        return RunSigning(command, args.subspan(1), out, err);
    std::fprintf(err, "qirn-sigtool: unknown command %s\n\n%s", command.c_str(), kUsage);
    return 2;
}

}  // namespace qirn
