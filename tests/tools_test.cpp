// Runs the built tarvexmux-server and tarvexmux-client against each other with real arguments.
#include "TempFifoDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Tools : public testing::Test {
protected:
    // Starts "server ARGS" or "client ARGS" with stdout and stderr in <program>.out and .err;
    // an alarm, which survives exec, ends it after 20 s, so every Reap is bounded.
    pid_t Start(const std::string& line) {
        std::istringstream words(line);
        std::vector<std::string> args(std::istream_iterator<std::string>(words), {});
        const std::string out = m_dir.PathOf(args[0] + ".out"),
                          err = m_dir.PathOf(args[0] + ".err");
        args[0] = args[0] == "server" ? ZAM_SERVER : ZAM_CLIENT;
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(20);
            unsetenv("DLOG_STDERR"); // only the program's own lines on stderr
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            _exit(execv(argv[0], argv.data()));
        }
        return pid;
    }
    static int Reap(pid_t pid) {
        int status = -1;
        return pid > 0 && waitpid(pid, &status, 0) == pid ? status : -1;
    }
    std::string Text(const std::string& name) const {
        std::ifstream in(m_dir.PathOf(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // True once a process reads the server's FIFO; tries every 10 ms.
    bool ServerReading(int tries = 500) const {
        for (int fd = -1; tries-- > 0; usleep(10000)) {
            if ((fd = open(m_dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK)) >=
                0) {
                return close(fd) == 0;
            }
        }
        return false;
    }
    TempFifoDir m_dir;
};

TEST_F(Tools, ClientPrintsEveryReplyOfTheServer) {
    const pid_t server = Start("server --add 1 --count 4");
    EXPECT_TRUE(ServerReading());
    EXPECT_EQ(Reap(Start("client --network 300 --macs 0-3,18,17,127")), 0) << Text("client.err");
    EXPECT_EQ(Text("client.out"), "reply: network 301 macs 0-3,17-18,127\n");
    EXPECT_EQ(Reap(Start("client --network=65535 --macs none --count 3")), 0) << Text("client.err");
    EXPECT_EQ(Text("client.out"), "reply: network 0 macs none\nreply: network 0 macs none\n"
                                  "reply: network 0 macs none\n");
    EXPECT_EQ(Reap(server), 0) << Text("server.err");
    EXPECT_EQ(Text("server.out"), "request: network 300 macs 0-3,17-18,127\nrequest: network 65535 "
                                  "macs none\nrequest: network 65535 macs none\nrequest: network "
                                  "65535 macs none\n");
}

// Each exits non-zero, not by a signal, within a second, with one line on stderr; the last
// finds no server.
TEST_F(Tools, FailuresGiveOneLineAndNonZeroExit) {
    for (const char* line :
         {"client", "client --network 65536", "client --network -1", "client --network 12x",
          "client --network", "client --bogus 1", "client 7", "client --network 1 --macs 128",
          "client --network 1 --macs 3-1", "client --network 1 --macs 1,,2",
          "client --network 1 --macs x", "client --network 1 --macs=",
          "client --network 1 --macs 5-", "client --network 1 --count 0", "server --add",
          "server --timeout 99999999999999999999", "client --network 7"}) {
        const auto start = std::chrono::steady_clock::now();
        const int status = Reap(Start(line));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << line << ": " << status;
        const std::string err = Text(line[0] == 'c' ? "client.err" : "server.err");
        EXPECT_TRUE(!err.empty() && err.find('\n') == err.size() - 1) << line << ": " << err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << line;
    }
}

TEST_F(Tools, ServerStopsOnSigtermAndClosesItsFifo) {
    const pid_t server = Start("server");
    ASSERT_GT(server, 0); // kill(-1) would signal every process
    EXPECT_TRUE(ServerReading());
    kill(server, SIGTERM);
    EXPECT_EQ(Reap(server), 0);
    EXPECT_FALSE(ServerReading(1));
}

} // namespace
