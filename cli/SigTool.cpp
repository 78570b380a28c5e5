#include "cli/SigTool.h"

#include "cli/SigToolImport.h"
#include "cli/SigToolSigning.h"

namespace qirn {

namespace {

constexpr const char* kUsage = "Usage: qirn-sigtool import [--format F] [--output FILE] [--keep-trivial] LIST...\n"
                               "       qirn-sigtool keygen [--out NAME]\n"
                               "       qirn-sigtool sign --key NAME.key --serial N [--output SIG] SA_KVD\n"
                               "       qirn-sigtool verify --key NAME.pub [--sig SIG] SA_KVD\n"
                               "       qirn-sigtool --help | --version\n"
                               "\n"
                               "import   reads hash lists and writes one sa.kvd (digest=name, CR LF, lowercase)\n"
                               "         to standard output or, with --output, to FILE, which is replaced only\n"
                               "         when every LIST was read. Each digest is written once, with the names\n"
                               "         the lists give it joined by \"/\" (Trojan.A/Eicar-Test), so that one\n"
                               "         file is one hit. Digests of the empty file are left out with a\n"
                               "         warning, unless --keep-trivial. Where a list gives file sizes, the\n"
                               "         report says how many signatures are for files larger than a scan\n"
                               "         reads by default (83000 bytes; see qirn-scan --max-size). The format is\n"
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

int UsageError(std::FILE* err, const std::string& problem)
{
    std::fprintf(err, "qirn-sigtool: %s\nTry 'qirn-sigtool --help' for more information.\n", problem.c_str());
    return 2;
}

int RunSigTool(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    if (args.empty())
        return UsageError(err, "no command given");
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, out);
        return 0;
    }
    if (args[0] == "--version") {
        std::fputs("qirn-sigtool " QIRN_VERSION "\n", out);
        return 0;
    }
    const std::string& command = args[0];
    if (command == "import")
        return RunImport(args.subspan(1), out, err);
    if (command == "keygen" || command == "sign" || command == "verify")
        return RunSigning(command, args.subspan(1), out, err);
    return UsageError(err, "unknown command " + command);
}

}  // namespace qirn
