// Parts of a test run in other processes, on both targets, through the
// platform layer's process start (no fork: Windows has none). The test
// binary starts itself again with only the running test selected and
// XB_TEST_CHILD=<role> in its environment; the test body, which the child
// runs from its start as well, first asks for its role and, in a child, does
// only that role's part and ends the process with its result:
//
//   TEST_F(Suite, Name) {
//       if (const char* role = test::childRole()) test::childExit(work(role));
//       test::Child c;
//       ASSERT_TRUE(c.start("writer 1"));
//       std::string word;
//       ASSERT_TRUE(c.hear(&word));     // the child's test::childSay("ready")
//       c.release();                    // the child's test::childAwaitRelease() returns
//       EXPECT_EQ(c.finish(), 0);       // its exit code
//   }
//
// The child ends before its fixture's TearDown, so it never removes the
// parent's files. What the child writes (GoogleTest's lines among it) goes
// into one pipe; lines starting with '@' are its messages, the rest is kept
// in Child::output for failure reports. Its standard input is a pipe whose
// write end the parent holds: closing it (release, finish) is the signal the
// child waits for.
#pragma once
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace xb::test {

inline const char* childRole() {
    const char* role = std::getenv("XB_TEST_CHILD");
    return role && *role ? role : nullptr;
}

[[noreturn]] inline void childExit(int code) { os::exitProcess(uint32_t(code)); }
[[noreturn]] inline void childExit(bool ok) { os::exitProcess(ok ? 0 : 1); }

// A message to the parent: "@word\n" on standard output, unbuffered.
inline void childSay(const std::string& word) {
    std::string line = "@" + word + "\n";
    uint32_t done = 0;
    os::writeFile(os::stdOutput(), line.data(), uint32_t(line.size()), &done);
}

// Waits until the parent releases this child (or is gone).
inline void childAwaitRelease() {
    char c;
    uint32_t done = 0;
    while (os::readFile(os::stdInput(), &c, 1, &done) && done == 1) {
    }
}

// The path of the running test binary.
inline std::string testProgram() {
    char path[4096];
    int n = os::moduleFileName(path, int(sizeof path));
    return std::string(path, n > 0 && n < int(sizeof path) ? size_t(n) : 0);
}

class Child {
public:
    std::string output;  // everything read from the child so far

    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (p.process != os::INVALID && !ended) {
            os::processTerminate(&p, 1);
            os::processWait(&p, os::WAIT_FOREVER, nullptr);
        }
        closeInput();
        if (out != os::INVALID) os::closeHandle(out);
        os::processClose(&p);
    }

    // Starts this test binary for the running test only, as role.
    bool start(const std::string& role) {
        const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string program = testProgram();
        std::string filter = std::string("--gtest_filter=") + t->test_suite_name() + "." + t->name();
        std::string roleEntry = "XB_TEST_CHILD=" + role;
        const char* argv[] = {program.c_str(), filter.c_str(), "--gtest_brief=1", nullptr};
        const char* env[] = {roleEntry.c_str(), nullptr};
        os::Handle inRead, outWrite;
        if (!os::pipeCreate(&inRead, &in)) return false;
        if (!os::pipeCreate(&out, &outWrite)) {
            os::closeHandle(inRead);
            return false;
        }
        os::ProcessStart s{argv, env, nullptr, inRead, outWrite, outWrite};
        bool ok = os::processStart(&s, &p);
        os::closeHandle(inRead);
        os::closeHandle(outWrite);
        return ok;
    }

    // The next message of the child (the text after '@'); false once the
    // child's output ended without one.
    bool hear(std::string* word) {
        for (;;) {
            size_t at = 0;
            while ((at = pending.find('\n', at)) != std::string::npos) {
                std::string line = pending.substr(0, at);
                pending.erase(0, at + 1);
                at = 0;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty() && line[0] == '@') {
                    *word = line.substr(1);
                    return true;
                }
            }
            if (!readMore()) return false;
        }
    }

    // Lets a child waiting in childAwaitRelease go on.
    void release() { closeInput(); }

    // Releases the child, reads the rest of its output and waits for its
    // end: its exit code (-1 when it cannot be had).
    int finish() {
        closeInput();
        while (readMore()) {
        }
        uint32_t code = 0;
        if (!ended && !os::processWait(&p, os::WAIT_FOREVER, &code)) return -1;
        ended = true;
        exitCode = int(code);
        return exitCode;
    }

    // Ends the child at once and waits for it to be gone.
    void kill() {
        os::processTerminate(&p, 137);
        uint32_t code = 0;
        if (os::processWait(&p, os::WAIT_FOREVER, &code)) {
            ended = true;
            exitCode = int(code);
        }
    }

private:
    os::Process p{os::INVALID, 0};
    os::Handle in = os::INVALID, out = os::INVALID;
    std::string pending;
    bool ended = false;
    int exitCode = -1;

    void closeInput() {
        if (in != os::INVALID) os::closeHandle(in);
        in = os::INVALID;
    }
    bool readMore() {
        if (out == os::INVALID) return false;
        char buf[4096];
        uint32_t done = 0;
        if (!os::readFile(out, buf, sizeof buf, &done) || done == 0) {
            os::closeHandle(out);
            out = os::INVALID;
            return false;
        }
        output.append(buf, done);
        pending.append(buf, done);
        return true;
    }
};

}  // namespace xb::test
