// Whole runs of the built qel_vort in real processes, where other runs and
// signals meet them: two runs started at once on one station, a run paused
// at a console prompt (after its output was set up) that a second run meets
// and that is then interrupted or killed. Every outcome must be one whole
// run's file or a clean refusal, and an interrupted run must leave the
// folder as it found it. QV_VORT names another program to test (one built
// before a change, say); the test of named temporary files runs the
// processing in a forked copy of this test program instead.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "driver/run.hpp"
#include "output/interrupt_cleanup.hpp"
#include "support/built_program.hpp"
#include "support/private_files.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing_support::names_in;
using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::write_file;
using Names = std::vector<std::string>;
using ::testing::HasSubstr;

std::string program() {
  const char* other = std::getenv("QV_VORT");
  return other && *other ? other : testing_support::built_program("qel_vort").string();
}

// A process with its standard input, output and error on pipes (or the
// output and error on files).
struct Child {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
};

// Starts body() in a child process inside dir; its exit status is what body
// returns. Output and error go to the files out_file and err_file when given.
Child start_body(const fs::path& dir, const std::function<int()>& body, const std::string& out_file = "",
                 const std::string& err_file = "") {
  int pin[2], pout[2], perr[2];
  if (::pipe2(pin, O_CLOEXEC) != 0 || ::pipe2(pout, O_CLOEXEC) != 0 || ::pipe2(perr, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  std::fflush(nullptr);
  std::cout.flush();
  const pid_t pid = ::fork();
  if (pid == 0) {
    int o = pout[1], e = perr[1];
    if (!out_file.empty()) o = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!err_file.empty()) e = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::dup2(pin[0], 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
    ::_exit(body());
  }
  ::close(pin[0]);
  ::close(pout[1]);
  ::close(perr[1]);
  return {pid, pin[1], pout[0], perr[0]};
}

// The program with the run's arguments, in dir.
Child start(const fs::path& dir, const std::vector<std::string>& args, const std::string& out_file = "",
            const std::string& err_file = "") {
  const std::string prog = program();
  return start_body(
      dir,
      [&] {
        std::vector<char*> argv{const_cast<char*>(prog.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(prog.c_str(), argv.data());
        return 127;
      },
      out_file, err_file);
}

// Reads fd until text has come (true) or the writer has closed it (false).
bool read_until(int fd, const std::string& text, std::string* seen = nullptr) {
  std::string got;
  char buf[4096];
  while (got.find(text) == std::string::npos) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  if (seen) *seen = got;
  return got.find(text) != std::string::npos;
}

std::string read_all(int fd) {
  std::string got;
  read_until(fd, std::string(1, '\0') + "never", &got);
  return got;
}

// A run that is refused before its prompt may have closed its end already:
// then the answer is not needed (optional), and the write must not end this
// test by SIGPIPE.
void answer(const Child& c, const std::string& text, bool optional = false) {
  ::signal(SIGPIPE, SIG_IGN);
  if (!text.empty() && ::write(c.in, text.data(), text.size()) != static_cast<ssize_t>(text.size()) &&
      !(optional && errno == EPIPE))
    ADD_FAILURE() << "cannot answer the run";
  ::close(c.in);
}

// The status a shell would report: the exit status, or 128 + the signal.
int status_of(Child& c) {
  int st = 0;
  while (::waitpid(c.pid, &st, 0) < 0 && errno == EINTR) {
  }
  for (int fd : {c.in, c.out, c.err})
    if (fd >= 0) ::close(fd);
  c.in = c.out = c.err = -1;
  return WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
}

const fs::path kSample = fs::path(QV_SOURCE_DIR) / "examples" / "sample_station";
const fs::path kCases = fs::path(QV_SOURCE_DIR) / "tests" / "stations";

// Two runs on the sample station at once, with different powerline
// fundamentals so that their files differ and any mixture shows: each run
// writes its whole file or is refused by the other's lock, and the file
// left is one of the two whole files, the survivor's when one was refused.
TEST(ConcurrentRuns, TwoRunsOnOneStationGiveOneWholeFileOrARefusal) {
  if (!fs::exists(program())) GTEST_SKIP() << program() << " not built";
  const TempFolder station("race"), logs("race_logs");
  for (const char* name : {"paths.cfg", "decset.cfg", "pwset.cfg", "sample_qel.sp", "sample_qel.bin"})
    fs::copy_file(kSample / name, station / name);
  const std::vector<std::string> args[2] = {{"-f:sample_qel.bin", "-p:50"}, {"-f:sample_qel.bin", "-p:60"}};
  const fs::path result = station / "sample_qel.f5";
  std::string whole[2];
  for (int k : {0, 1}) {
    Child c = start(station.path(), args[k], (logs / "out").string(), (logs / "err").string());
    answer(c, "");
    ASSERT_EQ(status_of(c), 0) << read_file(logs / "err");
    whole[k] = read_file(result);
  }
  ASSERT_NE(whole[0], whole[1]);
  const Names before = names_in(station.path());

  int refused = 0;
  for (int trial = 0; trial < 6; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Child c[2];
    for (int k : {0, 1}) {
      const std::string tag = std::to_string(k);
      c[k] = start(station.path(), args[k], (logs / ("out" + tag)).string(), (logs / ("err" + tag)).string());
    }
    int status[2];
    for (int k : {0, 1}) {
      answer(c[k], "");
      status[k] = status_of(c[k]);
    }
    for (int k : {0, 1}) {
      const std::string err = read_file(logs / ("err" + std::to_string(k)));
      if (status[k] == 0) continue;
      EXPECT_EQ(status[k], 1);
      // The holder is named once it has written its process number into
      // the lock file, a moment after it took the lock.
      EXPECT_THAT(err, ::testing::ContainsRegex("qel_vort: the Fourier-coefficient file \"./sample_qel.f5\" is being "
                                                "written by another run( \\(process " +
                                                std::to_string(c[1 - k].pid) + " on host [^)]*\\))?, which holds"))
          << err;
      ++refused;
    }
    EXPECT_TRUE(status[0] == 0 || status[1] == 0);
    const std::string left = read_file(result);
    if (status[0] != 0 || status[1] != 0)
      EXPECT_TRUE(left == whole[status[0] == 0 ? 0 : 1]) << "the file is not the surviving run's";
    else
      EXPECT_TRUE(left == whole[0] || left == whole[1]) << "the file is not one run's whole file";
    EXPECT_EQ(names_in(station.path()), before);
  }
  std::cout << "[ refused runs: " << refused << " of 12 ]\n";
}

// The station case table_replacement_missing: its response table file is
// missing and the run asks for another name, after it has set up its output.
// The folder holds an earlier st.f2.
const std::string kPrompt = "Enter a new RSP file name or RETURN to stop";
const std::string kEarlier = "a Fourier-coefficient file of an earlier run\n";

void paused_station(const fs::path& dir) {
  for (const fs::path& from : {kCases / "_small", kCases / "table_replacement_missing"})
    for (const auto& e : fs::directory_iterator(from)) {
      const std::string name = e.path().filename().string();
      if (name == "args" || name == "stdin" || name == "base" || name.rfind("expect.", 0) == 0) continue;
      fs::copy(e.path(), dir / name, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
  write_file(dir / "st.f2", kEarlier);
}

Names with(Names names, const std::string& more) {
  names.push_back(more);
  std::sort(names.begin(), names.end());
  return names;
}

// While a run waits at the prompt it holds the station's output: a second
// run stops at once, naming the file and the holder, and changes nothing.
// SIGTERM and SIGINT then end the waiting run with the status 143 and 130 of
// a signal, the earlier file unchanged and nothing of the run left. SIGKILL
// cannot be handled: with unnamed files the run leaves only its lock file,
// unlocked (the lock died with the process), which the next run takes over
// and removes.
TEST(InterruptedRun, PausedRunHoldsItsOutputAndLeavesNothingWhenInterrupted) {
  if (!fs::exists(program())) GTEST_SKIP() << program() << " not built";
  for (const int sig : {SIGTERM, SIGINT, SIGKILL}) {
    SCOPED_TRACE(strsignal(sig));
    const TempFolder station("paused");
    paused_station(station.path());
    const Names before = names_in(station.path());
    const bool unnamed = testing_support::unnamed_files_in(station.path());
    if (sig == SIGKILL && !unnamed) continue;  // a killed run leaves its named files

    Child paused = start(station.path(), {"-A", "-f:st.asc"});
    std::string seen;
    ASSERT_TRUE(read_until(paused.out, kPrompt, &seen)) << seen << read_all(paused.err);
    if (unnamed) {
      EXPECT_EQ(names_in(station.path()), with(before, "st.f2.lock"));
    }

    Child second = start(station.path(), {"-A", "-f:st.asc"});
    answer(second, "none\n", true);  // refused at its start, before it asks
    const std::string err = read_all(second.err);
    EXPECT_EQ(status_of(second), 1);
    EXPECT_THAT(err, HasSubstr("qel_vort: the Fourier-coefficient file \"./st.f2\" is being written by another run "
                               "(process " +
                               std::to_string(paused.pid) + " on host "));
    EXPECT_THAT(err, HasSubstr("which holds its lock file \"./st.f2.lock\"; this run stops and changes nothing"));
    EXPECT_EQ(read_file(station / "st.f2"), kEarlier);

    ASSERT_EQ(::kill(paused.pid, sig), 0);
    EXPECT_EQ(status_of(paused), 128 + sig);
    EXPECT_EQ(read_file(station / "st.f2"), kEarlier);
    if (sig != SIGKILL) {
      EXPECT_EQ(names_in(station.path()), before);
      continue;
    }
    EXPECT_EQ(names_in(station.path()), with(before, "st.f2.lock"));
    Child next = start(station.path(), {"-A", "-f:st.asc"});
    answer(next, "none\n");  // the filter of the missing table is left out
    const std::string next_err = read_all(next.err);
    EXPECT_EQ(status_of(next), 0) << next_err;
    EXPECT_NE(read_file(station / "st.f2"), kEarlier);
    EXPECT_EQ(names_in(station.path()), with(before, "st.f2.json"));
  }
}

// Where the file system refuses unnamed files (forced here), the run's
// files have unique names while it runs; SIGTERM removes them and the lock
// file before the process ends. The processing runs in a fork of this test
// program, which is where the fallback can be forced.
TEST(InterruptedRun, SigtermRemovesTheNamedTemporaryFilesAndTheLock) {
  const TempFolder station("named");
  paused_station(station.path());
  const Names before = names_in(station.path());

  Child paused = start_body(station.path(), [] {
    force_named_private_files(true);
    install_interrupt_cleanup();
    Console con(std::cout, std::cerr, std::cin);
    const int status = run_main({"-A", "-f:st.asc"}, con);
    std::cout.flush();
    return status;
  });
  ASSERT_TRUE(read_until(paused.out, kPrompt));
  Names during = names_in(station.path());
  const std::regex part("st\\.f2\\.[A-Za-z0-9]{6}\\.part");
  EXPECT_EQ(std::erase_if(during, [&](const std::string& n) { return std::regex_match(n, part); }), 1u);
  EXPECT_EQ(during, with(before, "st.f2.lock"));

  ASSERT_EQ(::kill(paused.pid, SIGTERM), 0);
  EXPECT_EQ(status_of(paused), 128 + SIGTERM);
  EXPECT_EQ(read_file(station / "st.f2"), kEarlier);
  EXPECT_EQ(names_in(station.path()), before);
}

}  // namespace
}  // namespace qv
