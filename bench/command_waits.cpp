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
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using bench::Clock;
using bench::median;
using bench::start_regserver;
using bench::stop;
using Server = bench::Child;
using Args = std::vector<std::string>;

constexpr double kRepeaterPauseMs = 2;  // after each tuner byte through the repeater
constexpr double kPollMs = 5;           // ad_smp's pause and poll interval
constexpr double kCaptureStartPausesMs = 2 * kPollMs;
// The drivers' own waits: RDA5815 1 ms before its start-up, 10 ms after it, 5 ms after the
// setting; type 0 10 + 20 + 20 ms in its start-up and 20 + 10 + 10 + 10 + 10 ms in its setting.
constexpr double kRda5815WaitsMs = 1 + 10 + 5;
constexpr double kType0WaitsMs = 10 + 20 + 20 + 20 + 10 + 10 + 10 + 10;

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
};

void report(const char* name, const Result& r) {
  const double rest = r.wall_ms - r.mandated_ms;
  std::printf(
      "%-27s %7.2f ms  mandated %6.2f ms  ratio %.3f  rest %5.2f ms = %4.1f%%  (best run: "
      "ratio %.3f, rest %4.1f%%)\n",
      name, r.wall_ms, r.mandated_ms, r.wall_ms / r.mandated_ms, rest, 100.0 * rest / r.wall_ms,
      r.best_ms / r.mandated_ms, 100.0 * (r.best_ms - r.mandated_ms) / r.best_ms);
}

// `runs` timed runs of `args` on the untraced transport, each beside the same run on the traced
// twin, whose new trace lines give its mandated waits.
template <typename Mandated>
Result measure(int runs, const Args& timed_args, const Args& timed_env, const Args& traced_args,
               const Args& traced_env, TraceReader& trace, const std::string& dir,
               Mandated mandated) {
  std::vector<double> wall;
  std::vector<double> waits;
  for (int i = 0; i < runs; ++i) {
    run_ms(traced_args, traced_env, dir);
    waits.push_back(mandated(trace.new_lines()));
    wall.push_back(run_ms(timed_args, timed_env, dir));
  }
  return {median(wall), *std::min_element(wall.begin(), wall.end()), median(waits)};
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
  const auto tuner_waits = [](double driver_ms) {
    return [driver_ms](const std::vector<std::string>& lines) {
      return tuner_bytes(lines, "\"address\":\"0xC0\"") * kRepeaterPauseMs + driver_ms;
    };
  };
  const auto capture_waits = [](const std::vector<std::string>& lines) {
    return kCaptureStartPausesMs + capture_polls(lines) * kPollMs;
  };
  const Args capture = {"0"};  // 9-bit samples
  const Args usb_args = {"100", "208", "0", "ad_smp", "0"};

  const Result rda_result = measure(tuner_runs, socket_args(timed, rda, "tuner_set"), {},
                                    socket_args(traced, rda, "tuner_set"), {}, socket_lines, dir,
                                    tuner_waits(kRda5815WaitsMs));
  const Result type0_result = measure(tuner_runs, socket_args(timed, type0, "tuner_set"), {},
                                      socket_args(traced, type0, "tuner_set"), {}, socket_lines,
                                      dir, tuner_waits(kType0WaitsMs));
  const Result socket_capture =
      measure(capture_runs, socket_args(timed, capture, "ad_smp"), {},
              socket_args(traced, capture, "ad_smp"), {}, socket_lines, dir, capture_waits);
  const Result usb_capture = measure(capture_runs, usb_args, {"DEMODCTL_I2C_BUS=sim"}, usb_args,
                                     {"DEMODCTL_I2C_BUS=sim", "DEMODCTL_I2C_TRACE=" + usb_trace},
                                     usb_lines, dir, capture_waits);
  const double socket_bare = bare_run_ms(capture_runs, socket_args(timed, {}, "on_line"), {}, dir);
  const double usb_bare =
      bare_run_ms(capture_runs, {"100", "208", "on_line", "0"}, {"DEMODCTL_I2C_BUS=sim"}, dir);
  stop(timed);
  stop(traced);

  std::printf("Wall time of whole runs (median) against their mandated waits:\n");
  report("tuner_set RDA5815 (socket)", rda_result);
  report("tuner_set type 0 (socket)", type0_result);
  report("ad_smp (socket)", socket_capture);
  report("ad_smp (USB bridge, sim)", usb_capture);
  std::printf("a bare run (on_line): socket %.2f ms, USB bridge (sim) %.2f ms\n", socket_bare,
              usb_bare);
  std::printf("targets: tuner_set ratio <= 1.03; ad_smp over the socket ratio <= 1.15\n");
  std::filesystem::remove_all(dir);
  return 0;
}
