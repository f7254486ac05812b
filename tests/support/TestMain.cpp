// The tests' main: GoogleTest as usual, or, with ZAM_PTEST=1 in the environment (as run-ptest
// sets it), one line per case in the ptest format instead of GoogleTest's own report:
// "PASS: <program>.<Suite>.<Case>", "FAIL: ..." after the failure's messages, and
// "SKIP: ... # <why>".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class PtestPrinter : public testing::EmptyTestEventListener {
public:
    explicit PtestPrinter(std::string program) : m_program(std::move(program)) {}

private:
    void OnTestStart(const testing::TestInfo&) override { m_skipReason.clear(); }

    void OnTestPartResult(const testing::TestPartResult& result) override {
        const std::string message = result.message();
        if (result.skipped()) {
            m_skipReason = message.substr(0, message.find('\n'));
        } else if (result.failed()) {
            std::printf("  %s:%d: %s\n", result.file_name() != nullptr ? result.file_name() : "?",
                        result.line_number(), message.c_str());
        }
    }

    void OnTestEnd(const testing::TestInfo& info) override {
        const testing::TestResult& result = *info.result();
        const char* verdict = result.Failed() ? "FAIL" : result.Skipped() ? "SKIP" : "PASS";
        const std::string why =
            result.Skipped() && !m_skipReason.empty() ? " # " + m_skipReason : "";
        std::printf("%s: %s.%s.%s%s\n", verdict, m_program.c_str(), info.test_suite_name(),
                    info.name(), why.c_str());
        std::fflush(stdout); // before a test forks: a child must not print these lines again
    }

    std::string m_program;
    std::string m_skipReason;
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* ptest = std::getenv("ZAM_PTEST");
    if (ptest != nullptr && std::strcmp(ptest, "1") == 0) {
        testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
        delete listeners.Release(listeners.default_result_printer());
        const char* slash = std::strrchr(argv[0], '/');
        listeners.Append(new PtestPrinter(slash != nullptr ? slash + 1 : argv[0]));
    }
    return RUN_ALL_TESTS();
}
