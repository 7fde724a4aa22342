#include "monitor/sampler.h"

#include <cstdio>

#include "monitor/board_link.h"
#include "monitor/capture_taker.h"
#include "monitor/sample_reader.h"

namespace demodctl::monitor {
namespace {

using Clock = std::chrono::steady_clock;

void say(const std::string& board, const std::string& text) {
  std::fprintf(stderr, "demodmon: %s: %s\n", board.c_str(), text.c_str());
}

std::string seconds_text(std::chrono::milliseconds ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms.count()) / 1000.0);
  return text;
}

}  // namespace

Sampler::Sampler(BoardTarget target, const SamplerOptions& options, FeedStore& feed)
    : target_(std::move(target)), options_(options), feed_(feed) {}

Sampler::~Sampler() {
  stop();
  join();
}

void Sampler::start() {
  thread_ = std::thread([this] { run(); });
}

void Sampler::stop() {
  const std::lock_guard lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
}

void Sampler::join() {
  if (thread_.joinable()) thread_.join();
}

bool Sampler::finished() const {
  const std::lock_guard lock(mutex_);
  return finished_;
}

bool Sampler::wait_until(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  wake_.wait_until(lock, until, [this] { return stopping_; });
  return !stopping_;
}

void Sampler::run() {
  BoardLink link(target_, options_.link);
  bool ever_up = false;
  bool reported_down = false;
  auto retry = kFirstRetry;
  Clock::time_point next_attempt{};
  auto tick = Clock::now();
  for (uint64_t index = 1; options_.count == 0 || index <= options_.count; ++index) {
    BoardSample sample;
    sample.board = target_.name;
    sample.index = index;
    if (!link.up() && Clock::now() >= next_attempt) {
      if (link.open()) {
        if (reported_down) say(target_.name, "connected again");
        ever_up = true;
        reported_down = false;
        retry = kFirstRetry;
      } else {
        next_attempt = Clock::now() + retry;
        if (!reported_down) {
          say(target_.name, std::string(ever_up ? "connection lost" : "cannot connect") +
                                "; retrying after " + seconds_text(retry) + ", doubling up to " +
                                seconds_text(kLongestRetry));
        }
        reported_down = true;
        retry = std::min(retry * 2, kLongestRetry);
      }
    }
    sample.time = std::chrono::system_clock::now();
    if (link.up()) {
      read_sample(link.bus(), sample);
      if (!sample.connected && !link.up()) {
        link.close();
        next_attempt = Clock::now() + retry;
        if (!reported_down) say(target_.name, "connection lost (" + sample.failure + ")");
        reported_down = true;
      }
    } else {
      sample.connected = false;
      sample.failure = "no connection";
    }
    feed_.publish_sample(sample);

    const bool due = options_.capture_every != 0 && index % options_.capture_every == 0;
    if (sample.connected && (feed_.take_capture_request(target_.name) || due)) {
      const auto capture = take_capture(link.bus(), sample, options_.capture_dir);
      if (capture) {
        feed_.publish_capture(*capture);
      } else {
        const std::string& failure = capture.error().cause;
        say(target_.name, "capture failed: " + failure);
        feed_.publish_capture_failure(target_.name, std::chrono::system_clock::now(), failure);
      }
    }

    if (options_.count != 0 && index == options_.count) break;
    // The next tick on the interval's grid; ticks missed by a slow read are skipped, not made up.
    tick += options_.interval;
    const auto now = Clock::now();
    while (tick < now) tick += options_.interval;
    if (!wait_until(tick)) break;
  }
  const std::lock_guard lock(mutex_);
  finished_ = true;
}

}  // namespace demodctl::monitor
