// The built tarvexmux-server and tarvexmux-client as an operator runs them: --hex exchanges,
// the verdicts of --decode on golden and broken frames, --json lines read with a JSON
// parser, and the exit status of each kind of failure.
#include "GoldenFrames.h"
#include "TempFifoDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

std::string Hex(const std::vector<unsigned char>& bytes) {
    std::string hex;
    for (const unsigned char byte : bytes) {
        const char digits[] = "0123456789abcdef";
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

class Tools : public testing::Test {
protected:
    // Starts "server ARGS" or "client ARGS" (redirections allowed) in the FIFO directory, its
    // stdout and stderr in OUTPUT.out and OUTPUT.err (OUTPUT: the program by default); an
    // alarm, which survives exec, ends it after 20 s, so every Reap is bounded.
    pid_t Start(const std::string& line, std::string output = "") {
        const std::string program = line.substr(0, line.find(' '));
        output = output.empty() ? program : output;
        const std::string command = "cd " + m_dir.Path() + " && exec " +
                                    (program == "server" ? ZAM_SERVER : ZAM_CLIENT) +
                                    line.substr(program.size()) + " >" + output + ".out 2>" +
                                    output + ".err";
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(20);
            unsetenv("DLOG_STDERR");
            _exit(execl("/bin/sh", "sh", "-c", command.c_str(), nullptr));
        }
        return pid;
    }
    // The exit status, or -1 for a process that did not exit on its own.
    static int Reap(pid_t pid) {
        int status = -1;
        const bool exited = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
        return exited ? WEXITSTATUS(status) : -1;
    }
    int Run(const std::string& line) { return Reap(Start(line)); }
    std::string Text(const std::string& name) const {
        std::ifstream in(m_dir.PathOf(name));
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(m_dir.PathOf(name), std::ios::binary) << text;
    }
    // Each line of the file parsed as JSON; a line that is not JSON fails the test.
    std::vector<Json> JsonLines(const std::string& name) const {
        std::vector<Json> objects;
        std::istringstream in(Text(name));
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(Json::accept(line)) << name << ": " << line;
            objects.push_back(Json::parse(line, nullptr, false));
        }
        return objects;
    }
    // True once the server said it reads its FIFO in our directory; waits up to 10 s.
    bool ServerReady(const std::string& output = "server") const {
        const std::string ready = "ready: reading TarMuxMsgServerIpc in " + m_dir.Path() + "\n";
        for (int tries = 0; tries < 1000 && Text(output + ".err") != ready; ++tries) {
            usleep(10000);
        }
        return Text(output + ".err") == ready;
    }
    std::string GoldenHex(const std::string& name) const {
        for (const GoldenFrame& golden : m_golden) {
            if (golden.name == name) {
                return Hex(golden.bytes);
            }
        }
        return "";
    }
    TempFifoDir m_dir;
    const std::vector<GoldenFrame> m_golden = LoadGoldenFrames();
};

} // namespace

// Both programs print each frame they send and receive; the request is the golden frame,
// and what they print decodes back to the two reports.
TEST_F(Tools, HexLinesShowTheFramesAndDecodeBackToTheReports) {
    const pid_t server = Start("server --add 1 --count 1 --hex");
    ASSERT_TRUE(ServerReady()) << Text("server.err");
    EXPECT_EQ(Run("client --network 65535 --macs 0-3,127,17-17 --hex"), 0) << Text("client.err");
    EXPECT_EQ(Reap(server), 0) << Text("server.err");
    std::string request = Text("client.out").substr(0, Text("client.out").find('\n'));
    request.erase(std::remove(request.begin(), request.end(), ' '), request.end());
    EXPECT_EQ(request, "requesthex:" + GoldenHex("net65535"));
    for (const char* output : {"client.out", "server.out"}) {
        Write("frames", Text(output));
        EXPECT_EQ(Run("client --decode frames"), 0) << output;
        EXPECT_EQ(Text("client.out"),
                  "offset 0: ok: start 0xbead, length 142, lead 1, type 2, network 65535, macs "
                  "0-3,17,127, end 0xbade (154 bytes)\n"
                  "offset 154: ok: start 0xbead, length 142, lead 1, type 2, network 0, macs "
                  "0-3,17,127, end 0xbade (154 bytes)\n")
            << output;
    }
}

// Each golden frame alone, then a broken one followed by a good one (which shows where
// decoding picks up again): the verdicts with the offset of the field each names, raw bytes
// or hex text alike.
TEST_F(Tools, DecodeNamesTheCheckEachFrameFailsAndWhere) {
    const std::string empty = GoldenHex("empty"); // 26 bytes: type at 9, text at 17, end at 22
    const std::string full = GoldenHex("full");   // 154 bytes: text length at 17, text at 21
    const auto with = [](std::string hex, std::size_t at, const std::string& bytes) {
        return hex.replace(2 * at, bytes.size(), bytes);
    };
    const std::string text127 = with(full, 4, "0000008d").substr(0, 2 * 17) + "0000007f" +
                                full.substr(2 * 21, 2 * 127) + full.substr(2 * 149);
    std::vector<std::pair<std::string, std::string>> cases; // input, verdicts
    for (const GoldenFrame& golden : m_golden) {
        cases.emplace_back(Hex(golden.bytes), "ok@0");
    }
    const std::pair<std::string, std::string> broken[] = {
        {"ffff" + empty, "start-marker@0 ok@2"},
        {with(empty, 4, "00000000") + empty, "length@4 ok@26"},
        {with(empty, 4, "000000b5") + empty, "length@4 ok@26"},
        {with(empty, 22, "0000badf") + empty, "end-marker@22 ok@26"},
        {with(empty, 9, "00000003") + empty, "type@9 ok@26"},
        {with(empty, 21, "41") + empty, "string-param@17 ok@26"},
        {with(full, 40, "32") + empty, "image-text@17 ok@154"},
        {text127 + empty, "image-text@17 ok@153"},
        {"0000bead00000001010000bade" + empty, "cut-short@9 ok@13"},
        {empty + full.substr(0, 306), "ok@0 cut-short@179"},
    };
    cases.insert(cases.end(), std::begin(broken), std::end(broken));
    cases.emplace_back("raw " + empty + full, "ok@0 ok@26");
    for (const auto& [input, expected] : cases) {
        const bool raw = input.rfind("raw ", 0) == 0;
        std::string bytes;
        for (size_t i = 4; raw && i + 1 < input.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(input.substr(i, 2), nullptr, 16));
        }
        Write("frames", raw ? bytes : input + "\n");
        const int status = Run("client --decode --json <frames");
        std::string verdicts;
        bool allPassed = true;
        for (const Json& verdict : JsonLines("client.out")) {
            verdicts += (verdicts.empty() ? "" : " ") + verdict.value("verdict", "?") + "@" +
                        std::to_string(verdict.value("at", verdict.value("offset", 0)));
            allPassed = allPassed && verdict.value("verdict", "") == "ok";
        }
        EXPECT_EQ(verdicts, expected) << input;
        EXPECT_EQ(status, allPassed ? 0 : 1) << input;
    }
}

TEST_F(Tools, JsonLinesDescribeEachRequestAndReply) {
    const pid_t server = Start("server --add 1 --count 2 --json");
    ASSERT_TRUE(ServerReady()) << Text("server.err");
    EXPECT_EQ(Run("client --network 300 --macs 0-3,17,127 --count 2 --json"), 0)
        << Text("client.err");
    EXPECT_EQ(Reap(server), 0) << Text("server.err");
    for (const std::string output : {"client.out", "server.out"}) {
        const std::vector<Json> lines = JsonLines(output);
        ASSERT_EQ(lines.size(), 4u) << output;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const bool reply = i % 2 == 1;
            Json expected = {{"direction", reply ? "reply" : "request"},
                             {"network", reply ? 301 : 300},
                             {"image", true},
                             {"macs", {0, 1, 2, 3, 17, 127}},
                             {"frame_length", 154}};
            if (reply && output == "client.out") {
                EXPECT_GE(lines[i].value("rtt_us", -1), 0);
                expected["rtt_us"] = lines[i].value("rtt_us", -1);
            }
            EXPECT_EQ(lines[i], expected) << output << " line " << i;
        }
    }
}

// Each row runs one program with --json in prepared surroundings: it exits with its status,
// says why in one line on stderr (after any ready line) and ends its output with an error
// object of its kind.
TEST_F(Tools, EachFailureKindHasItsExitStatus) {
    enum Setup { Nothing, FileAtServerFifo, FileAtClientFifo, SilentServer, OtherServer };
    const struct {
        const char* line;
        Setup setup;
        int status;
        const char* kind;
    } cases[] = {
        {"client --macs 1", Nothing, 2, "arguments"},
        {"client --network 65536", Nothing, 2, "arguments"},
        {"client --network 1 --macs 3-1", Nothing, 2, "arguments"},
        {"client --decode a b", Nothing, 2, "arguments"},
        {"server --timeout 99999999999999999999", Nothing, 2, "arguments"},
        {"client --decode missing.hex", Nothing, 2, "input"},
        {"client --network 7", Nothing, 1, "ipc"},
        {"client --network 7", FileAtClientFifo, 1, "ipc"},
        {"server", FileAtServerFifo, 1, "ipc"},
        {"server", OtherServer, 1, "ipc"},
        {"client --network 7 --timeout 1", SilentServer, 3, "timeout"},
        {"server --timeout 1", Nothing, 3, "timeout"},
    };
    const std::string serverFifo = m_dir.PathOf("TarMuxMsgServerIpc");
    for (const auto& c : cases) {
        int reader = -1;
        const pid_t other = c.setup == OtherServer ? Start("server", "other") : -1;
        EXPECT_TRUE(other < 0 || ServerReady("other")) << Text("other.err");
        if (c.setup == FileAtServerFifo || c.setup == FileAtClientFifo) {
            Write(c.setup == FileAtServerFifo ? "TarMuxMsgServerIpc" : "TarMuxMsgClientIpc", "");
        } else if (c.setup == SilentServer) {
            mkfifo(serverFifo.c_str(), 0600);
            reader = open(serverFifo.c_str(), O_RDONLY | O_NONBLOCK);
        }
        EXPECT_EQ(Run(std::string(c.line) + " --json"), c.status) << c.line;
        const std::string program = c.line[0] == 'c' ? "client" : "server";
        std::string err = Text(program + ".err");
        err.erase(0, err.rfind("ready: ", 0) == 0 ? err.find('\n') + 1 : 0);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.line << ": " << err;
        const std::vector<Json> lines = JsonLines(program + ".out");
        const Json last = lines.empty() ? Json::object() : lines.back();
        EXPECT_EQ(last.value("error", ""), c.kind) << c.line;
        EXPECT_EQ(last.value("exit_code", -1), c.status) << c.line;
        close(reader);
        if (other > 0) {
            kill(other, SIGTERM);
            EXPECT_EQ(Reap(other), 0); // a signal stops it cleanly
        }
        unlink(serverFifo.c_str());
        unlink(m_dir.PathOf("TarMuxMsgClientIpc").c_str());
    }
    EXPECT_EQ(Run("client --version"), 0);
    EXPECT_EQ(Text("client.out"), "tarvexmux-client (libZamTarvexMuxMsg) " ZAM_VERSION "\n");
}
