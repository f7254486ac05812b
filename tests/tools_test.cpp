// Runs the built tarvexmux-server and tarvexmux-client against each other with real arguments.
#include "TempFifoDir.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Tools : public testing::Test {
protected:
    // Starts "server ARGS" or "client ARGS" with stdout and stderr in <program>.out and .err;
    // an alarm, which survives exec, ends it after 20 s, so every Reap is bounded.
    pid_t Start(const std::string& line) {
        const std::string program = line.substr(0, line.find(' ')), path = m_dir.PathOf(program);
        const std::string command = "unset DLOG_STDERR; exec " +
                                    std::string(program == "server" ? ZAM_SERVER : ZAM_CLIENT) +
                                    line.substr(program.size()) + " >" + path + ".out 2>" + path +
                                    ".err";
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(20);
            _exit(execl("/bin/sh", "sh", "-c", command.c_str(), nullptr));
        }
        return pid;
    }
    static int Reap(pid_t pid) {
        int status = -1;
        return pid > 0 && waitpid(pid, &status, 0) == pid ? status : -1;
    }
    std::string Text(const std::string& name) const {
        std::ifstream in(m_dir.PathOf(name));
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // True once a process reads the server's FIFO; tries every 10 ms.
    bool ServerReading(int tries = 500) const {
        int fd = -1;
        while ((fd = open(m_dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
               --tries > 0) {
            usleep(10000);
        }
        return fd >= 0 && close(fd) == 0;
    }
    TempFifoDir m_dir;
};

TEST_F(Tools, ClientPrintsEveryReplyOfTheServer) {
    const pid_t server = Start("server --add 2 --count 2");
    EXPECT_TRUE(ServerReading());
    EXPECT_EQ(Reap(Start("client --network=65535 --macs 18,0-3,17,127 --count 2")), 0)
        << Text("client.err");
    EXPECT_EQ(Text("client.out"), "reply: network 1 macs 0-3,17-18,127\n"
                                  "reply: network 1 macs 0-3,17-18,127\n");
    EXPECT_EQ(Reap(server), 0) << Text("server.err");
    EXPECT_EQ(Text("server.out"), "request: network 65535 macs 0-3,17-18,127\n"
                                  "request: network 65535 macs 0-3,17-18,127\n");
}

// Each exits non-zero, not by a signal, with one line on stderr; the last finds no server.
TEST_F(Tools, FailuresGiveOneLineAndNonZeroExit) {
    for (const char* line :
         {"client", "client --network 65536", "client --network 12x", "client --network",
          "client --bogus 1", "client 7", "client --network 1 --macs 128",
          "client --network 1 --macs 3-1", "client --network 1 --macs 1,,2",
          "client --network 1 --count 0", "server --add", "server --timeout 99999999999999999999",
          "client --network 7"}) {
        const int status = Reap(Start(line));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << line << ": " << status;
        const std::string err = Text(line[0] == 'c' ? "client.err" : "server.err");
        EXPECT_TRUE(!err.empty() && err.find('\n') == err.size() - 1) << line << ": " << err;
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
