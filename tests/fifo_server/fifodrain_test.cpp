// SPDX-License-Identifier: MIT
// fifodrain as a process: each case runs the program in a scratch folder of
// its own, standard output and error going to files there, and plays the
// writers itself. Every wait is bounded, so a program that hangs fails the
// case instead of the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto patience = 10s; // longer than any case needs, short of hanging CI
constexpr auto settle = 150ms; // time given to a wrong program to end too early

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void spill(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary) << data;
}

// Polls `done` until it holds or the time is up.
bool eventually(const std::function<bool()> &done, Clock::duration limit = patience) {
    for (auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(2ms))
        if (done())
            return true;
    return done();
}

struct Scratch {
    std::string dir;
    Scratch() {
        char name[] = "/tmp/fifodrain_test.XXXXXX";
        if (mkdtemp(name) == nullptr)
            ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        dir = name;
    }
    ~Scratch() {
        chmod(dir.c_str(), 0700); // a case may have taken the write permission away
        nftw(
            dir.c_str(), [](const char *p, const struct stat *, int, FTW *) { return remove(p); },
            16, FTW_DEPTH | FTW_PHYS);
    }
    std::string operator/(const char *name) const { return dir + "/" + name; }
    std::string fifo() const { return *this / "fifofile"; }
};

struct Options {
    std::vector<std::string> prefix; // runs the program under, e.g., strace
    mode_t umask = 022;
    std::string out; // standard output; a file in the folder by default
    std::function<void(const Scratch &)> in_child; // last preparation, in the child
    // Run under the prefix first: where it fails, the case cannot be arranged
    // here and is skipped.
    std::vector<std::string> probe{"/bin/true"};
};

// One run of fifodrain in the scratch folder.
class Drain {
  public:
    Drain(const Scratch &s, const Options &o = {}) : s_(s) {
        std::vector<std::string> args = o.prefix;
        // In a cross build, the emulator runs it (EMULATOR: its words, blank-separated).
        std::istringstream emulator(EMULATOR);
        for (std::string word; emulator >> word;)
            args.push_back(word);
        args.push_back(FIFODRAIN);
        std::string out = o.out.empty() ? s / "out" : o.out;
        std::string err = s / "err";
        pid_ = fork();
        if (pid_ != 0)
            return;
        int in = open("/dev/null", O_RDONLY);
        int o1 = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int o2 = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o1 < 0 || o2 < 0 || dup2(in, 0) < 0 || dup2(o1, 1) < 0 || dup2(o2, 2) < 0)
            _exit(250);
        umask(o.umask);
        if (o.in_child)
            o.in_child(s);
        if (chdir(s.dir.c_str()) != 0)
            _exit(251);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data()); // the emulator is found on PATH
        _exit(252);
    }
    ~Drain() {
        if (!status_ && pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() {
        if (!status_) {
            int st;
            if (waitpid(pid_, &st, WNOHANG) == pid_)
                status_ = st;
        }
        return !status_;
    }
    // The wait status once the program has ended; nothing (and the program
    // killed) when it has not ended in time.
    std::optional<int> wait(Clock::duration limit = patience) {
        if (!eventually([this] { return !running(); }, limit)) {
            ADD_FAILURE() << "fifodrain still running after the time limit";
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        return status_;
    }
    void stop() { kill(pid_, SIGTERM); }
    std::string out() const { return slurp(s_ / "out"); }
    std::string err() const { return slurp(s_ / "err"); }

  private:
    const Scratch &s_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

testing::AssertionResult exited(std::optional<int> status, int code) {
    if (!status)
        return testing::AssertionFailure() << "did not end";
    if (!WIFEXITED(*status))
        return testing::AssertionFailure() << "ended by signal " << WTERMSIG(*status);
    if (WEXITSTATUS(*status) != code)
        return testing::AssertionFailure() << "status " << WEXITSTATUS(*status);
    return testing::AssertionSuccess();
}

// A client: opens the FIFO for writing as soon as a reader has it open, and
// writes without ever blocking past the time limit.
class Writer {
  public:
    explicit Writer(const std::string &fifo) {
        signal(SIGPIPE, SIG_IGN); // a reader that died shows as EPIPE
        eventually([&] {
            fd_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            return fd_ >= 0;
        });
        if (fd_ < 0)
            ADD_FAILURE() << "no reader opened " << fifo << ": " << std::strerror(errno);
    }
    ~Writer() { close(); }
    bool put(const char *p, size_t n, Clock::duration limit = patience) {
        auto end = Clock::now() + limit;
        while (n > 0 && fd_ >= 0) {
            pollfd pfd{fd_, POLLOUT, 0};
            poll(&pfd, 1, 10);
            ssize_t done = write(fd_, p, n);
            if (done < 0 && errno != EAGAIN && errno != EINTR) {
                ADD_FAILURE() << "write into the FIFO: " << std::strerror(errno);
                return false;
            }
            if (done > 0) {
                p += done;
                n -= static_cast<size_t>(done);
            } else if (Clock::now() > end) {
                ADD_FAILURE() << "the FIFO is not being drained";
                return false;
            }
        }
        return n == 0;
    }
    bool put(const std::string &s) { return put(s.data(), s.size()); }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// The permissions of the FIFO at path; nothing when there is no FIFO there.
std::optional<mode_t> fifo_mode(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode))
        return std::nullopt;
    return st.st_mode & 07777;
}

std::string bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char &c : s)
        c = static_cast<char>(gen());
    return s;
}

TEST(FifodrainCreated, WaitsForAWriterAndEndsWhenItCloses) {
    const struct {
        mode_t umask;
        mode_t mode;
        std::string data;
    } cases[] = {
        {022, 0755, "hello from a writer\n"},
        {077, 0700, ""},
        {0, 0777,
         std::string("\0\n\xff"
                     "abcdefghij",
                     13)},
        {027, 0750, "12345"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "umask 0" << std::oct << c.umask);
        Scratch s;
        Options options;
        options.umask = c.umask;
        Drain drain(s, options);
        ASSERT_TRUE(eventually([&] { return fifo_mode(s.fifo()).has_value(); }))
            << "no FIFO created";
        EXPECT_EQ(fifo_mode(s.fifo()), c.mode);
        std::this_thread::sleep_for(settle);
        EXPECT_TRUE(drain.running()) << "did not wait for a writer";

        Writer w(s.fifo());
        w.put(c.data);
        EXPECT_TRUE(eventually([&] { return drain.out() == c.data; }));
        std::this_thread::sleep_for(settle);
        EXPECT_TRUE(drain.running()) << "ended while the writer had the FIFO open";
        w.close();
        EXPECT_TRUE(exited(drain.wait(), 0));
        EXPECT_EQ(drain.out(), c.data);
        EXPECT_EQ(drain.err(), "");
        EXPECT_TRUE(fifo_mode(s.fifo())) << "the FIFO must stay after the end";
    }
}

TEST(FifodrainExisting, KeepsReadingAfterEveryWriterClosed) {
    Scratch s;
    ASSERT_EQ(mkfifo(s.fifo().c_str(), 0640), 0);
    Drain drain(s);
    std::string want;
    for (const char *data : {"first writer\n", "second writer\n", "third\n"}) {
        SCOPED_TRACE(data);
        Writer w(s.fifo());
        w.put(data);
        w.close();
        want += data;
        EXPECT_TRUE(eventually([&] { return drain.out() == want; }));
        std::this_thread::sleep_for(settle);
        ASSERT_TRUE(drain.running()) << "ended when its writer closed";
    }
    drain.stop();
    std::optional<int> status = drain.wait();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);
    EXPECT_EQ(fifo_mode(s.fifo()), 0640u) << "the FIFO was replaced";
    EXPECT_EQ(drain.err(), "");
}

TEST(FifodrainRegularFile, CopiesTheFileAndEnds) {
    const size_t sizes[] = {0, 1, 5, 7, 10007};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        Scratch s;
        const std::string data = bytes(size, static_cast<unsigned>(size));
        spill(s.fifo(), data);
        Drain drain(s);
        EXPECT_TRUE(exited(drain.wait(), 0));
        EXPECT_EQ(drain.out(), data);
        EXPECT_EQ(drain.err(), "");
        EXPECT_EQ(slurp(s.fifo()), data) << "the file was changed";
    }
}

// A folder nothing can be created in: no write permission (the output files
// made beforehand) and, for a process that passes that check all the same
// (root), the capability that lets it dropped for the program.
void unwritable_folder(const Scratch &s, Options &o) {
    spill(s / "out", "");
    spill(s / "err", "");
    chmod(s.dir.c_str(), 0555);
    if (faccessat(AT_FDCWD, s.dir.c_str(), W_OK, AT_EACCESS) == 0)
        o.prefix = {"/usr/bin/setpriv", "--bounding-set", "-dac_override", "--inh-caps",
                    "-dac_override"};
    o.probe = {"/bin/sh", "-c",
               "test ! -w \"$0\" || ! echo the capability that overrides permissions stays", s.dir};
}

// Runs the command; empty when it succeeds, else the command and what it
// printed.
std::string fails(const std::vector<std::string> &command) {
    std::string line;
    for (const std::string &arg : command)
        line += "'" + arg + "' ";
    FILE *p = popen((line + "2>&1").c_str(), "r");
    if (p == nullptr)
        return "popen: " + std::string(std::strerror(errno));
    std::string printed;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p))
        printed += buf;
    while (!printed.empty() && printed.back() == '\n')
        printed.pop_back();
    return pclose(p) == 0 ? "" : line + "fails here: " + printed;
}

TEST(FifodrainFailures, Table) {
    const std::string text = "abcdefghijklmnopqrstuvwxyz";
    // strace matches -P against the path a call names ("fifofile") and, for
    // descriptors, against the absolute path; an absolute path given for an
    // existing file also keeps it quiet about resolving it.
    auto strace = [](std::string path, std::string inject) {
        std::vector<std::string> v{"/usr/bin/strace", "-qqq", "-o",
                                   "/dev/null",       "-e",   "inject=" + inject};
        if (!path.empty())
            v.insert(v.end(), {"-P", path});
        return v;
    };
    const struct {
        const char *what;
        bool text; // fifofile holds the text beforehand
        std::string out;
        int status;
        int error; // whose text standard error must show; 0 for nothing at all
        std::function<void(const Scratch &, Options &)> arrange;
    } cases[] = {
        {"directory in the way", false, "failed to create the fifo file \n", 1, EEXIST,
         [](auto &s, auto &) { mkdir(s.fifo().c_str(), 0755); }},
        {"folder where nothing can be created", false, "failed to create the fifo file \n", 1,
         EACCES, unwritable_folder},
        {"created FIFO cannot be opened", false, "failed to open the fifo file \n", 1, EMFILE,
         [&](auto &, auto &o) { o.prefix = strace("fifofile", "openat:error=EMFILE:when=2"); }},
        {"read fails: nothing written after it", true, text.substr(0, 10), 1, EIO,
         [&](auto &s, auto &o) { o.prefix = strace(s.fifo(), "read:error=EIO:when=3"); }},
        {"write fails", true, "", 1, ENOSPC, [](auto &, auto &o) { o.out = "/dev/full"; }},
        {"standard output closed", false, "", 1, EBADF,
         [](auto &s, auto &o) {
             mkfifo(s.fifo().c_str(), 0644);
             o.in_child = [](const Scratch &) { close(STDOUT_FILENO); };
         }},
        {"interrupted reads are retried", true, text, 0, 0,
         [&](auto &s, auto &o) { o.prefix = strace(s.fifo(), "read:error=EINTR:when=2..4"); }},
        {"interrupted writes are retried", true, text, 0, 0,
         [&](auto &, auto &o) { o.prefix = strace("", "write:error=EINTR:when=1..3"); }},
    };
    std::string skipped;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        Options options;
        if (c.text)
            spill(s.fifo(), text);
        c.arrange(s, options);
        std::vector<std::string> probe = options.prefix;
        probe.insert(probe.end(), options.probe.begin(), options.probe.end());
        if (std::string why = fails(probe); !why.empty()) {
            skipped += "\n" + std::string(c.what) + ": " + why;
            continue;
        }
        Drain drain(s, options);
        EXPECT_TRUE(exited(drain.wait(), c.status)) << drain.err();
        if (options.out.empty()) {
            EXPECT_EQ(drain.out(), c.out);
        }
        if (c.error == 0) {
            EXPECT_EQ(drain.err(), "");
        } else {
            EXPECT_NE(drain.err().find(std::strerror(c.error)), std::string::npos) << drain.err();
        }
    }
    if (!skipped.empty())
        GTEST_SKIP() << "SKIP: cannot run here:" << skipped;
}

TEST(FifodrainCreated, LargeStreamInOddPiecesArrivesByteForByte) {
    // 64 MiB and a few bytes, written in pieces that never line up with the
    // program's 5-byte reads nor with the pipe's buffer. Under an emulator,
    // which takes some 20 times as long over each of those calls, 4 MiB.
    const size_t size = (std::strlen(EMULATOR) == 0 ? 64u << 20 : 4u << 20) + 3;
    const std::string data = bytes(size, 2024);
    const size_t pieces[] = {1, 2, 3, 4, 6, 7, 11, 4093, 4099, 65537, 131071, 17, 999};
    Scratch s;
    Drain drain(s);
    Writer w(s.fifo());
    size_t at = 0;
    for (size_t i = 0; at < data.size() && !HasFailure(); ++i) {
        size_t n = std::min(pieces[i % std::size(pieces)], data.size() - at);
        w.put(data.data() + at, n);
        at += n;
    }
    w.close();
    EXPECT_TRUE(exited(drain.wait(), 0));
    const std::string out = drain.out();
    ASSERT_EQ(out.size(), data.size());
    EXPECT_TRUE(out == data) << "first difference at byte "
                             << std::mismatch(out.begin(), out.end(), data.begin()).first -
                                    out.begin();
}

TEST(FifodrainBinary, NeedsOnlyLibc) {
    FILE *p = popen("readelf -d '" FIFODRAIN "'", "r");
    ASSERT_NE(p, nullptr);
    std::string needed;
    char line[512];
    while (std::fgets(line, sizeof line, p))
        if (const char *lib = std::strstr(line, "Shared library: "))
            needed += lib + 16;
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(needed, "[libc.so.6]\n");
}

} // namespace
