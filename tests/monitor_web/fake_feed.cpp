#include "monitor_web/fake_feed.h"

#include <algorithm>

namespace demodctl::monitor::testing {

void FakeFeed::publish(const BoardSample& sample) {
  {
    std::lock_guard lock(mutex_);
    history_[sample.board].push_back(sample);
    BoardCounters& counters = counters_[sample.board];
    ++counters.samples;
    if (!sample.connected) ++counters.failures;
  }
  for (const Listener& l : listeners()) l.sample(sample);
}

void FakeFeed::publish(const BoardEvent& event) {
  {
    std::lock_guard lock(mutex_);
    events_[event.board].push_back(event);
    if (event.kind == EventKind::lock_lost) ++counters_[event.board].lock_losses;
  }
  for (const Listener& l : listeners()) l.event(event);
}

void FakeFeed::publish(const CaptureRecord& capture) {
  {
    std::lock_guard lock(mutex_);
    captures_[capture.board] = capture;
  }
  for (const Listener& l : listeners()) l.capture(capture);
}

std::vector<std::string> FakeFeed::take_capture_requests() {
  std::lock_guard lock(mutex_);
  return std::exchange(capture_requests_, {});
}

int FakeFeed::subscribe(Listener listener) {
  std::lock_guard lock(mutex_);
  listeners_[next_id_] = std::move(listener);
  return next_id_++;
}

void FakeFeed::unsubscribe(int id) {
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

std::vector<BoardSample> FakeFeed::history(const std::string& board, size_t max) const {
  std::lock_guard lock(mutex_);
  const auto it = history_.find(board);
  if (it == history_.end()) return {};
  const std::vector<BoardSample>& all = it->second;
  return {all.end() - static_cast<std::ptrdiff_t>(std::min(max, all.size())), all.end()};
}

std::vector<BoardEvent> FakeFeed::events(const std::string& board) const {
  std::lock_guard lock(mutex_);
  const auto it = events_.find(board);
  return it == events_.end() ? std::vector<BoardEvent>{} : it->second;
}

std::optional<CaptureRecord> FakeFeed::latest_capture(const std::string& board) const {
  std::lock_guard lock(mutex_);
  const auto it = captures_.find(board);
  if (it == captures_.end()) return std::nullopt;
  return it->second;
}

BoardCounters FakeFeed::counters(const std::string& board) const {
  std::lock_guard lock(mutex_);
  const auto it = counters_.find(board);
  return it == counters_.end() ? BoardCounters{} : it->second;
}

bool FakeFeed::request_capture(const std::string& board) {
  if (std::find(boards_.begin(), boards_.end(), board) == boards_.end()) return false;
  std::lock_guard lock(mutex_);
  capture_requests_.push_back(board);
  return true;
}

std::vector<MonitorFeed::Listener> FakeFeed::listeners() const {
  std::lock_guard lock(mutex_);
  std::vector<Listener> out;
  for (const auto& [id, l] : listeners_) out.push_back(l);
  return out;
}

}  // namespace demodctl::monitor::testing
