// The built tarvexmux-server and tarvexmux-client as an operator runs them: an exchange whose
// frames, printed in hex, --decode reads back, the exit status of each kind of failure, and
// --decode's verdicts on edge inputs against what a running server makes of the same bytes.
#include "TempFifoDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
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
    int Run(const std::string& program, const std::string& args, std::string dir = "") const {
        dir = dir.empty() ? m_dir.Path() : dir;
        const std::string command = "cd " + dir + " && ZAMIPC_FIFO_DIR=" + dir +
                                    " exec timeout 20 " + ToolsDir() + "/tarvexmux-" + program +
                                    " " + args + " >" + program + ".out 2>" + program + ".err";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Text(const std::string& name, const std::string& dir = "") const {
        std::ifstream in((dir.empty() ? m_dir.Path() : dir) + "/" + name);
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
    EXPECT_NE(Text("server.out").find("hex: 0000bead 0000008e 01 00000002 0000ffff 00000080"),
              std::string::npos); // a blank before each field after the start marker
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
        {"client", "--network 7x", S_IFREG, 2, "arguments"},
        {"client", "--network 7 --count 0", S_IFREG, 2, "arguments"},
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

// The bytes of hex text.
std::string Bytes(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// What a JSON output says was delivered: "network:macs" per report, "dropped" per malformed
// image (server: the request objects and bad-request errors; --decode: ok and image-text).
std::string Delivered(const std::string& lines) {
    std::string out;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
        const Json j = Json::parse(line);
        if (j.value("direction", "") == "request" || j.value("verdict", "") == "ok") {
            out += std::to_string(j["network"].get<int>()) + ":" + j["macs"].dump() + " ";
        }
        out += j.value("error", "") == "bad-request" || j.value("verdict", "") == "image-text"
                   ? "dropped "
                   : "";
    }
    return out;
}

// Each row goes to a fresh server's FIFO (which gives up 1 s after the last request) and to
// --decode: the frames --decode calls ok are the requests the server took, in order.
TEST_F(Tools, DecodeAgreesWithARunningServer) {
    const std::string v = "0000bead0000000e01000000020000012c00000000000000bade"; // network 300
    const std::string cut = v.substr(0, 44);                            // without its end marker
    std::string image = "0000bead0000008e0100000002000000010000008031"; // 128 characters
    for (int i = 1; i < 127; ++i) {
        image += "31";
    }
    const std::string rows[] = {v,
                                "ab" + v,
                                "abab" + v,
                                "abababab" + v,
                                cut + "0000bead" + v.substr(8),
                                "0000bead00000000" + v,
                                "0000bead000000b5" + v,
                                "0000beadffffffff" + v,
                                v.substr(0, 48),
                                v + v.substr(0, 50),
                                cut + "0000bad0" + v,
                                "0000bead0000000e0100000003" + v.substr(26),
                                image + "3100" + v.substr(44) + v,
                                image + "3200" + v.substr(44) + v};
    for (const std::string& row : rows) {
        const TempFifoDir dir;
        std::ofstream(dir.PathOf("row.bin"), std::ios::binary) << Bytes(row);
        std::future<int> server = std::async(std::launch::async, [this, &dir] {
            return Run("server", "--json --timeout 1", dir.Path());
        });
        for (int tries = 0; tries < 1000 && Text("server.err", dir.Path()).empty(); ++tries) {
            usleep(10000);
        }
        const int fifo = open(dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK);
        EXPECT_EQ(write(fifo, Bytes(row).data(), Bytes(row).size()), ssize_t(row.size() / 2));
        close(fifo);
        Run("client", "--decode --json row.bin", dir.Path());
        EXPECT_EQ(server.get(), 3) << row;
        EXPECT_EQ(Delivered(Text("client.out", dir.Path())),
                  Delivered(Text("server.out", dir.Path())))
            << row;
        // --scan looks at every byte, and finds the frame one or two junk bytes put out of step.
        const std::string junk = std::to_string(row.find("0000bead") / 2);
        EXPECT_TRUE(row.rfind("ab", 0) != 0 || row.find("0000bead") > 4 ||
                    (Run("client", "--scan row.bin", dir.Path()),
                     Text("client.out", dir.Path()).find("offset " + junk + ": ok: ") !=
                         std::string::npos))
            << row;
    }
}

// --help prints the usage and exits 0; SIGTERM stops a waiting server with exit status 0.
TEST_F(Tools, HelpIsPrintedAndSigtermStopsTheServer) {
    EXPECT_EQ(Run("client", "--help"), 0);
    EXPECT_NE(Text("client.out").find("--network"), std::string::npos);
    const std::string command = "ZAMIPC_FIFO_DIR=" + m_dir.Path() +
                                " timeout -k 5 --preserve-status 1 " + ToolsDir() +
                                "/tarvexmux-server 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
