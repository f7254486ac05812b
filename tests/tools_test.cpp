// The built tarvexmux-server and tarvexmux-client as an operator runs them: an exchange whose
// frames, printed in hex, --decode reads back, and the exit status of each kind of failure.
// What --decode says of each frame is the fuzz_decode target's to check.
#include "TempFifoDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

// The programs: where the installed bundle's run-ptest says, else where the build put them.
std::string ToolsDir() {
    const char* dir = std::getenv("ZAM_TOOLS_DIR");
    return dir != nullptr && *dir != '\0' ? dir : ZAM_TOOLS_DIR;
}

struct Tools : testing::Test {
    void SetUp() override {
        if (access((ToolsDir() + "/tarvexmux-server").c_str(), X_OK) != 0) {
            GTEST_SKIP() << "the programs are not installed in " << ToolsDir();
        }
    }
    // Runs tarvexmux-PROGRAM ("server" or "client") with ARGS in the FIFO directory for at most
    // 20 s, its output in PROGRAM.out and PROGRAM.err; its exit status, -1 if a signal ended it.
    int Run(const std::string& program, const std::string& args) const {
        const std::string command = "cd " + m_dir.Path() + " && exec timeout 20 " + ToolsDir() +
                                    "/tarvexmux-" + program + " " + args + " >" + program +
                                    ".out 2>" + program + ".err";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Text(const std::string& name) const {
        std::ifstream in(m_dir.PathOf(name));
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // The last line of the file, without its line break.
    std::string LastLine(const std::string& name) const {
        std::string text = Text(name);
        text.erase(text.find_last_not_of('\n') + 1);
        return text.substr(text.rfind('\n') + 1);
    }
    TempFifoDir m_dir;
};

} // namespace

// The server answers with the network + 1 (wrapping) and prints both frames in hex, which
// --decode reads back (lines with other labels skipped) to the report the client printed.
TEST_F(Tools, TheFramesOfAnExchangeDecodeBackToItsReports) {
    std::future<int> server =
        std::async(std::launch::async, [this] { return Run("server", "--add 1 --count 1 --hex"); });
    for (int tries = 0; tries < 1000 && Text("server.err").empty(); ++tries) {
        usleep(10000);
    }
    ASSERT_EQ(Text("server.err"), "ready: reading TarMuxMsgServerIpc in " + m_dir.Path() + "\n");
    EXPECT_EQ(Run("client", "--network 65535 --macs 0-3,127,17-17"), 0) << Text("client.err");
    EXPECT_EQ(server.get(), 0) << Text("server.err");
    EXPECT_EQ(Text("client.out"), "reply: network 0 macs 0-3,17,127\n");
    EXPECT_EQ(Run("client", "--decode --json server.out"), 0);
    EXPECT_EQ(Json::parse(LastLine("client.out")), Json::parse(R"({"offset":154,"verdict":"ok",
        "frame_length":154,"start_marker":48813,"length":142,"lead_byte":1,"type":2,"network":0,
        "image":true,"macs":[0,1,2,3,17,127],"end_marker":47838})"));
}

// Each row runs one program with --json: it exits with its status and ends its output with an
// error object of its kind, whose message is its last line on stderr.
TEST_F(Tools, EachFailureKindHasItsExitStatus) {
    const struct {
        std::string program;
        const char* args;
        mode_t atServerFifo; // a regular file, or a FIFO that this test reads and never answers
        int status;
        const char* kind;
    } cases[] = {
        {"client", "--network 1 --macs 3-1", S_IFREG, 2, "arguments"},
        {"client", "--decode missing.hex", S_IFREG, 2, "input"},
        {"client", "--network 7", S_IFREG, 1, "ipc"},
        {"server", "", S_IFREG, 1, "ipc"},
        {"client", "--network 7 --timeout 1", S_IFIFO, 3, "timeout"},
        {"server", "--timeout 1", S_IFIFO, 3, "timeout"},
    };
    const std::string serverFifo = m_dir.PathOf("TarMuxMsgServerIpc");
    for (const auto& c : cases) {
        unlink(serverFifo.c_str());
        mknod(serverFifo.c_str(), c.atServerFifo | 0600, 0);
        const int reader = open(serverFifo.c_str(), O_RDONLY | O_NONBLOCK);
        EXPECT_EQ(Run(c.program, std::string(c.args) + " --json"), c.status) << c.args;
        const Json error = Json::parse(LastLine(c.program + ".out"));
        EXPECT_EQ(error.value("error", ""), c.kind) << c.program << " " << c.args;
        EXPECT_EQ(LastLine(c.program + ".err"),
                  "tarvexmux-" + c.program + ": " + error.value("message", ""));
        close(reader);
    }
}
