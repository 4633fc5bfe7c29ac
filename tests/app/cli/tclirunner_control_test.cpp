// --control and --control-token: the address and port as given, the refusals before
// anything runs, and a token required away from the loopback address.

#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include <gtest/gtest.h>

#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using clitest::TCliRunFixture;

TEST(TCliOptionsControl, ControlTakesAPortOrAnAddressWithAPort)
{
    const struct {
        std::vector<const char*> args;
        const char* error;
        const char* address;
        int port;
    } cases[] = {
        {{"--control", "8080"}, "", "127.0.0.1", 8080},
        {{"--control", "0"}, "", "127.0.0.1", 0},
        {{"--control", "0.0.0.0:9000"}, "", "0.0.0.0", 9000},
        {{"--control=192.168.1.5:9000"}, "", "192.168.1.5", 9000},
        {{"--control", "[::1]:9000"}, "", "::1", 9000},
        {{"--control", "70000"}, "--control 70000: a port 0 to 65535, or ADDRESS:PORT such as 127.0.0.1:8080", "", 0},
        {{"--control", "host:http"}, "--control host:http: a port 0 to 65535, or ADDRESS:PORT such as 127.0.0.1:8080", "", 0},
        {{"--control", ":80"}, "--control :80: a port 0 to 65535, or ADDRESS:PORT such as 127.0.0.1:8080", "", 0},
        {{"--control"}, "--control needs a value: a port, or ADDRESS:PORT", "", 0},
        {{"--fast", "--duration", "1", "--control", "8080"},
         "--control goes with real time, not --fast: on virtual time there is no present for a request to act in", "", 0},
        {{"--control-token", "token.txt"}, "--control-token goes with --control", "", 0},
    };
    for (const auto& c : cases) {
        std::vector<TAString> args(c.args.begin(), c.args.end());
        const TCliParse parse = ParseCommandLine(args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(parse.Error, c.error);
        if (std::string(c.error).empty()) {
            EXPECT_EQ(parse.Options.ControlAddress, TAString(c.address));
            EXPECT_EQ(parse.Options.ControlPort, c.port);
        }
    }
}

class TCliRunnerControl : public TCliRunFixture {};

TEST_F(TCliRunnerControl, OtherAddressNeedsAReadableToken)
{
    const std::string log = Path("out.l5");
    EXPECT_EQ(Run({"--duration", "0.1", "--control", "0.0.0.0:0", "--log-out", log}), TCliRunner::ExitUsage);
    EXPECT_NE(err_.find("--control 0.0.0.0: an address other than the loopback address needs --control-token FILE"),
              std::string::npos)
        << err_;
    EXPECT_EQ(Run({"--duration", "0.1", "--control", "0.0.0.0:0", "--control-token", Path("missing.txt")}),
              TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("missing.txt"), std::string::npos) << err_;
    Write(Path("empty.txt"), "\n");
    EXPECT_EQ(Run({"--duration", "0.1", "--control", "0.0.0.0:0", "--control-token", Path("empty.txt")}),
              TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("holds no token"), std::string::npos) << err_;
    // The output log may not replace the token.
    Write(Path("token.txt"), "s3cret\n");
    EXPECT_EQ(Run({"--duration", "0.1", "--control", "0.0.0.0:0", "--control-token", Path("token.txt"), "--log-out",
                   Path("token.txt")}),
              TCliRunner::ExitFailed);
    EXPECT_EQ(Read(Path("token.txt")), "s3cret\n");
    EXPECT_EQ(Run({"--duration", "0.1", "--control", "0.0.0.0:0", "--control-token", Path("token.txt")}), 0) << err_;
    EXPECT_NE(out_.find("control API listening on 0.0.0.0:"), std::string::npos) << out_;
    EXPECT_EQ(Run({"--duration", "0.1", "--control", "0"}), 0) << err_;
    EXPECT_NE(out_.find("control API listening on 127.0.0.1:"), std::string::npos) << out_;
}

// A port another program holds: the run fails before the output log is made.
TEST_F(TCliRunnerControl, PortInUseFailsBeforeAnyOutputChanges)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t size = sizeof at;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
    const std::string port = std::to_string(ntohs(at.sin_port));
    const std::string log = Path("out.l5");
    EXPECT_EQ(Run({"--duration", "0.1", "--control", port, "--log-out", log}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("cannot listen on 127.0.0.1:" + port), std::string::npos) << err_;
    EXPECT_FALSE(std::filesystem::exists(log));
    ::close(fd);
}

}  // namespace
