// GET against a real local server: bodies, failures by status, size bound, time-outs and
// query encoding.
#include "platform/http/http.h"

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A cpp-httplib server on 127.0.0.1 and a free port, running for the test's scope.
class LocalServer {
public:
    LocalServer() {
        server_.Get("/ok", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string("line one\nzero:\0:end", 19), "application/octet-stream");
        });
        server_.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        server_.Get("/broken",
                    [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
        server_.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/ok");
        });
        server_.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(2 * 1024 * 1024, 'b'), "text/plain");
        });
        server_.Get("/big-chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                const std::string chunk(64 * 1024, 'c');
                for (int i = 0; i < 32; ++i)
                    if (!sink.write(chunk.data(), chunk.size())) return false;
                sink.done();
                return true;
            });
        });
        server_.Get("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_param_value("v"), "text/plain");
        });
        server_.Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock lock(mutex_);
            released_.wait_for(lock, 20s, [this] { return release_; });
            res.set_content("late", "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(1ms);
    }
    ~LocalServer() {
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
};

http::Options Timeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total) {
    http::Options options;
    options.connectTimeout = connect;
    options.totalTimeout = total;
    return options;
}

http::Options BodyBound(std::size_t bytes) {
    http::Options options;
    options.maxBodyBytes = bytes;
    return options;
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(Get, ReturnsTheWholeBodyAndFailsOnErrorStatuses) {
    LocalServer server;
    const http::Response ok = http::Get(server.Url("/ok"));
    EXPECT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(Text(ok.body), std::string("line one\nzero:\0:end", 19));
    EXPECT_EQ(ok.error, "");

    const http::Response moved = http::Get(server.Url("/moved"));
    EXPECT_TRUE(moved.ok) << moved.error;
    EXPECT_EQ(moved.body.size(), 19u);

    const http::Response missing = http::Get(server.Url("/missing"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.status, 404);
    EXPECT_FALSE(missing.timedOut);
    EXPECT_NE(missing.error.find("404"), std::string::npos) << missing.error;
    EXPECT_NE(missing.error.find("/missing"), std::string::npos) << missing.error;

    const http::Response broken = http::Get(server.Url("/broken"));
    EXPECT_FALSE(broken.ok);
    EXPECT_EQ(broken.status, 500);
}

TEST(Get, FailsWithoutAServerOrAUsableUrl) {
    // Take a free port and close it again: nobody listens there.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(probe);
    const int port = ntohs(address.sin_port);
    const http::Response refused =
        http::Get("http://127.0.0.1:" + std::to_string(port) + "/x", Timeouts(2s, 10s));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.status, 0);
    EXPECT_FALSE(refused.error.empty());

    EXPECT_FALSE(http::Get("").ok);
    const http::Response file = http::Get("file:///etc/passwd");
    EXPECT_FALSE(file.ok);
    EXPECT_TRUE(file.body.empty());
}

TEST(Get, RefusesBodiesOverTheBound) {
    LocalServer server;
    for (const char* path : {"/big", "/big-chunked"}) {
        const http::Response big = http::Get(server.Url(path), BodyBound(1024 * 1024));
        EXPECT_FALSE(big.ok) << path;
        EXPECT_TRUE(big.body.empty()) << path;
        EXPECT_NE(big.error.find("larger than 1048576 bytes"), std::string::npos) << big.error;
        const http::Response fits = http::Get(server.Url(path), BodyBound(4 * 1024 * 1024));
        EXPECT_TRUE(fits.ok) << fits.error;
        EXPECT_EQ(fits.body.size(), 2u * 1024 * 1024) << path;
    }
}

TEST(Get, AServerThatNeverAnswersTimesOut) {
    LocalServer server;
    const auto start = std::chrono::steady_clock::now();
    const http::Response slow = http::Get(server.Url("/slow"), Timeouts(300ms, 400ms));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(slow.ok);
    EXPECT_TRUE(slow.timedOut);
    EXPECT_NE(slow.error.find("time-out"), std::string::npos) << slow.error;
    EXPECT_GE(elapsed, 350ms);
    EXPECT_LT(elapsed, 3s);
}

TEST(EncodeQueryValue, KeepsUnreservedBytesAndRoundTripsThroughAServer) {
    EXPECT_EQ(http::EncodeQueryValue("Az09-._~"), "Az09-._~");
    EXPECT_EQ(http::EncodeQueryValue("a b&c=d+e/f?g#h%"), "a%20b%26c%3Dd%2Be%2Ff%3Fg%23h%25");
    EXPECT_EQ(http::EncodeQueryValue("\xC3\xA9\x01"), "%C3%A9%01");
    EXPECT_EQ(http::EncodeQueryValue(""), "");

    LocalServer server;
    const std::string awkward = "Zoé & co = 100% \"sure\"?#/+";
    const http::Response echo = http::Get(server.Url("/echo?v=" + http::EncodeQueryValue(awkward)));
    ASSERT_TRUE(echo.ok) << echo.error;
    EXPECT_EQ(Text(echo.body), awkward);
}
