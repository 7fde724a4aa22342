// Whole command runs against the waits they are required to make, on the simulated board:
//  1. tuner_set through the socket repeater (regserver --sim), RDA5815 (type 1) and type 0: the
//     mandated waits are 2 ms per tuner byte plus the driver's own waits;
//  2. ad_smp over regserver and over the USB bridge path on the in-process board
//     (DEMODCTL_I2C_BUS=sim): the two fixed 5 ms pauses plus 5 ms per poll the flags required.
// The waits are counted from bus traces (regserver --trace, DEMODCTL_I2C_TRACE) of runs made
// alongside the timed ones, on a twin board that has seen the same commands: tracing writes a
// line per transaction (8192 for a capture's data alone), which would weigh on the timed runs.
// Each figure is the median of its runs; the fastest run is shown beside it. For scale, the wall
// time of a bare run (on_line: start, connection, one identity read) on each transport is reported
// too: every run pays it.
// Beside each socket run the machine's floor for it is measured: the same waits through the
// same wait function with plain TCP exchanges to an echo process in place of the requests (for
// tuner_set one the size of a gate opening and tuner write after each tuner byte's wait; for
// ad_smp its requests, the data as one reply, and a sample file of the same size written and
// renamed). What a run takes beyond that floor and a bare run is what demodctl and regserver add.
// The share of CPU time the hypervisor kept from this machine during each measurement is printed
// with it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bus/delay.h"

namespace {

using bench::Clock;
using bench::median;
using bench::start_regserver;
using bench::stop;
using Server = bench::Child;
using Args = std::vector<std::string>;

constexpr int kRepeaterPauseMs = 2;  // after each tuner byte through the repeater
constexpr double kPollMs = 5;        // ad_smp's pause and poll interval
constexpr double kCaptureStartPausesMs = 2 * kPollMs;
// The drivers' own waits: RDA5815 1 ms before its start-up, 10 ms after it, 5 ms after the
// setting; type 0 10 + 20 + 20 ms in its start-up and 20 + 10 + 10 + 10 + 10 ms in its setting.
const std::vector<int> kRda5815WaitsMs = {1, 10, 5};
const std::vector<int> kType0WaitsMs = {10, 20, 20, 20, 10, 10, 10, 10};
// A gate opening and a tuner write, and their two replies, on the wire.
constexpr size_t kPairRequestBytes = 2 * 20;
constexpr size_t kPairReplyBytes = 2 * 6;
// A one-byte register access, the capture's data (8192 bytes and the reply's header), and the
// sample file a 9-bit capture writes.
constexpr size_t kRequestBytes = 20;
constexpr size_t kReplyBytes = 7;
constexpr size_t kFetchReplyBytes = 8192 + 6;
constexpr size_t kSampleFileBytes = 14749;

double sum(const std::vector<int>& ms) { return std::accumulate(ms.begin(), ms.end(), 0.0); }

// One run of demodctl in `dir` with extra environment entries, standard output to /dev/null;
// its wall time in ms.
double run_ms(const Args& args, const Args& env, const std::string& dir) {
  Args argv = {DEMODCTL_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return 1000.0 * bench::run_timed(argv, env, dir);
}

// The lines a trace file gained since the last call. A trace each run starts afresh
// (DEMODCTL_I2C_TRACE) is removed once read.
class TraceReader {
 public:
  TraceReader(std::string path, bool per_run) : path_(std::move(path)), per_run_(per_run) {}
  std::vector<std::string> new_lines() {
    std::ifstream in(path_);
    in.seekg(static_cast<std::streamoff>(offset_));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      offset_ += line.size() + 1;
      lines.push_back(line);
    }
    if (per_run_) {
      std::filesystem::remove(path_);
      offset_ = 0;
    }
    return lines;
  }

 private:
  std::string path_;
  bool per_run_;
  std::size_t offset_ = 0;
};

bool has(const std::string& line, const char* field) {
  return line.find(field) != std::string::npos;
}

// Tuner writes through the repeater: one byte each, to the tuner's address.
double tuner_bytes(const std::vector<std::string>& lines, const char* tuner_address) {
  return static_cast<double>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
    return has(l, "\"op\":\"write\"") && has(l, tuner_address);
  }));
}

// Polls the capture's flags required: reads of 0x37 and of 0xEA after the first of each.
double capture_polls(const std::vector<std::string>& lines) {
  const auto reads_of = [&](const char* reg) {
    return static_cast<double>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
      return has(l, "\"op\":\"read\"") && has(l, reg);
    }));
  };
  return std::max(reads_of("\"reg\":\"0x37\"") - 1, 0.0) +
         std::max(reads_of("\"reg\":\"0xEA\"") - 1, 0.0);
}

struct Result {
  double wall_ms;  // median
  double best_ms;  // the fastest run: what is left when nothing else competes for the cores
  double mandated_ms;
  double floor_ms;  // median of the floors measured beside the runs; 0: none
  double steal;     // the share of CPU time stolen while the runs and floors were measured
};

// The machine's floor under a tuner_set run with `mandated_ms` of waits (see the top), in ms.
double tuner_floor_ms(const bench::EchoPeer& peer, double mandated_ms,
                      const std::vector<int>& driver_waits) {
  const auto bytes = static_cast<int>((mandated_ms - sum(driver_waits)) / kRepeaterPauseMs);
  const auto t0 = Clock::now();
  for (int i = 0; i < bytes; ++i) {
    demodctl::delay_ms(kRepeaterPauseMs);
    bench::echo(peer);
  }
  for (const int ms : driver_waits) demodctl::delay_ms(ms);
  return 1000.0 * bench::seconds_since(t0);
}

// The requests of a capture beyond the two a bare run makes too (the speed and the identity
// read), the data's own reads of 0xEF being one request.
int capture_requests(const std::vector<std::string>& lines) {
  const auto data_reads = std::count_if(lines.begin(), lines.end(), [](const auto& l) {
    return has(l, "\"op\":\"read\"") && has(l, "\"reg\":\"0xEF\"");
  });
  return static_cast<int>(lines.size()) - static_cast<int>(data_reads) + 1 - 2;
}

// The machine's floor under a capture over the socket beyond a bare run, in ms: its requests as
// plain TCP exchanges (one 5 ms wait before each of the pauses and polls, the data as one 8 KiB
// reply) and the sample file of a 9-bit capture created, written, flushed to the disk and renamed
// over the last one in `dir`.
double capture_floor_ms(const bench::EchoPeer& small, const bench::EchoPeer& fetch,
                        double mandated_ms, int requests, const std::string& dir) {
  const auto waits = static_cast<int>(mandated_ms / kPollMs);
  const std::string text(kSampleFileBytes, '1');
  const std::string path = dir + "/floor_samples";
  const std::string temporary = path + ".new";
  const auto t0 = Clock::now();
  for (int i = 0; i < requests - 1 - waits; ++i) bench::echo(small);
  for (int i = 0; i < waits; ++i) {
    demodctl::delay_ms(static_cast<int>(kPollMs));
    bench::echo(small);
  }
  bench::echo(fetch);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      fsync(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "the floor's sample file: %s\n", std::strerror(errno));
  }
  if (fd >= 0) close(fd);
  return 1000.0 * bench::seconds_since(t0);
}

void report(const char* name, const Result& r) {
  const double rest = r.wall_ms - r.mandated_ms;
  std::printf(
      "%-27s %7.2f ms  mandated %6.2f ms  ratio %.3f  rest %5.2f ms = %4.1f%%  (best run: "
      "ratio %.3f, rest %4.1f%%)  stolen %.1f%%\n",
      name, r.wall_ms, r.mandated_ms, r.wall_ms / r.mandated_ms, rest, 100.0 * rest / r.wall_ms,
      r.best_ms / r.mandated_ms, 100.0 * (r.best_ms - r.mandated_ms) / r.best_ms, 100.0 * r.steal);
}

void report_floor(const char* name, const Result& r, double bare_ms) {
  const double floor = r.floor_ms + bare_ms;
  std::printf(
      "%-27s %7.2f ms  floor    %6.2f ms  ratio %.3f  (the waits with an echo: %.2f ms, "
      "a bare run %.2f ms)  stolen %.1f%%\n",
      name, r.wall_ms, floor, r.wall_ms / floor, r.floor_ms, bare_ms, 100.0 * r.steal);
}

// `runs` timed runs of `args` on the untraced transport, each beside the same run on the traced
// twin, whose new trace lines give its mandated waits, and beside the floor for those waits
// (`floor` returns 0 where there is none).
template <typename Mandated, typename Floor>
Result measure(int runs, const Args& timed_args, const Args& timed_env, const Args& traced_args,
               const Args& traced_env, TraceReader& trace, const std::string& dir,
               Mandated mandated, Floor floor) {
  std::vector<double> wall;
  std::vector<double> waits;
  std::vector<double> floors;
  const bench::CpuTicks before = bench::cpu_ticks();
  for (int i = 0; i < runs; ++i) {
    run_ms(traced_args, traced_env, dir);
    const std::vector<std::string> lines = trace.new_lines();
    waits.push_back(mandated(lines));
    wall.push_back(run_ms(timed_args, timed_env, dir));
    floors.push_back(floor(waits.back(), lines));
  }
  return {median(wall), *std::min_element(wall.begin(), wall.end()), median(waits), median(floors),
          bench::steal_share(before, bench::cpu_ticks())};
}

double bare_run_ms(int runs, const Args& args, const Args& env, const std::string& dir) {
  std::vector<double> wall;
  for (int i = 0; i < runs; ++i) wall.push_back(run_ms(args, env, dir));
  return median(wall);
}

Args socket_args(const Server& s, const Args& own, const std::string& cmd) {
  Args args = {"127.0.0.1", std::to_string(s.port), "0", "100", "208"};
  args.insert(args.end(), own.begin(), own.end());
  args.insert(args.end(), {cmd, "1"});
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  const int tuner_runs = argc > 1 ? std::atoi(argv[1]) : 9;
  const int capture_runs = argc > 2 ? std::atoi(argv[2]) : 21;
  if (tuner_runs < 1 || capture_runs < 1) {
    std::fprintf(stderr, "usage: %s [TUNER_RUNS] [CAPTURE_RUNS]\n", argv[0]);
    return 2;
  }
  char dir_template[] = "/tmp/command_waits.XXXXXX";
  const char* dir_made = mkdtemp(dir_template);
  if (dir_made == nullptr) return 1;
  const std::string dir = dir_made;  // the debug log and the sample files land here
  const std::string socket_trace = dir + "/socket.jsonl";
  const std::string usb_trace = dir + "/usb.jsonl";

  const Server timed = start_regserver({});
  const Server traced = start_regserver({"--trace", socket_trace});
  if (timed.port == 0 || traced.port == 0) {
    std::fprintf(stderr, "regserver did not start\n");
    return 1;
  }
  TraceReader socket_lines(socket_trace, false);
  TraceReader usb_lines(usb_trace, true);

  const Args rda = {"0", "192", "1", "1550", "36"};
  const Args type0 = {"0", "192", "0", "1210", "36"};
  const auto tuner_waits = [](const std::vector<int>& driver_waits) {
    return [driver_ms = sum(driver_waits)](const std::vector<std::string>& lines) {
      return tuner_bytes(lines, "\"address\":\"0xC0\"") * kRepeaterPauseMs + driver_ms;
    };
  };
  bench::EchoPeer echo = bench::start_echo(kPairRequestBytes, kPairReplyBytes);
  const auto tuner_floor = [&echo](const std::vector<int>& driver_waits) {
    return [&echo, driver_waits](double mandated_ms, const std::vector<std::string>&) {
      return tuner_floor_ms(echo, mandated_ms, driver_waits);
    };
  };
  bench::EchoPeer small_echo = bench::start_echo(kRequestBytes, kReplyBytes);
  bench::EchoPeer fetch_echo = bench::start_echo(kRequestBytes, kFetchReplyBytes);
  const auto capture_floor = [&](double mandated_ms, const std::vector<std::string>& lines) {
    return capture_floor_ms(small_echo, fetch_echo, mandated_ms, capture_requests(lines), dir);
  };
  const auto no_floor = [](double, const std::vector<std::string>&) { return 0.0; };
  const auto capture_waits = [](const std::vector<std::string>& lines) {
    return kCaptureStartPausesMs + capture_polls(lines) * kPollMs;
  };
  const Args capture = {"0"};  // 9-bit samples
  const Args usb_args = {"100", "208", "0", "ad_smp", "0"};

  const Result rda_result = measure(tuner_runs, socket_args(timed, rda, "tuner_set"), {},
                                    socket_args(traced, rda, "tuner_set"), {}, socket_lines, dir,
                                    tuner_waits(kRda5815WaitsMs), tuner_floor(kRda5815WaitsMs));
  const Result type0_result = measure(tuner_runs, socket_args(timed, type0, "tuner_set"), {},
                                      socket_args(traced, type0, "tuner_set"), {}, socket_lines,
                                      dir, tuner_waits(kType0WaitsMs), tuner_floor(kType0WaitsMs));
  const Result socket_capture = measure(capture_runs, socket_args(timed, capture, "ad_smp"), {},
                                        socket_args(traced, capture, "ad_smp"), {}, socket_lines,
                                        dir, capture_waits, capture_floor);
  const Result usb_capture = measure(capture_runs, usb_args, {"DEMODCTL_I2C_BUS=sim"}, usb_args,
                                     {"DEMODCTL_I2C_BUS=sim", "DEMODCTL_I2C_TRACE=" + usb_trace},
                                     usb_lines, dir, capture_waits, no_floor);
  const double socket_bare = bare_run_ms(capture_runs, socket_args(timed, {}, "on_line"), {}, dir);
  const double usb_bare =
      bare_run_ms(capture_runs, {"100", "208", "on_line", "0"}, {"DEMODCTL_I2C_BUS=sim"}, dir);
  stop(timed);
  stop(traced);
  bench::stop(echo);
  bench::stop(small_echo);
  bench::stop(fetch_echo);

  std::printf("Wall time of whole runs (median) against their mandated waits:\n");
  report("tuner_set RDA5815 (socket)", rda_result);
  report("tuner_set type 0 (socket)", type0_result);
  report("ad_smp (socket)", socket_capture);
  report("ad_smp (USB bridge, sim)", usb_capture);
  std::printf("a bare run (on_line): socket %.2f ms, USB bridge (sim) %.2f ms\n", socket_bare,
              usb_bare);
  std::printf("targets: tuner_set ratio <= 1.03; ad_smp over the socket ratio <= 1.15\n");
  std::printf("Wall time of socket runs (median) against the machine's floor for them:\n");
  report_floor("tuner_set RDA5815 (socket)", rda_result, socket_bare);
  report_floor("tuner_set type 0 (socket)", type0_result, socket_bare);
  report_floor("ad_smp (socket)", socket_capture, socket_bare);
  std::filesystem::remove_all(dir);
  return 0;
}
