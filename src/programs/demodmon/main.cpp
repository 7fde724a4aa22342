// demodmon: samples one board or a rack of boards every interval on open connections and shows
// lock, signal and constellation in the terminal, as JSON lines, and (--http) on a web page and
// /metrics.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "adapters/bus_choice.h"
#include "bus/run_settings.h"
#include "files/standard_descriptors.h"
#include "monitor/feed_store.h"
#include "monitor/options.h"
#include "monitor/output_writer.h"
#include "monitor/sampler.h"
#include "monitor/terminal_lines.h"
#include "monitor_web/web_server.h"

namespace {

using namespace demodctl;
using namespace demodctl::monitor;

// Nothing could be run at all (descriptors 0-2 could not be held).
constexpr int kExitFailure = 1;
// How often the main thread looks whether every sampler has taken its --count samples.
constexpr long kWatchNanoseconds = 100 * 1000 * 1000;
// How long the lines still queued at the stop (the summary among them) may take to go out: a
// standard output that does not take them by then (a pipe nobody reads) loses them, and the
// process ends all the same.
constexpr std::chrono::milliseconds kOutputDrainBound{500};
constexpr int kStandardOutput = 1;

// A reply that takes longer than the interval would hold back that board's next sample, so unless
// DEMODCTL_NET_TIMEOUT_MS says otherwise the client waits at most one interval (and never longer
// than its own default).
void bound_reply_timeout(RunSettings& settings, std::chrono::milliseconds interval) {
  if (settings.reply_timeout_given) return;
  settings.reply_timeout = std::min(interval, kDefaultNetTimeout);
}

bool all_finished(const std::vector<std::unique_ptr<Sampler>>& samplers) {
  for (const auto& s : samplers) {
    if (!s->finished()) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a closed 0..2 would otherwise be taken by the board's socket or
  // the page's listener, and the lines meant for standard output would go there.
  if (!occupy_standard_descriptors().usable) return kExitFailure;
  // The run's settings, read from the environment here and nowhere else.
  RunSettings settings = run_settings_from(std::getenv);
  const ParsedMonitorOptions parsed = parse_monitor_options(argc, argv, settings.bridge_bus);
  if (!parsed.options) {
    std::fputs(parsed.message.c_str(), parsed.exit_status == 0 ? stdout : stderr);
    if (parsed.exit_status != 0) std::fputc('\n', stderr);
    return parsed.exit_status;
  }
  const MonitorOptions& o = *parsed.options;
  bound_reply_timeout(settings, o.interval);

  // SIGINT and SIGTERM are taken by the main thread alone (blocked before any thread starts, so
  // every thread inherits the mask) and end the run with its summary.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);  // a file over the size limit is a write error, not death

  std::vector<std::string> names;
  for (const auto& b : o.boards) names.push_back(b.name);
  FeedStore feed(names);
  // The samplers never wait on standard output: its writer queues, and drops what it cannot take.
  OutputWriter output(kStandardOutput, [&feed] { feed.count_dropped_output(1); });
  LinePrinter printer(output, o.json);
  feed.subscribe({[&](const BoardSample& s) { printer.sample(s); },
                  [&](const BoardEvent& e) { printer.event(e); },
                  [&](const CaptureRecord& c) { printer.capture(c); }});

  std::unique_ptr<WebServer> web;
  if (o.http) {
    WebOptions w;
    w.listen = o.http->listen;
    w.port = o.http->port;
    w.allow = o.http->allow;
    w.hosts = o.http->hosts;
    w.captures_allowed = o.http->captures_allowed;
    Result<std::unique_ptr<WebServer>> started = WebServer::start(w, feed);
    if (!started) {
      // An address it cannot listen on is as much a usage error as one it cannot read.
      std::fprintf(stderr, "demodmon: --http: %s\n", started.error().cause.c_str());
      return kExitUsage;
    }
    web = std::move(*started);
    // An IPv6 address stands in brackets in a URL.
    const bool v6 = w.listen.find(':') != std::string::npos;
    std::fprintf(stderr, "demodmon: serving http://%s%s%s:%u/\n", v6 ? "[" : "", w.listen.c_str(),
                 v6 ? "]" : "", web->port());
  }

  SamplerOptions so;
  so.interval = o.interval;
  so.count = o.count;
  so.capture_every = o.capture_every;
  so.capture_dir = o.capture_dir;
  so.link = settings;
  std::vector<std::unique_ptr<Sampler>> samplers;
  for (const auto& b : o.boards) {
    samplers.push_back(std::make_unique<Sampler>(b, so, feed));
    samplers.back()->start();
  }

  const timespec watch{0, kWatchNanoseconds};
  while (!all_finished(samplers)) {
    if (sigtimedwait(&stop_signals, nullptr, &watch) > 0) break;
  }
  for (auto& s : samplers) s->stop();
  for (auto& s : samplers) s->join();
  if (web) web->stop();
  for (const auto& name : names) printer.summary(name, feed.counters(name));
  if (!output.finish(std::chrono::steady_clock::now() + kOutputDrainBound)) {
    // The writer is stuck in a write that may never return; nothing else is left to do.
    std::_Exit(0);
  }
  return 0;
}
