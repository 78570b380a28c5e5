// "Update Now" end to end against a loopback server over http and https, with
// and without a public key in qirn-checker.ini.

#include "engine/signing/UpdateSignature.h"
#include "tests/TempTree.h"
#include "tests/update/LoopbackServer.h"
#include "tests/update/UpdateFixture.h"
#include "update/UpdateCommand.h"

#include <gtest/gtest.h>

#include <QSslCertificate>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Body;
using test::HttpResponse;
using test::LoopbackServer;

const std::string kOld = "0cc175b9c0f1b6a831c399e269772661=Old\r\n";
const std::string kNew = "92eb5ffee6ae2fec3ad71c777531578f=New\r\n"
                         "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb=New.Sha\r\n";
constexpr std::uint64_t kInstalledSerial = 5;

class Recorder final : public Switch, public ValueControl, public Caption {
public:
    void SetEnabled(bool) override { }
    void SetValue(int) override { }
    void SetCaption(std::string_view text) override { caption = text; }
    std::string caption;
};

std::string Signed(const std::string& body, std::uint64_t serial, const Ed25519SigningKey& key)
{
    return SignatureFileText({Sha256Of(body), serial}, key);
}

struct UpdateCase {
    const char* what;
    bool withKey;
    std::optional<HttpResponse> body;  // at /signatures/sa.kvd; none: a redirect to /moved/sa.kvd with kNew
    std::optional<std::string> sig;    // at /signatures/sa.kvd.sig; none: 404
    bool installs;
    const char* reasonPart;
    qsizetype requests;
};

class SignedUpdateTest : public ::testing::TestWithParam<LoopbackServer::Scheme> { };

TEST_P(SignedUpdateTest, InstallsOnlyWhatPassesEveryCheck)
{
    const Ed25519SigningKey key = Ed25519SigningKey::Generate();
    const Ed25519SigningKey otherKey = Ed25519SigningKey::Generate();
    HttpResponse xmlError = Body("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>AccessDenied</Code>"
                                 "<Message>Access Denied</Message></Error>");
    xmlError.contentType = "application/xml";
    HttpResponse truncated = Body(kNew.substr(0, 50));
    truncated.announcedLength = static_cast<qint64>(kNew.size());
    const std::vector<UpdateCase> cases = {
        {"a one-line HTML page", false, Body("<html><body><form action=\"/login\"></form></body></html>"), std::nullopt,
            false, "HTML page", 1},
        {"an XML error page", false, xmlError, std::nullopt, false, "XML", 1},
        {"a valid unsigned update", false, Body(kNew), std::nullopt, true, "", 1},
        {"a redirect", false, std::nullopt, std::nullopt, true, "", 2},
        {"a truncated body", false, truncated, std::nullopt, false, "", 1},
        {"a valid signed update", true, Body(kNew), Signed(kNew, 6, key), true, "", 2},
        {"a signed redirect", true, std::nullopt, Signed(kNew, 6, key), true, "", 3},
        {"a wrong signature", true, Body(kNew), Signed(kNew, 6, otherKey), false, "does not verify", 2},
        {"a signature over another body", true, Body(kNew), Signed(kOld, 6, key), false, "SHA-256", 2},
        {"a replayed signature", true, Body(kNew), Signed(kNew, kInstalledSerial - 1, key), false, "replayed", 2},
        {"the installed serial again", true, Body(kNew), Signed(kNew, kInstalledSerial, key), false, "replayed", 2},
        {"a missing .sig", true, Body(kNew), std::nullopt, false, "no signature file", 2},
        {"the installed list again", false, Body(kOld), std::nullopt, true, "the one installed", 1},
        {"the installed list again, signed", true, Body(kOld), Signed(kOld, kInstalledSerial, key), true,
            "the one installed", 2},
        {"the installed list under a new serial", true, Body(kOld), Signed(kOld, 6, key), true, "", 2},
        {"a truncated body, signed", true, truncated, Signed(kNew, 6, key), false, "", 1},
        {"an HTML page, signed", true, Body("<html>x=y</html>"), Signed("<html>x=y</html>", 6, key), false, "HTML", 1},
    };
    for (const UpdateCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempTree tree;
        LoopbackServer server(GetParam());
        const fs::path destination = tree.file("sa.kvd", kOld);
        const std::string oldRecord = Signed(kOld, kInstalledSerial, key);
        tree.file("sa.kvd.sig", oldRecord);
        std::string ini = "[Update]\nUrl=" + server.Url().toString().toStdString() + "\n";
        if (GetParam() == LoopbackServer::Scheme::Https)
            ini += "CaFile=" + LoopbackServer::CertificateFile().toStdString() + "\n";
        if (c.withKey)
            ini += "PublicKey=" + PublicKeyText(key.PublicKey()) + "\n";
        tree.file("qirn-checker.ini", ini);
        if (c.body) {
            server.RespondAt(QStringLiteral("/signatures/sa.kvd"), *c.body);
        } else {
            server.RespondAt(
                QStringLiteral("/signatures/sa.kvd"), test::Redirect(server.Url(QStringLiteral("/moved/sa.kvd"))));
            server.RespondAt(QStringLiteral("/moved/sa.kvd"), Body(kNew));
        }
        server.RespondAt(
            QStringLiteral("/signatures/sa.kvd.sig"), c.sig ? Body(*c.sig) : test::HtmlError(404, "Not Found"));

        Recorder panel;
        Recorder details;
        Recorder problems;
        UpdateCommand command({panel, panel, panel, &details, &problems},
            QUrl(QStringLiteral("http://unused.invalid/")), QString::fromStdString(destination.native()),
            {.timeout = 30s, .deadline = 60s});
        const fs::file_time_type written = fs::last_write_time(destination);
        command.Click();

        EXPECT_EQ(problems.caption, "");
        EXPECT_EQ(panel.caption, c.installs ? "Download succesful" : "Download failed");
        EXPECT_NE(details.caption.find(c.reasonPart), std::string::npos) << details.caption;
        const std::string expected = c.installs && c.body ? c.body->body.toStdString() : c.installs ? kNew : kOld;
        EXPECT_EQ(test::TempTree::read(destination), expected);
        // What is not installed, or is installed already, is not written.
        if (!c.installs || std::string_view(c.reasonPart) == "the one installed") {
            EXPECT_EQ(fs::last_write_time(destination), written);
        }
        const bool recorded = c.installs && c.withKey;
        EXPECT_EQ(test::TempTree::read(tree.root() / "sa.kvd.sig"), recorded ? *c.sig : oldRecord);
        EXPECT_EQ(server.RequestLines().size(), c.requests);
    }
}

// The last base64 digit before the padding carries bits that no byte uses:
// a text that differs only there names the same bytes, and is refused.
TEST(SigningTextTest, OnlyCanonicalBase64IsAKeyOrASignature)
{
    constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto loosened = [&](std::string text, std::size_t at) {
        text[at] = kDigits[kDigits.find(text[at]) ^ 1];
        return text;
    };
    const Ed25519SigningKey signer = Ed25519SigningKey::Generate();
    const std::string key = PublicKeyText(signer.PublicKey());
    ASSERT_EQ(key.size(), 44u);
    ASSERT_TRUE(PublicKeyFromText(key));
    EXPECT_FALSE(PublicKeyFromText(loosened(key, 42)));

    const std::string signature = SignatureFileText({Sha256Of("list"), 7}, signer);
    ASSERT_TRUE(std::holds_alternative<UpdateManifest>(VerifySignatureFile(signature, signer.PublicKey())));
    // "ed25519 " and 88 digits, the last two padding, then the line end.
    const std::size_t last = signature.size() - 4;
    ASSERT_EQ(signature.substr(last + 1), "==\n");
    EXPECT_TRUE(
        std::holds_alternative<std::string>(VerifySignatureFile(loosened(signature, last), signer.PublicKey())));
}

TEST(HttpsTrustTest, OnlyTheConfiguredRootsAreTrusted)
{
    test::TempTree tree;
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.Respond(Body(kNew));
    const QString destination = QString::fromStdString(tree.file("sa.kvd", kOld).native());
    // The test certificate is in no system store.
    DownloadResult result = DownloadSignatureFile(server.Url(), destination);
    EXPECT_EQ(result.status, DownloadStatus::NetworkError);
    EXPECT_TRUE(result.errorText.contains(QStringLiteral("certificate"), Qt::CaseInsensitive))
        << result.errorText.toStdString();
    EXPECT_EQ(test::TempTree::read(destination.toStdString()), kOld);

    const UpdateTrust trusting{std::nullopt, QSslCertificate::fromPath(LoopbackServer::CertificateFile())};
    result = DownloadSignatureFile(server.Url(), destination, trusting);
    EXPECT_EQ(result.status, DownloadStatus::Ok) << result.errorText.toStdString();
    EXPECT_EQ(test::TempTree::read(destination.toStdString()), kNew);
}

// An unknown or malformed setting stops updates until it is mended: a
// fallback to the default address or the system's roots would pass for the
// setting the administrator meant.
TEST(UpdateSettingsTest, AnUnknownOrMalformedSettingStopsUpdates)
{
    const QUrl fallback(QStringLiteral("http://default.example/sa.kvd"));
    const std::string key = PublicKeyText(Ed25519SigningKey::Generate().PublicKey());
    const std::string known =
        " is not a known setting (the settings are Update/Url, Update/PublicKey, Update/CaFile and Scan/MaxSize)";
    struct Case {
        const char* what;
        std::optional<std::string> ini;  // none: no file
        const char* url;
        bool hasKey;
        std::vector<std::string> problems;
    };
    const std::vector<Case> cases = {
        {"no file", std::nullopt, "http://default.example/sa.kvd", false, {}},
        {"every setting", "[Update]\nUrl=https://lists.example/q/sa.kvd\nPublicKey=" + key + "\nCaFile=ca.pem\n",
            "https://lists.example/q/sa.kvd", true, {}},
        {"a URL of another scheme", "[Update]\nUrl=ftp://lists.example/sa.kvd\n", "http://default.example/sa.kvd",
            false, {"Update/Url is not an http or https URL"}},
        {"a URL without a host", "[Update]\nUrl=https:///sa.kvd\n", "http://default.example/sa.kvd", false,
            {"Update/Url is not an http or https URL"}},
        {"an empty URL", "[Update]\nUrl=\n", "http://default.example/sa.kvd", false,
            {"Update/Url is not an http or https URL"}},
        {"a key one character short", "[Update]\nPublicKey=" + key.substr(1) + "\n", "http://default.example/sa.kvd",
            false, {"Update/PublicKey is not a base64 Ed25519 public key"}},
        {"a missing CA file", "[Update]\nCaFile=nowhere.pem\n", "http://default.example/sa.kvd", false,
            {"Update/CaFile (@/nowhere.pem) holds no readable PEM certificate"}},
        {"a misspelt key", "[Update]\nPublicKy=" + key + "\n", "http://default.example/sa.kvd", false,
            {"Update/PublicKy" + known}},
        {"keys in another case", "[Update]\nURL=https://lists.example/sa.kvd\nPublickey=" + key + "\n",
            "http://default.example/sa.kvd", false, {"Update/Publickey" + known, "Update/URL" + known}},
        {"a size limit", "[Scan]\nMaxSize=300000\n", "http://default.example/sa.kvd", false, {}},
        {"a size limit that is no number", "[Scan]\nMaxSize=80k\n", "http://default.example/sa.kvd", false,
            {"Scan/MaxSize is not a number of bytes from 0 to 2147483646"}},
        {"a size limit too large", "[Scan]\nMaxSize=2147483647\n", "http://default.example/sa.kvd", false,
            {"Scan/MaxSize is not a number of bytes from 0 to 2147483646"}},
        {"a key outside [Update]", "Url=https://lists.example/sa.kvd\n", "http://default.example/sa.kvd", false,
            {"Url" + known}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempTree tree;
        std::filesystem::copy_file(LoopbackServer::CertificateFile().toStdString(), tree.root() / "ca.pem");
        if (c.ini)
            tree.file("qirn-checker.ini", *c.ini);
        const QString folder = QString::fromStdString(tree.path());
        const UpdateSettings settings = ReadUpdateSettings(folder, fallback);
        EXPECT_EQ(settings.url.toString().toStdString(), c.url);
        EXPECT_EQ(settings.publicKey.has_value(), c.hasKey);
        EXPECT_EQ(settings.caCertificates.size(), c.ini && c.ini->find("ca.pem") != std::string::npos ? 1 : 0);
        std::vector<std::string> problems;
        for (const QString& problem : settings.problems)
            problems.push_back(QString(problem).replace(folder, QStringLiteral("@")).toStdString());
        EXPECT_EQ(problems, c.problems);
        EXPECT_EQ(settings.refusal.isEmpty(), c.problems.empty());
        EXPECT_TRUE(settings.refusal.isEmpty() ||
            settings.refusal.endsWith(QStringLiteral("in qirn-checker.ini: no update is made until it is mended")));
    }
}

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, SignedUpdateTest,
    ::testing::Values(LoopbackServer::Scheme::Http, LoopbackServer::Scheme::Https),
    [](const auto& param) { return param.param == LoopbackServer::Scheme::Http ? "Http" : "Https"; });

}  // namespace
}  // namespace qirn
