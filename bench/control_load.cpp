// The wire timing of a real-time run with and without control API traffic: quorvella-cli
// runs the simulation twice for the same time, once alone and once with a client making
// 100 requests a second (status, every signal, a model value, the frames since the last
// answer, in turn), and the timing self-check of both runs is printed side by side:
// per parameter group the median and largest period and the largest lateness.
//
// Usage: control_load [--seconds 15]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct TGroup {
    double Median = 0, Max = 0, Lateness = 0;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

pid_t Spawn(std::vector<std::string> args, const std::string& out)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    std::string program = QV_CLI_PATH;
    argv.push_back(program.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// One request on a fresh connection; the answer's status (0: none).
int Request(uint16_t port, const std::string& method, const std::string& path, const std::string& body)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    int status = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        const std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string text;
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
            text.append(buf, static_cast<std::size_t>(n));
            const std::size_t head = text.find("\r\n\r\n");
            const std::size_t cl = text.find("ontent-Length: ");
            if (head != std::string::npos && cl != std::string::npos && cl < head &&
                text.size() >= head + 4 + std::stoul(text.substr(cl + 15)))
                break;
            if (head != std::string::npos && text.find("ontent-length: ") < head &&
                text.size() >= head + 4 + std::stoul(text.substr(text.find("ontent-length: ") + 15)))
                break;
        }
        if (text.size() > 12) status = std::atoi(text.c_str() + 9);
    }
    ::close(fd);
    return status;
}

std::map<std::string, TGroup> Groups(const std::string& json)
{
    std::map<std::string, TGroup> groups;
    const std::regex row(R"re("pgn": "([0-9A-F]{4})".*?"median_ms": ([-0-9.]+).*?"max_ms": ([-0-9.]+).*?"lateness_max_ms": ([-0-9.]+))re");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), row); it != std::sregex_iterator(); ++it)
        groups[(*it)[1]] = {std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])};
    return groups;
}

}  // namespace

int main(int argc, char** argv)
{
    int seconds = 15;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qv_control_load_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string duration = std::to_string(seconds);
    const std::string channel = "Simulation RAM 1 1";

    // Alone.
    const std::string quietReport = (dir / "quiet.json").string();
    pid_t pid = Spawn({"--duration", duration, "--starter", "--channel", channel, "--report", quietReport},
                      (dir / "quiet.txt").string());
    int status = 0;
    ::waitpid(pid, &status, 0);

    // With 100 requests a second.
    const std::string busyReport = (dir / "busy.json").string();
    const std::string busyOut = (dir / "busy.txt").string();
    pid = Spawn({"--duration", duration, "--starter", "--channel", channel, "--report", busyReport, "--control", "0"},
                busyOut);
    std::smatch match;
    std::string printed;
    const std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 500 && !std::regex_search(printed, match, listening); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        printed = Slurp(busyOut);
    }
    const auto port = static_cast<uint16_t>(std::stoi(match[1]));
    std::atomic<bool> done{false};
    long requests = 0, answered = 0;
    std::thread client([&] {
        const char* const paths[][3] = {{"GET", "/status", ""},
                                        {"GET", "/signals", ""},
                                        {"PUT", "/model/Gaspedal", "{\"value\": 50}"},
                                        {"GET", "/frames?since=0", ""}};
        auto next = std::chrono::steady_clock::now();
        while (!done.load()) {
            const auto* p = paths[requests % 4];
            ++requests;
            if (Request(port, p[0], p[1], p[2]) == 200) ++answered;
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    });
    ::waitpid(pid, &status, 0);
    done = true;
    client.join();

    const auto quiet = Groups(Slurp(quietReport));
    const auto busy = Groups(Slurp(busyReport));
    std::printf("control_load: %d s real-time runs of the simulation into \"%s\"\n", seconds, channel.c_str());
    std::printf("with the control API: %ld requests (%.1f per second), %ld answered 200\n", requests,
                static_cast<double>(requests) / seconds, answered);
    std::printf("%-6s %28s   %28s\n", "", "alone", "100 requests/s");
    std::printf("%-6s %9s %9s %9s   %9s %9s %9s\n", "PGN", "median", "max", "late max", "median", "max", "late max");
    for (const auto& [pgn, q] : quiet) {
        const auto b = busy.find(pgn);
        if (b == busy.end()) continue;
        std::printf("%-6s %9.3f %9.3f %9.3f   %9.3f %9.3f %9.3f\n", pgn.c_str(), q.Median, q.Max, q.Lateness,
                    b->second.Median, b->second.Max, b->second.Lateness);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
