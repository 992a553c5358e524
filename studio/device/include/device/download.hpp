#pragma once

// Downloads over HTTP and HTTPS: the update index and the flash containers of a firmware update.

#include <cstddef>
#include <filesystem>
#include <string>

namespace torvik::studio {

/// How a download is made.
struct DownloadOptions {
    std::string ca_file;         ///< an extra CA bundle (PEM) to trust besides the system's; empty: none
    std::size_t limit = 1000000; ///< a body of this many bytes or more fails
    long connect_timeout_s = 20;
    long timeout_s = 120;        ///< the whole transfer
};

enum class DownloadStatus {
    Ok,
    NoConnection,  ///< the server was not reached: its name not resolved, no connection, a malformed or
                   ///< unsupported address
    Failed,        ///< anything else: an HTTP error status, a body cut short or over the limit, TLS, I/O
};

struct DownloadResult {
    DownloadStatus status = DownloadStatus::Failed;
    std::string reason;  ///< why it failed, in words (curl's error text, "HTTP status 404", ...)
    std::size_t bytes = 0;
};

/// Downloads `url` whole into `destination` (which exists: a temporary file of the caller), replacing its
/// content. Only the whole body counts: a connection that ends early, a body shorter than its announced
/// length, a body of `options.limit` bytes or more (the transfer stops as soon as it gets there), and an
/// HTTP status outside 2xx (a redirect that is not followed included) fail, and a failed download leaves
/// `destination` empty. `bytes` is the size written on success.
///
/// Only http and https addresses are taken, and redirects (at most 5) are followed only to them. HTTPS
/// verifies the server's certificate and name against the system's CAs and, when `options.ca_file` is
/// set, the CAs of that file too. Every request asks caches to revalidate (`Cache-Control: no-cache`);
/// nothing is cached locally. Proxies come from the usual environment variables.
///
/// Blocks for at most about `options.timeout_s` seconds. Safe to call from any thread, also from several
/// at once; uses no signals. Never throws.
DownloadResult Download(const std::string& url, const std::filesystem::path& destination,
                        const DownloadOptions& options) noexcept;

}  // namespace torvik::studio
