// A real web server on 127.0.0.1 for download tests (web_server.py beside this file, run by python3 from
// PATH), and a test CA with a server certificate for its HTTPS mode.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>

extern char** environ;

namespace torvik::studio::testing {

/// The source tree: $TORVIK_SOURCE_DIR, which CTest sets, else the current directory.
inline std::filesystem::path SourceDir()
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    return std::filesystem::path(source != nullptr ? source : ".");
}

/// Starts `argv[0]`, found through PATH, without a shell; its standard input and output are the given
/// descriptors (-1: /dev/null), standard error is inherited unless `quiet`. Returns the child's id, or -1.
inline pid_t SpawnProgram(const std::vector<std::string>& argv, int in = -1, int out = -1, bool quiet = false)
{
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));  // posix_spawnp's signature predates const
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) {
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (out >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

/// The exit status of a child, or -1 when it did not exit by itself.
inline int WaitForChild(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// Runs a program from PATH with its output discarded; true when it exits with 0.
inline bool RunQuietly(const std::vector<std::string>& argv)
{
    const pid_t pid = SpawnProgram(argv, -1, -1, true);
    return pid > 0 && WaitForChild(pid) == 0;
}

/// The files of an HTTPS server that clients trusting `ca_pem` accept as 127.0.0.1 and localhost.
struct TestCertificates {
    std::filesystem::path ca_pem;
    std::filesystem::path cert_pem;
    std::filesystem::path key_pem;
};

/// Makes a test CA and a server certificate it signed (subjectAltName IP:127.0.0.1 and DNS:localhost)
/// in `dir`, with the openssl command line. Empty paths when that fails.
inline TestCertificates MakeTestCertificates(const std::filesystem::path& dir)
{
    const auto ca = dir / "ca.pem";
    const auto caKey = dir / "ca.key";
    const auto caConfig = dir / "ca.cnf";
    const auto cert = dir / "server.pem";
    const auto key = dir / "server.key";
    const auto request = dir / "server.csr";
    const auto serverConfig = dir / "server.cnf";
    std::ofstream(caConfig) << "[req]\ndistinguished_name = dn\nprompt = no\nx509_extensions = ca_ext\n"
                               "[dn]\nCN = Torvik test CA\n"
                               "[ca_ext]\nbasicConstraints = critical, CA:TRUE\n"
                               "keyUsage = critical, keyCertSign, cRLSign\nsubjectKeyIdentifier = hash\n";
    std::ofstream(serverConfig) << "[req]\ndistinguished_name = dn\nprompt = no\n"
                                   "[dn]\nCN = 127.0.0.1\n"
                                   "[server_ext]\nbasicConstraints = CA:FALSE\n"
                                   "keyUsage = critical, digitalSignature\nextendedKeyUsage = serverAuth\n"
                                   "subjectAltName = IP:127.0.0.1, DNS:localhost\n"
                                   "authorityKeyIdentifier = keyid\n";
    const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    std::vector<std::string> makeCa = {"openssl", "req", "-x509", "-config", caConfig, "-days", "30"};
    makeCa.insert(makeCa.end(), newKey.begin(), newKey.end());
    makeCa.insert(makeCa.end(), {"-keyout", caKey, "-out", ca});
    std::vector<std::string> makeRequest = {"openssl", "req", "-new", "-config", serverConfig};
    makeRequest.insert(makeRequest.end(), newKey.begin(), newKey.end());
    makeRequest.insert(makeRequest.end(), {"-keyout", key, "-out", request});
    const std::vector<std::string> sign = {"openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", caKey,
                                           "-set_serial", "2", "-days", "30", "-extfile", serverConfig,
                                           "-extensions", "server_ext", "-out", cert};
    if (!RunQuietly(makeCa) || !RunQuietly(makeRequest) || !RunQuietly(sign)) {
        return {};
    }
    return {ca, cert, key};
}

/// web_server.py serving `root` on a free port of 127.0.0.1; HTTPS when `tls` names a certificate. The
/// server ends with this object (and also when the test program dies, as its standard input closes).
class WebServer {
public:
    explicit WebServer(const std::filesystem::path& root, const TestCertificates& tls = {})
        : scheme_(tls.cert_pem.empty() ? "http" : "https")
    {
        // The tests talk to 127.0.0.1 directly, whatever proxy the environment names.
        ::setenv("no_proxy", "127.0.0.1,localhost", 1);
        std::string pattern = (std::filesystem::temp_directory_path() / "web_server.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            error_ = "no folder for the request log";
            return;
        }
        dir_ = pattern;
        log_ = dir_ / "requests.log";
        std::ofstream{log_};

        std::vector<std::string> argv = {"python3", (SourceDir() / "studio/device/tests/web_server.py").string(),
                                         root.string(), "--log", log_.string()};
        if (!tls.cert_pem.empty()) {
            argv.insert(argv.end(), {"--tls", tls.cert_pem.string(), tls.key_pem.string()});
        }
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            error_ = "no pipe";
            return;
        }
        pid_ = SpawnProgram(argv, in[0], out[1]);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
        if (pid_ < 0) {
            error_ = "python3 cannot be started";
            return;
        }
        ReadPort();
    }
    ~WebServer()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            WaitForChild(pid_);
        }
        for (const int fd : {input_, output_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    /// Empty when the server runs; else why it does not.
    const std::string& error() const { return error_; }
    int port() const { return port_; }

    /// The address of `path` (which starts with '/') on this server.
    std::string Url(const std::string& path) const
    {
        return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
    }

    /// How many requests asked for `path` (query included) so far.
    std::size_t RequestCount(const std::string& path) const
    {
        std::ifstream in(log_);
        std::size_t count = 0;
        for (std::string line; std::getline(in, line);) {
            count += line == path ? 1 : 0;
        }
        return count;
    }

private:
    void ReadPort()
    {
        // Bounded, so that a server that never starts fails the test instead of hanging it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string line;
        while (line.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{output_, POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&fd, 1, static_cast<int>(left.count())) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                error_ = "the web server did not tell its port";
                return;
            }
            char buffer[64];
            const ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n <= 0) {
                error_ = "the web server ended before it told its port";
                return;
            }
            line.append(buffer, static_cast<std::size_t>(n));
        }
        port_ = std::atoi(line.c_str());
        if (port_ <= 0) {
            error_ = "the web server told no port: " + line;
        }
    }

    std::string scheme_;
    std::string error_;
    std::filesystem::path dir_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int port_ = 0;
};

}  // namespace torvik::studio::testing
