// What a careless harness or a hostile working directory can put in the way of the files the
// programs open: links, FIFOs, files that look regular but never answer, output that cannot be
// written or is closed, signals in the middle of a capture and the leftovers of a killed one.
// What each command prints and sends: GoldenTraces; refused transfers: CaptureRuns.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "protocol/wire.h"
#include "server/frames.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

// Bound of every run here: each case ends at once; a hang shows as timed_out.
constexpr int kRunBoundMs = 10000;
const std::vector<std::string> kSymbolErr = {DEMODCTL_BIN, "100", "208", "symbol_err", "0"};
const std::vector<std::string> kOnLine = {DEMODCTL_BIN, "100", "208", "on_line", "0"};

// The names in a directory, sorted, one per line.
std::string listing(const std::string& dir) { return run_process({"/bin/ls", "-A", dir}).out; }

// What is run, argv, its environment, the setup ('l': qv_debug_file a link to precious, 'f':
// DEMODCTL_I2C_BUS a FIFO, '-': none), its output, status and what the one line on standard error
// holds ("": no line).
using HostileCase = std::tuple<const char*, std::vector<std::string>, std::vector<std::string>,
                               char, const char*, int, const char*>;

// clang-format off
const HostileCase kHostileCases[] = {
    {"symbol_err, log linked", kSymbolErr, {"DEMODCTL_I2C_BUS=sim", "DEMODCTL_VERBOSE=1"},
     'l', "error=ok,return=-3", 0,
     "demodctl: debug log: qv_debug_file: it is a symbolic link (name the file itself)\n"},
    // The open fails at once instead of waiting for a writer (the other paths that are no adapter:
    // I2cDevBus.OnlyAnI2cAdapterOpens).
    {"bridge a FIFO", kOnLine, {"DEMODCTL_VERBOSE=1"}, 'f',
     "error=err openerror,failed,return=-1", 255, " is not an I2C adapter: not a character device\n"},
    {"bridge scenario /proc/kmsg", kOnLine,
     {"DEMODCTL_I2C_BUS=sim:/proc/kmsg", "DEMODCTL_VERBOSE=1"}, '-',
     "error=err openerror,failed,return=-1", 255, "demodctl: USB bridge: /proc/kmsg: "},
    // A file over the size limit (in blocks of 1024 bytes) fails like a full disk, not the run.
    {"capture over ulimit -f",
     {"/bin/sh", "-c", "ulimit -f 4; exec '" DEMODCTL_BIN "' 100 208 ad_smp 0"},
     {"DEMODCTL_I2C_BUS=sim", "DEMODCTL_VERBOSE=1"}, '-', "error=err file,failed,return=-1", 255,
     "demodctl: sample file qv_ad_smp: File too large\n"},
    {"output /dev/full", {"/bin/sh", "-c", "exec '" DEMODCTL_BIN "' 100 208 fec_ok 0 >/dev/full"},
     {"DEMODCTL_I2C_BUS=sim"}, '-', "", 255, ""},
    // The trace would have been descriptor 1 and received the result line: nothing is opened.
    {"output closed", {"/bin/sh", "-c", "exec '" DEMODCTL_BIN "' 100 208 symbol_err 0 >&-"},
     {"DEMODCTL_I2C_BUS=sim", "DEMODCTL_I2C_TRACE=trace"}, '-', "", 255, ""},
};
// clang-format on

TEST(HostileFiles, RefusedAtOnceAndNothingElseChanges) {
  for (auto [what, argv, env, setup, out, status, err] : kHostileCases) {
    const TempDir dir;
    const std::string precious = write_file(dir.path(), "precious", "keep me\n");
    ASSERT_TRUE(setup != 'l' || symlink("precious", (dir / "qv_debug_file").c_str()) == 0);
    ASSERT_TRUE(setup != 'f' || mkfifo((dir / "fifo").c_str(), 0600) == 0);
    if (setup == 'f') env.push_back("DEMODCTL_I2C_BUS=" + (dir / "fifo"));
    const std::string before = listing(dir.path());
    const ProcResult r = run_process(argv, env, kRunBoundMs, dir.path());
    EXPECT_FALSE(r.timed_out) << what;
    EXPECT_EQ(r.out, out) << what;
    EXPECT_EQ(r.status, status) << what;
    EXPECT_NE(r.err.find(err), std::string::npos) << what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), *err ? 1 : 0) << what << ": " << r.err;
    EXPECT_EQ(read_file(precious), "keep me\n") << what;
    EXPECT_EQ(listing(dir.path()), before) << what;
  }
}

// This machine's adapters (often none): a listing, never the usage of a short command line.
TEST(Demodctl, ListBusesIsNoCommandLine) {
  const ProcResult r = demodctl({"--list-buses"}, {});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty() || r.out.starts_with("i2c-")) << r.out;
}

// A register server that answers like a present chip whose flags are all up, and never answers
// the capture fetch: the tool then sits in the fetch with its temporary sample file open.
class FetchThatNeverEnds {
 public:
  FetchThatNeverEnds() : listener_(loopback_socket(1, &port)), thread_([this] { serve(); }) {}
  ~FetchThatNeverEnds() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  std::string port;  // the one it listens on

 private:
  void serve() {
    pollfd p{listener_, POLLIN, 0};
    const bool asked = poll(&p, 1, kRunBoundMs) > 0;
    test::Raw conn(
        test::Raw::Accepted{asked ? accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1});
    for (test::Bytes frame = conn.frame(); frame.size() > 2; frame = conn.frame()) {
      const wire::Request q = wire::decode_request(frame).request;
      if (q.op == wire::Opcode::kReadPeriod) continue;  // the fetch: no reply, ever
      test::Bytes body;
      if (q.op == wire::Opcode::kHello) body = wire::hello_reply_body();
      if (q.op == wire::Opcode::kRead) {  // a present chip, every flag up
        body =
            q.target.reg == 0x6C ? test::Bytes{0x01, 0x00, 0x36, 0x31} : test::Bytes(q.count, 0xFF);
      }
      conn.send(wire::encode_reply(static_cast<uint8_t>(q.op) | wire::kReplyFlag, wire::Status::kOk,
                                   q.seq, body));
    }
  }
  int listener_;
  std::thread thread_;
};

TEST(HostileFiles, SignalDuringTheFetchRemovesTheTemporaryFile) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
    const TempDir dir;
    FetchThatNeverEnds server;
    // The shell becomes the tool (which SIGQUIT ends without a core file).
    BackgroundProcess tool(
        {"/bin/sh", "-c",
         "ulimit -c 0; exec '" DEMODCTL_BIN "' 127.0.0.1 " + server.port + " 0 100 208 0 ad_smp 1"},
        {"DEMODCTL_NET_TIMEOUT_MS=600000"}, dir.path());
    EXPECT_TRUE(eventually([&] { return listing(dir.path()).find("qv_ad_smp.") == 0; }))
        << "the capture never reached its fetch";
    EXPECT_EQ(tool.stop(sig), 128 + sig);  // not SIGKILL, 5 s later
    EXPECT_EQ(tool.out(), "");
    EXPECT_EQ(listing(dir.path()), "") << sig;
  }
}

// Leftovers of captures killed outright: the next capture removes those nobody holds; one held by
// a live owner, one written within the last second, a link and other names stay.
TEST(HostileFiles, NextCaptureRemovesOnlyAbandonedTemporaryFiles) {
  const TempDir dir;
  const timeval old[2] = {{1, 0}, {1, 0}};
  for (const char* name : {"qv_ad_smp.dead01", "qv_ad_smp.alive1", "qv_ad_smp.other", "target"}) {
    utimes(write_file(dir.path(), name, "partial\n").c_str(), old);
  }
  write_file(dir.path(), "qv_ad_smp.young1", "partial\n");
  ASSERT_EQ(symlink("target", (dir / "qv_ad_smp.link01").c_str()), 0);
  const int owner = open((dir / "qv_ad_smp.alive1").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(owner, LOCK_EX), 0);
  const ProcResult r = run_process({DEMODCTL_BIN, "100", "208", "ad_smp", "0"},
                                   {"DEMODCTL_I2C_BUS=sim"}, kRunBoundMs, dir.path());
  close(owner);
  EXPECT_EQ(r.out, "error=ok,return=0");
  EXPECT_EQ(listing(dir.path()),
            "qv_ad_smp\nqv_ad_smp.alive1\nqv_ad_smp.link01\nqv_ad_smp.other\nqv_ad_smp.young1\n"
            "target\n");
  EXPECT_EQ(read_file(dir / "target"), "partial\n");
}

}  // namespace
}  // namespace demodctl::testing
