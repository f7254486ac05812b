// Runs the built tarvexmux-server and tarvexmux-client: exchanges with --hex and --json, the
// verdicts of --decode on golden and broken frames, and the exit status of each failure.
#include "TempFifoDir.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

// A line of tests/data/frames.hex: name, network, image as 32 hex digits ("-": none) and the
// frame's bytes as hex without blanks.
struct Golden {
    std::string name;
    int network = 0;
    std::string image;
    std::string hex;
};

const std::vector<Golden>& GoldenFrames() {
    static const std::vector<Golden> frames = [] {
        std::vector<Golden> read;
        std::ifstream in(std::getenv("ZAM_TEST_FRAMES"));
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line.substr(0, line.find('#')));
            Golden golden;
            fields >> golden.name >> golden.network >> golden.image;
            for (std::string group; fields >> group;) {
                golden.hex += group;
            }
            if (!golden.hex.empty()) {
                read.push_back(golden);
            }
        }
        return read;
    }();
    return frames;
}

std::string GoldenHex(const std::string& name) {
    for (const Golden& golden : GoldenFrames()) {
        if (golden.name == name) {
            return golden.hex;
        }
    }
    ADD_FAILURE() << "no golden frame " << name;
    return "";
}

// The bytes that hex digits stand for.
std::string Raw(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// The MACs set in a golden image, ascending.
Json MacsOf(const std::string& image) {
    Json macs = Json::array();
    for (int mac = 0; image != "-" && mac < 128; ++mac) {
        if ((std::stoi(image.substr(31 - mac / 4, 1), nullptr, 16) >> mac % 4 & 1) != 0) {
            macs.push_back(mac);
        }
    }
    return macs;
}

class Tools : public testing::Test {
protected:
    // Starts "server ARGS" or "client ARGS" (redirections allowed) in the FIFO directory, with
    // stdout and stderr in <output>.out and .err (output: the program's name by default); an
    // alarm, which survives exec, ends it after 20 s, so every Reap is bounded.
    pid_t Start(const std::string& line, std::string output = "") {
        const std::string program = line.substr(0, line.find(' '));
        output = output.empty() ? program : output;
        const std::string command = "cd " + m_dir.Path() + " && unset DLOG_STDERR && exec " +
                                    (program == "server" ? ZAM_SERVER : ZAM_CLIENT) +
                                    line.substr(program.size()) + " >" + output + ".out 2>" +
                                    output + ".err";
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(20);
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
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(m_dir.PathOf(name), std::ios::binary) << bytes;
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
    // True once the server said it reads its FIFO in our directory; tries every 10 ms for 10 s.
    bool ServerReady(const std::string& output = "server") const {
        const std::string ready = "ready: reading TarMuxMsgServerIpc in " + m_dir.Path() + "\n";
        for (int tries = 0; tries < 1000 && Text(output + ".err") != ready; ++tries) {
            usleep(10000);
        }
        return Text(output + ".err") == ready;
    }
    TempFifoDir m_dir;
};

TEST_F(Tools, HexLinesShowTheGoldenFramesAndDecodeBackToTheReports) {
    const pid_t server = Start("server --add 1 --count 1 --hex");
    ASSERT_TRUE(ServerReady()) << Text("server.err");
    EXPECT_EQ(Run("client --network 65535 --macs 0-3,17,127 --hex"), 0) << Text("client.err");
    EXPECT_EQ(Reap(server), 0) << Text("server.err");
    std::string client = Text("client.out");
    const std::string sent = client.substr(0, client.find('\n'));
    std::string sentHex = sent.substr(sent.find(':') + 1);
    sentHex.erase(std::remove(sentHex.begin(), sentHex.end(), ' '), sentHex.end());
    EXPECT_EQ(sent.substr(0, 13), "request hex: ");
    EXPECT_EQ(sentHex, GoldenHex("net65535"));

    Write("client.txt", client);
    Write("server.txt", Text("server.out"));
    for (const char* output : {"client.txt", "server.txt"}) {
        EXPECT_EQ(Run("client --decode " + std::string(output)), 0) << output;
        EXPECT_EQ(Text("client.out"),
                  "offset 0: ok: start 0xbead, length 142, lead 1, type 2, network 65535, macs "
                  "0-3,17,127, end 0xbade (154 bytes)\n"
                  "offset 154: ok: start 0xbead, length 142, lead 1, type 2, network 0, macs "
                  "0-3,17,127, end 0xbade (154 bytes)\n")
            << output;
    }
}

TEST_F(Tools, DecodeGivesEveryGoldenFrameItsFields) {
    std::string input;
    for (const Golden& golden : GoldenFrames()) {
        input += golden.hex + "  # " + golden.name + "\n";
    }
    Write("golden.hex", input);
    EXPECT_EQ(Run("client --decode --json <golden.hex"), 0) << Text("client.err");
    const std::vector<Json> verdicts = JsonLines("client.out");
    ASSERT_EQ(verdicts.size(), GoldenFrames().size());
    std::size_t offset = 0;
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        const Golden& golden = GoldenFrames()[i];
        const std::size_t length = golden.hex.size() / 2;
        const Json expected = {{"offset", offset},
                               {"verdict", "ok"},
                               {"frame_length", length},
                               {"start_marker", 0xBEAD},
                               {"length", length - 12},
                               {"lead_byte", 1},
                               {"type", 2},
                               {"network", golden.network},
                               {"image", golden.image != "-"},
                               {"macs", MacsOf(golden.image)},
                               {"end_marker", 0xBADE}};
        EXPECT_EQ(verdicts[i], expected) << golden.name;
        offset += length;
    }
}

// Each broken frame is followed by a good one, so that every row also shows where decoding
// picks up again. `verdicts`: each verdict and the offset of the field it names.
TEST_F(Tools, DecodeNamesTheCheckABrokenFrameFailsAndGoesOn) {
    const std::string empty = GoldenHex("empty"); // 26 bytes: type at 9, text at 17, end at 22
    const std::string full = GoldenHex("full");   // 154 bytes: the text's characters at 21
    const auto with = [](std::string hex, std::size_t byte, const std::string& bytes) {
        return hex.replace(2 * byte, bytes.size(), bytes);
    };
    const std::string text127 = with(full, 4, "0000008d").substr(0, 2 * 17) + "0000007f" +
                                full.substr(2 * 21, 2 * 127) + full.substr(2 * 149);
    const struct {
        const char* name;
        std::string hex;
        const char* verdicts;
    } cases[] = {
        {"bytes before a start marker", "ffff" + empty, "start-marker@0 ok@2"},
        {"wrong start marker", with(empty, 0, "0000beef") + empty, "start-marker@0 ok@26"},
        {"length field 0", with(empty, 4, "00000000") + empty, "length@4 ok@26"},
        {"length field 181", with(empty, 4, "000000b5") + empty, "length@4 ok@26"},
        {"wrong end marker", with(empty, 22, "0000badf") + empty, "end-marker@22 ok@26"},
        {"wrong type", with(empty, 9, "00000003") + empty, "type@9 ok@26"},
        {"invalid string parameter", with(empty, 21, "41") + empty, "string-param@17 ok@26"},
        {"image text with a '2'", with(full, 40, "32") + empty, "image-text@17 ok@154"},
        {"image text of 127 characters", text127 + empty, "image-text@17 ok@153"},
        {"no room for type and network", std::string("0000bead00000001010000bade") + empty,
         "cut-short@9 ok@13"},
        {"frame cut short by the next one", full.substr(0, 200) + empty, "cut-short@126 ok@100"},
        {"input ends within a frame", empty + full.substr(0, 306), "ok@0 cut-short@179"},
        {"raw bytes", "raw", "ok@0 ok@26"},
    };
    for (const auto& c : cases) {
        Write("frames", c.hex == "raw" ? Raw(empty + full) : c.hex + "\n");
        const int status = Run("client --decode frames --json");
        std::string verdicts;
        bool allPassed = true;
        for (const Json& verdict : JsonLines("client.out")) {
            verdicts += (verdicts.empty() ? "" : " ") + verdict.value("verdict", "?") + "@" +
                        std::to_string(verdict.value("at", verdict.value("offset", 0)));
            allPassed = allPassed && verdict.value("verdict", "") == "ok";
        }
        EXPECT_EQ(verdicts, c.verdicts) << c.name;
        EXPECT_EQ(status, allPassed ? 0 : 1) << c.name;
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

// Each row runs one program with --json in prepared surroundings: it must exit with its
// status, say why in one line on stderr (after any ready line), and end its output with an
// error object of its kind.
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
        {"client 7", Nothing, 2, "arguments"},
        {"client --decode a b", Nothing, 2, "arguments"},
        {"server --hex=1", Nothing, 2, "arguments"},
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
    const std::string clientFifo = m_dir.PathOf("TarMuxMsgClientIpc");
    for (const auto& c : cases) {
        int reader = -1;
        const pid_t other = c.setup == OtherServer ? Start("server", "other") : -1;
        EXPECT_TRUE(other < 0 || ServerReady("other")) << Text("other.err");
        if (c.setup == FileAtServerFifo || c.setup == FileAtClientFifo) {
            std::ofstream(c.setup == FileAtServerFifo ? serverFifo : clientFifo) << "";
        } else if (c.setup == SilentServer) {
            mkfifo(serverFifo.c_str(), 0600);
            reader = open(serverFifo.c_str(), O_RDONLY | O_NONBLOCK);
        }
        EXPECT_EQ(Run(std::string(c.line) + " --json"), c.status) << c.line;
        const std::string program = c.line[0] == 'c' ? "client" : "server";
        std::string err = Text(program + ".err");
        if (err.rfind("ready: ", 0) == 0) {
            err.erase(0, err.find('\n') + 1);
        }
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.line << ": " << err;
        const std::vector<Json> lines = JsonLines(program + ".out");
        const Json last = lines.empty() ? Json::object() : lines.back();
        EXPECT_EQ(last.value("error", ""), c.kind) << c.line;
        EXPECT_EQ(last.value("exit_code", -1), c.status) << c.line;
        close(reader);
        if (other > 0) {
            kill(other, SIGTERM);
            EXPECT_EQ(Reap(other), 0);
        }
        unlink(serverFifo.c_str());
        unlink(clientFifo.c_str());
    }
    EXPECT_EQ(Run("client --version"), 0);
    EXPECT_EQ(Text("client.out"), "tarvexmux-client (libZamTarvexMuxMsg) " ZAM_VERSION "\n");
}

TEST_F(Tools, ServerStopsOnSigtermAndClosesItsFifo) {
    const pid_t server = Start("server");
    ASSERT_GT(server, 0); // kill(-1) would signal every process
    EXPECT_TRUE(ServerReady()) << Text("server.err");
    kill(server, SIGTERM);
    EXPECT_EQ(Reap(server), 0);
    const int fd = open(m_dir.PathOf("TarMuxMsgServerIpc").c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_LT(fd, 0);
    close(fd);
}

} // namespace
