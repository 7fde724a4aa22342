#include "monitor/feed_store.h"

#include <algorithm>

#include "demod/register_map.h"

namespace demodctl::monitor {
namespace {

bool in_service(const BoardSample& s) { return s.connected && reg::lock_fec.set_in(s.lock_status); }

}  // namespace

FeedStore::FeedStore(std::vector<std::string> boards) : names_(std::move(boards)) {
  for (const auto& name : names_) boards_[name];
}

std::vector<MonitorFeed::Listener> FeedStore::listeners_snapshot() const {
  std::vector<Listener> out;
  for (const auto& [id, listener] : listeners_) out.push_back(listener);
  return out;
}

void FeedStore::publish_sample(const BoardSample& sample) {
  std::vector<BoardEvent> events;
  std::vector<Listener> listeners;
  {
    const std::lock_guard lock(mutex_);
    const auto it = boards_.find(sample.board);
    if (it == boards_.end()) return;
    Board& b = it->second;
    ++b.counters.samples;
    if (!sample.connected) ++b.counters.failures;
    events = advance(b.track, sample);
    for (const auto& e : events) {
      if (e.kind == EventKind::lock_lost) ++b.counters.lock_losses;
      b.events.push_back(e);
      if (b.events.size() > kEventsKept) b.events.pop_front();
    }
    // An outage lasts from the first sample without lock (or connection) to the first with it
    // again; while it lasts, its length so far counts.
    if (!in_service(sample) && !b.outage_since) b.outage_since = sample.time;
    if (b.outage_since) {
      const auto length =
          std::chrono::duration_cast<std::chrono::milliseconds>(sample.time - *b.outage_since);
      b.counters.longest_outage = std::max(b.counters.longest_outage, length);
      if (in_service(sample)) b.outage_since.reset();
    }
    b.samples.push_back(sample);
    if (b.samples.size() > kHistorySamples) b.samples.pop_front();
    listeners = listeners_snapshot();
  }
  for (const auto& l : listeners) {
    if (l.sample) l.sample(sample);
  }
  for (const auto& e : events) {
    for (const auto& l : listeners) {
      if (l.event) l.event(e);
    }
  }
}

void FeedStore::publish_capture(const CaptureRecord& capture) {
  std::vector<Listener> listeners;
  {
    const std::lock_guard lock(mutex_);
    const auto it = boards_.find(capture.board);
    if (it == boards_.end()) return;
    it->second.capture = capture;
    listeners = listeners_snapshot();
  }
  for (const auto& l : listeners) {
    if (l.capture) l.capture(capture);
  }
}

void FeedStore::publish_capture_failure(const std::string& board, WallTime time,
                                        const std::string& reason) {
  const BoardEvent event{board, time, EventKind::capture_failed, reason};
  std::vector<Listener> listeners;
  {
    const std::lock_guard lock(mutex_);
    const auto it = boards_.find(board);
    if (it == boards_.end()) return;
    Board& b = it->second;
    ++b.counters.capture_failures;
    b.events.push_back(event);
    if (b.events.size() > kEventsKept) b.events.pop_front();
    listeners = listeners_snapshot();
  }
  for (const auto& l : listeners) {
    if (l.event) l.event(event);
  }
}

bool FeedStore::take_capture_request(const std::string& board) {
  const std::lock_guard lock(mutex_);
  const auto it = boards_.find(board);
  return it != boards_.end() && std::exchange(it->second.capture_requested, false);
}

int FeedStore::subscribe(Listener listener) {
  const std::lock_guard lock(mutex_);
  listeners_[next_id_] = std::move(listener);
  return next_id_++;
}

void FeedStore::unsubscribe(int id) {
  const std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

std::vector<std::string> FeedStore::boards() const { return names_; }

std::vector<BoardSample> FeedStore::history(const std::string& board, size_t max) const {
  const std::lock_guard lock(mutex_);
  const auto it = boards_.find(board);
  if (it == boards_.end()) return {};
  const auto& s = it->second.samples;
  const size_t n = std::min(max, s.size());
  return {s.end() - static_cast<std::ptrdiff_t>(n), s.end()};
}

std::vector<BoardEvent> FeedStore::events(const std::string& board) const {
  const std::lock_guard lock(mutex_);
  const auto it = boards_.find(board);
  if (it == boards_.end()) return {};
  return {it->second.events.begin(), it->second.events.end()};
}

std::optional<CaptureRecord> FeedStore::latest_capture(const std::string& board) const {
  const std::lock_guard lock(mutex_);
  const auto it = boards_.find(board);
  return it == boards_.end() ? std::nullopt : it->second.capture;
}

BoardCounters FeedStore::counters(const std::string& board) const {
  const std::lock_guard lock(mutex_);
  const auto it = boards_.find(board);
  return it == boards_.end() ? BoardCounters{} : it->second.counters;
}

bool FeedStore::request_capture(const std::string& board) {
  const std::lock_guard lock(mutex_);
  const auto it = boards_.find(board);
  if (it == boards_.end()) return false;
  it->second.capture_requested = true;
  return true;
}

}  // namespace demodctl::monitor
