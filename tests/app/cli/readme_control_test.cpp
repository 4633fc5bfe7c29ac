// The README's Python example of the control API, run as it stands against the built
// quorvella-cli in a child process: the example cannot drift from what the API does.

#include "clirunfixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using clitest::TCliRunFixture;

class TReadmeControl : public TCliRunFixture {
protected:
    // The code between the README's example markers, or empty.
    static std::string Example()
    {
        const std::string readme = Read(std::string(QV_DATA_DIR) + "/../README.md");
        const std::string begin = "<!-- control-api-example -->\n```python\n";
        const std::string end = "```\n<!-- end control-api-example -->";
        const std::size_t from = readme.find(begin);
        if (from == std::string::npos) return {};
        const std::size_t to = readme.find(end, from);
        if (to == std::string::npos) return {};
        return readme.substr(from + begin.size(), to - from - begin.size());
    }

    pid_t Spawn(const std::string& program, std::vector<std::string> args, const std::string& out,
                const std::vector<std::string>& env = {})
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envCopy = env;
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        for (std::string& e : envCopy) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    static int Wait(pid_t pid) { return clitest::WaitForChild(pid, std::chrono::seconds(120)); }
};

TEST_F(TReadmeControl, PythonExampleRunsAgainstARealRun)
{
    if (std::system("python3 -c 'import urllib.request' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is missing";
    const std::string example = Example();
    ASSERT_FALSE(example.empty()) << "the README has no control API example between its markers";
    const std::string script = Path("test_readme.py");
    Write(script, example);

    // A real-time run with the control API on a port the system chooses.
    const std::string cliOut = Path("cli.txt");
    const pid_t cli = Spawn(QV_CLI_PATH, {"--control", "0", "--starter", "--duration", "120"}, cliOut);
    std::smatch match;
    std::string printed;
    const std::regex listening("control API listening on 127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 1500 && !std::regex_search(printed, match, listening); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        printed = Read(cliOut);
    }
    ASSERT_TRUE(std::regex_search(printed, match, listening)) << printed;
    const std::string url = "QUORVELLA_URL=http://127.0.0.1:" + match[1].str();

    // Every test_ function of the example, in the order of the file, as pytest would.
    const std::string pyOut = Path("python.txt");
    const pid_t python = Spawn("python3",
                               {"-c",
                                "import runpy, sys\n"
                                "tests = runpy.run_path(sys.argv[1])\n"
                                "names = [n for n in tests if n.startswith('test_') and callable(tests[n])]\n"
                                "assert names, 'no test_ function'\n"
                                "for n in names:\n"
                                "    tests[n]()\n"
                                "    print('passed', n)\n",
                                script},
                               pyOut, {url});
    const int status = Wait(python);
    ::kill(cli, SIGTERM);
    EXPECT_EQ(Wait(cli), 128 + SIGTERM) << Read(cliOut);
    EXPECT_EQ(status, 0) << Read(pyOut);
    EXPECT_NE(Read(pyOut).find("passed test_a_scenario_runs_from_now"), std::string::npos) << Read(pyOut);
}

}  // namespace
