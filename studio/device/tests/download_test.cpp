// Downloads against a real web server on 127.0.0.1 (web_server.py), over HTTP and HTTPS, and the program's
// temporary files.
#include <device/download.hpp>
#include <device/temporary_files.hpp>

#include <platform/files.hpp>

#include "web_server.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using torvik::studio::Download;
using torvik::studio::DownloadOptions;
using torvik::studio::DownloadResult;
using torvik::studio::DownloadStatus;
using torvik::studio::TemporaryFiles;
using torvik::studio::testing::MakeTestCertificates;
using torvik::studio::testing::TestCertificates;
using torvik::studio::testing::WebServer;

std::string ReadBytes(const fs::path& path)
{
    std::string bytes;
    EXPECT_FALSE(torvik::platform::ReadWholeFile(path, bytes)) << path;
    return bytes;
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    ASSERT_FALSE(torvik::platform::WriteFileSafely(path, bytes)) << path;
}

/// Every byte value, CR LF pairs and NULs among them, so that any text-mode or string handling shows.
std::string BinaryContent()
{
    std::string bytes;
    for (int i = 0; i < 40000; ++i) {
        bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
        if (i % 1000 == 0) {
            bytes += "\r\n";
        }
    }
    return bytes;
}

fs::path MakeTempDir(const std::string& name)
{
    std::string pattern = (fs::temp_directory_path() / (name + ".XXXXXX")).string();
    return ::mkdtemp(pattern.data());
}

class DownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        root_ = MakeTempDir("download_test");
        fs::create_directory(root_ / "site");
        fs::create_directory(root_ / "tls");
        content_ = BinaryContent();
        WriteBytes(root_ / "site" / "firmware.bin", content_);
        certificates_ = MakeTestCertificates(root_ / "tls");
        http_ = std::make_unique<WebServer>(root_ / "site");
        https_ = std::make_unique<WebServer>(root_ / "site", certificates_);
    }
    static void TearDownTestSuite()
    {
        http_.reset();
        https_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void SetUp() override
    {
        ASSERT_EQ(http_->error(), "");
        std::error_code ec;
        destination_ = files_.Create("download_test-", ".bin", ec);
        ASSERT_FALSE(ec) << ec.message();
        WriteBytes(destination_, "old content that must go");
    }

    DownloadResult Get(const std::string& url, DownloadOptions options = {})
    {
        return Download(url, destination_, options);
    }

    static inline fs::path root_;
    static inline std::string content_;
    static inline TestCertificates certificates_;
    static inline std::unique_ptr<WebServer> http_;
    static inline std::unique_ptr<WebServer> https_;
    TemporaryFiles files_;
    fs::path destination_;
};

TEST_F(DownloadTest, WholeFileArrivesByteForByteAlsoThroughARedirect)
{
    for (const auto& url : {http_->Url("/firmware.bin"), http_->Url("/redirect?to=" + http_->Url("/firmware.bin"))}) {
        SCOPED_TRACE(url);
        const auto result = Get(url);
        EXPECT_EQ(result.status, DownloadStatus::Ok) << result.reason;
        EXPECT_EQ(result.bytes, content_.size());
        EXPECT_TRUE(ReadBytes(destination_) == content_);
    }
    EXPECT_EQ(http_->RequestCount("/firmware.bin"), 2U);
}

TEST_F(DownloadTest, AsksCachesOnTheWayForAFreshCopy)
{
    const auto result = Get(http_->Url("/headers"));
    ASSERT_EQ(result.status, DownloadStatus::Ok) << result.reason;
    const auto headers = ReadBytes(destination_);
    EXPECT_NE(headers.find("Cache-Control: no-cache\n"), std::string::npos) << headers;
    EXPECT_NE(headers.find("Pragma: no-cache\n"), std::string::npos) << headers;
}

TEST_F(DownloadTest, FailuresLeaveTheDestinationEmpty)
{
    struct Case {
        std::string path;
        std::size_t limit;
        std::string reason;  ///< a part of the reason
    };
    const Case cases[] = {
        {"/status/404", 1000000, "HTTP status 404"},
        {"/status/500", 1000000, "HTTP status 500"},
        {"/status/302", 1000000, "HTTP status 302"},  // a redirect without a target is not followed
        {"/truncated/firmware.bin", 1000000, ""},
        {"/big/1000", 1000, "1000 bytes or more"},     // refused on its announced length
        {"/stream/1000", 1000, "1000 bytes or more"},  // stopped while it arrives
        {"/stream/5000000", 1000, "1000 bytes or more"},
        {"/redirect?to=file:///etc/passwd", 1000000, ""},
        {"/redirect?to=ftp://127.0.0.1/firmware.bin", 1000000, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WriteBytes(destination_, "old content that must go");
        DownloadOptions options;
        options.limit = c.limit;
        const auto result = Get(http_->Url(c.path), options);
        EXPECT_EQ(result.status, DownloadStatus::Failed);
        EXPECT_NE(result.reason, "");
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(fs::file_size(destination_), 0U);
    }
}

TEST_F(DownloadTest, ABodyJustUnderTheLimitIsWhole)
{
    DownloadOptions options;
    options.limit = 1000;
    for (const std::string path : {"/big/999", "/stream/999"}) {
        SCOPED_TRACE(path);
        const auto result = Get(http_->Url(path), options);
        EXPECT_EQ(result.status, DownloadStatus::Ok) << result.reason;
        EXPECT_EQ(result.bytes, 999U);
        EXPECT_EQ(fs::file_size(destination_), 999U);
    }
}

TEST_F(DownloadTest, AnAddressThatLeadsNowhereIsNoConnection)
{
    std::string closedPort;
    {
        WebServer gone(root_ / "site");
        ASSERT_EQ(gone.error(), "");
        closedPort = gone.Url("/firmware.bin");
    }
    DownloadOptions options;
    options.connect_timeout_s = 5;
    for (const auto& url : {closedPort, std::string("http://no-such-host.invalid/firmware.bin"),
                            std::string("file://") + (root_ / "site" / "firmware.bin").string(),
                            std::string("ftp://127.0.0.1/firmware.bin"), std::string("http://[::1/")}) {
        SCOPED_TRACE(url);
        const auto result = Get(url, options);
        EXPECT_EQ(result.status, DownloadStatus::NoConnection) << result.reason;
        EXPECT_NE(result.reason, "");
        EXPECT_EQ(fs::file_size(destination_), 0U);
    }
}

TEST_F(DownloadTest, HttpsTrustsTheSystemsCasAndTheExtraOne)
{
    ASSERT_FALSE(certificates_.ca_pem.empty()) << "openssl could not make the test certificates";
    ASSERT_EQ(https_->error(), "");
    const auto url = https_->Url("/firmware.bin");

    DownloadOptions trusting;
    trusting.ca_file = certificates_.ca_pem.string();
    const auto trusted = Get(url, trusting);
    EXPECT_EQ(trusted.status, DownloadStatus::Ok) << trusted.reason;
    EXPECT_TRUE(ReadBytes(destination_) == content_);

    const auto untrusted = Get(url);
    EXPECT_EQ(untrusted.status, DownloadStatus::Failed);
    EXPECT_NE(untrusted.reason.find("certificate"), std::string::npos) << untrusted.reason;
    EXPECT_EQ(fs::file_size(destination_), 0U);

    DownloadOptions missing;
    missing.ca_file = (root_ / "no-such-ca.pem").string();
    const auto unreadable = Get(url, missing);
    EXPECT_EQ(unreadable.status, DownloadStatus::Failed);
    EXPECT_NE(unreadable.reason.find("no-such-ca.pem"), std::string::npos) << unreadable.reason;
}

TEST_F(DownloadTest, DownloadsRunOnSeveralThreadsAtOnce)
{
    std::error_code ec;
    const fs::path destinations[] = {files_.Create("download_test-", "", ec), files_.Create("download_test-", "", ec)};
    ASSERT_FALSE(ec) << ec.message();
    DownloadResult results[2];
    DownloadOptions options;
    options.ca_file = certificates_.ca_pem.string();
    std::thread first([&] { results[0] = Download(http_->Url("/firmware.bin"), destinations[0], options); });
    std::thread second([&] { results[1] = Download(https_->Url("/firmware.bin"), destinations[1], options); });
    first.join();
    second.join();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].status, DownloadStatus::Ok) << results[i].reason;
        EXPECT_TRUE(ReadBytes(destinations[i]) == content_);
    }
}

/// Points $TMPDIR elsewhere for one test.
class TmpDirOverride {
public:
    explicit TmpDirOverride(const fs::path& dir)
    {
        if (const char* old = std::getenv("TMPDIR")) {
            old_ = old;
        }
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TmpDirOverride()
    {
        if (old_) {
            ::setenv("TMPDIR", old_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

private:
    std::optional<std::string> old_;
};

TEST(TemporaryFiles, MadePrivateInTheTemporaryDirectoryAndRemovedAtTheEnd)
{
    const auto dir = MakeTempDir("temporary_files_test");
    const TmpDirOverride tmp(dir);
    std::vector<fs::path> made;
    {
        TemporaryFiles files;
        std::error_code ec;
        for (int i = 0; i < 2; ++i) {
            made.push_back(files.Create("FlashFile-", ".fkq", ec));
            ASSERT_FALSE(ec) << ec.message();
        }
        EXPECT_NE(made[0], made[1]);
        for (const auto& path : made) {
            SCOPED_TRACE(path);
            EXPECT_EQ(path.parent_path(), dir);
            EXPECT_EQ(path.filename().string().rfind("FlashFile-", 0), 0U);
            EXPECT_EQ(path.extension(), ".fkq");
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_mode & 0777, 0600U);
            EXPECT_EQ(st.st_size, 0);
        }
        made.push_back(dir / "registered.hex");
        WriteBytes(made.back(), ":00000001FF\n");
        files.Register(made.back());
        fs::remove(made[0]);  // one already gone is no trouble
    }
    for (const auto& path : made) {
        EXPECT_FALSE(fs::exists(path)) << path;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

TEST(TemporaryFiles, CreateReportsWhyItFailed)
{
    const auto dir = MakeTempDir("temporary_files_test");
    TemporaryFiles files;
    std::error_code ec;
    {
        const TmpDirOverride tmp(dir / "missing");
        EXPECT_EQ(files.Create("UpdateFile-", ".xml", ec), fs::path());
        EXPECT_TRUE(ec);
    }
    {
        const TmpDirOverride tmp(dir);
        EXPECT_EQ(files.Create("missing/UpdateFile-", ".xml", ec), fs::path());
        EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    }
    fs::remove_all(dir, ec);
}

}  // namespace
