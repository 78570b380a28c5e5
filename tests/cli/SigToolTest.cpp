#include "cli/SigTool.h"
#include "engine/signing/UpdateSignature.h"
#include "tests/TempTree.h"
#include "tests/cli/StreamCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qirn {
namespace {

using namespace std::string_literals;
using test::TempTree;

using Outcome = test::Captured;

Outcome SigTool(const std::vector<std::string>& args)
{
    return test::CaptureStreams([&](std::FILE* out, std::FILE* err) { return RunSigTool(args, out, err); });
}

const std::string kMd5 = "44d88612fea8a8f36de82e1278abb02f";
const std::string kSha = "275a021bbfb6489e54d471899f7db9d1663fc695ec2fe2a2c4538aabf651fd0f";

TEST(SigToolSigningTest, KeygenSignVerify)
{
    TempTree tree;
    const std::string kvd = tree.file("sa.kvd", kMd5 + "=EICAR\r\n").native();
    const std::string name = tree.path("org");
    Outcome outcome = SigTool({"keygen", "--out", name});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    struct stat info { };
    ASSERT_EQ(::stat((name + ".key").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string publicKey = TempTree::read(name + ".pub");
    EXPECT_NE(outcome.out.find("PublicKey=" + publicKey), std::string::npos);
    // A second keygen never overwrites the private key.
    const std::string privateKey = TempTree::read(name + ".key");
    EXPECT_EQ(SigTool({"keygen", "--out", name}).status, 2);
    EXPECT_EQ(TempTree::read(name + ".key"), privateKey);

    struct Step {
        const char* what;
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const std::string key = name + ".key";
    const std::string pub = name + ".pub";
    const std::vector<Step> steps = {
        {"sign serial 3", {"sign", "--key", key, "--serial", "3", kvd}, 0, "serial 3 signed"},
        {"verify", {"verify", "--key", pub, kvd}, 0, "good signature, serial 3"},
        {"a serial that does not grow", {"sign", "--key", key, "--serial", "3", kvd}, 2, "the serial must grow"},
        {"a serial of 0", {"sign", "--key", key, "--serial", "0", kvd}, 2, "--serial needs a whole number"},
        {"signing with the public key", {"sign", "--key", pub, "--serial", "4", kvd}, 2, "not a PEM private key"},
        {"verify with another key",
            {"verify", "--key",
                tree.file("other.pub", PublicKeyText(Ed25519SigningKey::Generate().PublicKey())).native(), kvd},
            1, "does not verify"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        outcome = SigTool(step.args);
        EXPECT_EQ(outcome.status, step.status) << outcome.err;
        EXPECT_NE((outcome.out + outcome.err).find(step.says), std::string::npos) << outcome.out << outcome.err;
    }

    tree.file("sa.kvd", kMd5 + "=EICAR\r\n" + kSha + "=Changed\r\n");
    outcome = SigTool({"verify", "--key", pub, kvd});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("SHA-256 is not the one the signature names"), std::string::npos) << outcome.err;

    tree.file("page.kvd", "<html><a href=x>login</a></html>");
    outcome = SigTool({"sign", "--key", key, "--serial", "9", tree.path("page.kvd")});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("would be refused by the window: the body is an HTML page"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(tree.path("page.kvd.sig")));
}

}  // namespace
}  // namespace qirn
