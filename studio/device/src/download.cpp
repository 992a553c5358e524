#include <device/download.hpp>

#include <platform/files.hpp>

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>

namespace torvik::studio {

namespace {

constexpr long kMaxRedirects = 5;
constexpr const char* kProtocols = "http,https";

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

CURLcode GlobalInit()
{
    // curl_global_init is not safe against other threads; every download goes through here first.
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result;
}

std::string SystemText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

/// What the body callback saw, for the reason of a transfer it stopped.
struct Transfer {
    CURL* curl = nullptr;
    std::FILE* file = nullptr;
    std::size_t limit = 0;
    std::size_t bytes = 0;
    long refusedStatus = 0;  ///< the HTTP status of a response whose body was refused
    bool overLimit = false;
    int writeError = 0;
};

long ResponseCode(CURL* curl)
{
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

bool IsSuccess(long code)
{
    return code >= 200 && code < 300;
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) noexcept
{
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    // The body of an error page (or of a redirect that is not followed) is no part of any file.
    if (const long code = ResponseCode(transfer.curl); !IsSuccess(code)) {
        transfer.refusedStatus = code;
        return 0;
    }
    if (n >= transfer.limit - transfer.bytes) {
        transfer.overLimit = true;
        return 0;
    }
    if (std::fwrite(data, 1, n, transfer.file) != n) {
        transfer.writeError = errno != 0 ? errno : EIO;
        return 0;
    }
    transfer.bytes += n;
    return n;
}

/// The system's CA bundle followed by the CAs of `extraFile`, as one PEM text: an explicit CA file would
/// replace the system's bundle, not add to it.
std::error_code CombinedCaBundle(CURL* curl, const std::string& extraFile, std::string& bundle)
{
    char* systemFile = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &systemFile) == CURLE_OK && systemFile != nullptr) {
        // Without a readable system bundle only the extra CAs (and the system's CA directory) are trusted.
        if (platform::ReadWholeFile(systemFile, bundle)) {
            bundle.clear();
        }
    }
    std::string extra;
    if (auto ec = platform::ReadWholeFile(extraFile, extra)) {
        return ec;
    }
    bundle += '\n';
    bundle += extra;
    return {};
}

DownloadStatus StatusOf(CURLcode code, CURL* curl)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return DownloadStatus::NoConnection;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: {
        // The address asked for is no address to download from; a redirect that leads to such an
        // address, though, came from a server that was reached.
        long redirects = 0;
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
        return redirects == 0 && ResponseCode(curl) == 0 ? DownloadStatus::NoConnection : DownloadStatus::Failed;
    }
    default:
        return DownloadStatus::Failed;
    }
}

DownloadResult Fetch(const std::string& url, const std::filesystem::path& destination, const DownloadOptions& options)
{
    DownloadResult result;
    if (const CURLcode init = GlobalInit(); init != CURLE_OK) {
        result.reason = curl_easy_strerror(init);
        return result;
    }
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) {
        result.reason = "the download cannot be prepared";
        return result;
    }
    CURL* const handle = curl.get();

    std::string caBundle;
    if (!options.ca_file.empty()) {
        if (auto ec = CombinedCaBundle(handle, options.ca_file, caBundle)) {
            result.reason = "cannot read the CA file " + options.ca_file + ": " + ec.message();
            return result;
        }
        curl_blob blob{caBundle.data(), caBundle.size(), CURL_BLOB_COPY};
        curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
    }

    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
        // Appending returns the head of the list, or null (and leaves the list as it was) without memory.
        curl_slist* head = curl_slist_append(headers.get(), header);
        if (head == nullptr) {
            result.reason = "the download cannot be prepared";
            return result;
        }
        if (head != headers.get()) {
            headers.reset(head);
        }
    }

    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(destination.c_str(), "wb"));
    if (!file) {
        result.reason = "cannot write " + destination.string() + ": " + SystemText(errno);
        return result;
    }

    Transfer transfer;
    transfer.curl = handle;
    transfer.file = file.get();
    transfer.limit = options.limit;

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, options.connect_timeout_s);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, options.timeout_s);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    if (options.limit > 0) {
        // Refuses an announced length over the limit before any of the body is read.
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.limit - 1));
    }

    const CURLcode code = curl_easy_perform(handle);
    const long status = ResponseCode(handle);
    const std::string limitText = "the response has " + std::to_string(options.limit) + " bytes or more";

    if (transfer.refusedStatus != 0) {
        result.reason = "HTTP status " + std::to_string(transfer.refusedStatus);
    } else if (transfer.overLimit || code == CURLE_FILESIZE_EXCEEDED) {
        result.reason = limitText;
    } else if (transfer.writeError != 0) {
        result.reason = "cannot write " + destination.string() + ": " + SystemText(transfer.writeError);
    } else if (code != CURLE_OK) {
        result.status = StatusOf(code, handle);
        result.reason = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    } else if (!IsSuccess(status)) {
        result.reason = "HTTP status " + std::to_string(status);
    } else if (transfer.bytes >= options.limit) {
        result.reason = limitText;
    } else {
        curl_off_t announced = -1;
        curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced >= 0 && static_cast<std::size_t>(announced) != transfer.bytes) {
            result.reason = "the body has " + std::to_string(transfer.bytes) + " of the announced " +
                            std::to_string(announced) + " bytes";
        } else if (std::fclose(file.release()) != 0) {
            result.reason = "cannot write " + destination.string() + ": " + SystemText(errno);
        } else {
            result.status = DownloadStatus::Ok;
            result.bytes = transfer.bytes;
            return result;
        }
    }

    file.reset();
    std::error_code ignored;
    std::filesystem::resize_file(destination, 0, ignored);
    return result;
}

}  // namespace

DownloadResult Download(const std::string& url, const std::filesystem::path& destination,
                        const DownloadOptions& options) noexcept
{
    try {
        return Fetch(url, destination, options);
    } catch (const std::exception& e) {
        DownloadResult result;
        result.reason = e.what();
        std::error_code ignored;
        std::filesystem::resize_file(destination, 0, ignored);
        return result;
    }
}

}  // namespace torvik::studio
