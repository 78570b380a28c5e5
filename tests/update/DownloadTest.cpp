#include "update/Download.h"
#include "tests/FileSizeLimit.h"
#include "tests/update/UpdateFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Body;
using test::HttpResponse;
using test::LoopbackServer;

const QByteArray kOld = "0cc175b9c0f1b6a831c399e269772661=Old.One\r\n"
                        "92eb5ffee6ae2fec3ad71c777531578f=Old.Two\r\n"
                        "4a8a08f09d37b73795649038408b5f33=Old.Three\r\n";
const QByteArray kNew = "0cc175b9c0f1b6a831c399e269772661=New\r\n";

std::optional<std::string> ContentOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in || fs::is_directory(file))
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Text(const QByteArray& bytes)
{
    return bytes.toStdString();
}

std::set<std::string> EntriesOf(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().native());
    return names;
}

class DownloadTest : public test::UpdateFixture {
protected:
    DownloadResult Download(const FetchLimits& limits = {})
    {
        return DownloadSignatureFile(server_.Url(), DestinationText(), limits);
    }
};

TEST_F(DownloadTest, ReplacesTheFileWithExactlyTheBody)
{
    struct Case {
        const char* what;
        std::optional<QByteArray> old;
        QByteArray body;
    };
    const std::vector<Case> cases = {
        {"shorter than the old file", kOld, kNew},
        {"longer than the old file", kNew, kOld + kOld},
        {"no old file", std::nullopt, kOld},
        {"line ends and bytes as sent", kOld,
            "0cc175b9c0f1b6a831c399e269772661=Tr\xe9s\n92eb5ffee6ae2fec3ad71c777531578f=x\r\r\n\r\n"
            "4a8a08f09d37b73795649038408b5f33=last"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(tree_.root() / "app");
        tree_.folder("app");
        if (c.old)
            WriteOld(*c.old);
        server_.Respond(Body(c.body));
        const DownloadResult result = Download();
        EXPECT_EQ(result.status, DownloadStatus::Ok) << result.errorText.toStdString();
        EXPECT_EQ(ContentOf(Destination()), Text(c.body));
        EXPECT_EQ(EntriesOf(tree_.root() / "app"), std::set<std::string>{"sa.kvd"});
    }
}

TEST_F(DownloadTest, EveryFailureLeavesTheFileAsItWas)
{
    struct Case {
        const char* what;
        std::optional<HttpResponse> response;  // none: no answer at all
        DownloadStatus status;
        bool refused = false;
    };
    HttpResponse htmlPage = Body("<html>\r\n<body>Welcome</body>\r\n</html>\r\n");
    htmlPage.contentType = "text/html";
    const std::vector<Case> cases = {
        {"404 with an HTML body", test::HtmlError(404, "Not Found"), DownloadStatus::HttpError},
        {"500 with an HTML body", test::HtmlError(500, "Internal Server Error"), DownloadStatus::HttpError},
        {"refused connection", Body(kNew), DownloadStatus::NetworkError, true},
        {"server never answers", std::nullopt, DownloadStatus::TimedOut},
        {"empty body", Body({}), DownloadStatus::Rejected},
        {"only line ends", Body("\r\n\r\n"), DownloadStatus::Rejected},
        {"an HTML page with 200", htmlPage, DownloadStatus::Rejected},
        {"a line without =", Body(kNew + "no separator\r\n"), DownloadStatus::Rejected},
        {"over the cap", Body(kOld + kOld), DownloadStatus::TooLarge},
    };
    for (const bool oldExists : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (oldExists ? "" : ", no old file"));
            fs::remove_all(tree_.root() / "app");
            tree_.folder("app");
            if (oldExists)
                WriteOld(kOld);
            if (c.response)
                server_.Respond(*c.response);
            else
                server_.NeverAnswer();
            // Short only where it is waited for, so a slow machine fails nothing else.
            const FetchLimits limits{.timeout = c.response ? 30s : 200ms, .maxBytes = 2 * kOld.size() - 1};
            const DownloadResult result = c.refused
                ? DownloadSignatureFile(LoopbackServer::RefusedUrl(), DestinationText(), limits)
                : Download(limits);
            EXPECT_EQ(result.status, c.status) << result.errorText.toStdString();
            EXPECT_FALSE(result.errorText.isEmpty());
            EXPECT_EQ(ContentOf(Destination()), oldExists ? std::optional(Text(kOld)) : std::nullopt);
            EXPECT_EQ(EntriesOf(tree_.root() / "app").size(), oldExists ? 1u : 0u);
        }
    }
}

TEST_F(DownloadTest, DestinationThatCannotBeWritten)
{
    server_.Respond(Body(kOld + kOld));

    // The folder is a plain file.
    tree_.file("app", "not a folder");
    EXPECT_EQ(Download().status, DownloadStatus::WriteFailed);
    EXPECT_EQ(ContentOf(tree_.root() / "app"), "not a folder");
    fs::remove(tree_.root() / "app");

    // The destination is a folder.
    tree_.folder("app/sa.kvd");
    EXPECT_EQ(Download().status, DownloadStatus::WriteFailed);
    EXPECT_TRUE(fs::is_directory(Destination()));
    EXPECT_TRUE(fs::is_empty(Destination()));
    fs::remove(Destination());

    // Writing stops partway, after the old file's length; a small body is
    // written from a buffer at the end, a large one at once.
    WriteOld(kOld);
    for (const QByteArray& body : {kOld + kOld, kOld.repeated(1000)}) {
        server_.Respond(Body(body));
        DownloadResult result;
        {
            const test::FileSizeLimit limit(static_cast<rlim_t>(kOld.size() + 10));
            result = Download();
        }
        EXPECT_EQ(result.status, DownloadStatus::WriteFailed);
        EXPECT_FALSE(result.errorText.isEmpty());
        EXPECT_EQ(ContentOf(Destination()), Text(kOld));
        EXPECT_EQ(EntriesOf(tree_.root() / "app"), std::set<std::string>{"sa.kvd"});
    }
    EXPECT_EQ(server_.RequestLines().size(), 4);
}

TEST_F(DownloadTest, ReadOnlyDestinationFailsWithoutChange)
{
    WriteOld(kOld);
    fs::permissions(Destination(), fs::perms::owner_read);
    fs::permissions(tree_.root() / "app", fs::perms::owner_read | fs::perms::owner_exec);
    if (access(tree_.path("app").c_str(), W_OK) == 0)
        GTEST_SKIP() << "permissions do not bind this user";
    server_.Respond(Body(kNew));
    EXPECT_EQ(Download().status, DownloadStatus::WriteFailed);
    EXPECT_EQ(ContentOf(Destination()), Text(kOld));
    EXPECT_EQ(EntriesOf(tree_.root() / "app"), std::set<std::string>{"sa.kvd"});
}

TEST(UpdateUrlTest, IsPlainHttpToSaKvdWithOneFixedParameter)
{
    const QUrl url(QString::fromLatin1(UpdateUrl));
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), QStringLiteral("http"));
    EXPECT_EQ(url.port(), -1);
    EXPECT_FALSE(url.host().isEmpty());
    EXPECT_TRUE(url.path().endsWith(QStringLiteral("/sa.kvd")));
    const QStringList query = url.query().split(u'&');
    ASSERT_EQ(query.size(), 1);
    EXPECT_TRUE(query[0].startsWith(QStringLiteral("a=")));
    EXPECT_GT(query[0].size(), 2);
}

}  // namespace
}  // namespace qirn
