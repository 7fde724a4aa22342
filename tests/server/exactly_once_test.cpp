// Pipelined requests against the real regserver: every complete request is performed on the bus
// exactly once (the trace) and answered exactly once, in order (the replies), whatever the shape of
// the byte stream; a READ_PERIOD shares the bus with the other connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/raw_client.h"
#include "support/process.h"

namespace demodctl {
namespace {

using test::Bytes;
using testing::ServerProcess;

constexpr int kDemod = 0xD0;
constexpr size_t kTransfersPerTurn = 16;  // the server's documented cap

template <typename... Args>
std::string text(const char* format, Args... args) {
  char out[64];
  std::snprintf(out, sizeof out, format, args...);
  return out;
}

// The trace's transactions as "read 0xREG N" / "write 0xREG BYTES".
std::vector<std::string> traced(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream lines(testing::read_file(path));
  for (std::string line; std::getline(lines, line);) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    const std::string op = j.value("op", ""), bytes = j.value("bytes", "");
    out.push_back(op + " " + j.value("reg", "") + " " +
                  (op == "write" ? bytes : std::to_string((bytes.size() + 1) / 3)));
  }
  return out;
}

// Reply frames as "OPCODE STATUS SEQ BODY_SIZE".
std::vector<std::string> replies(const Bytes& s) {
  std::vector<std::string> out;
  for (size_t at = 0, length = 0; at + 6 <= s.size(); at += 2 + length) {
    length = static_cast<size_t>(s[at] << 8 | s[at + 1]);
    out.push_back(
        text("%x %d %d %zu", s[at + 2], s[at + 3], s[at + 4] << 8 | s[at + 5], length - 4));
  }
  return out;
}

// "" when equal, else the first difference (the lists are too long to print whole).
std::string first_difference(const std::vector<std::string>& got,
                             const std::vector<std::string>& want) {
  const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (g == got.end() && w == want.end()) return "";
  return "at " + std::to_string(g - got.begin()) + ": got '" + (g == got.end() ? "none" : *g) +
         "', want '" + (w == want.end() ? "none" : *w) + "'";
}

struct Stream {
  std::string name;
  int requests;
  size_t max_piece;     // the stream goes out in random pieces of 1..max_piece bytes
  int reader_delay_ms;  // replies pile up meanwhile, so the server pauses with requests buffered
};
void PrintTo(const Stream& s, std::ostream* os) { *os << s.name; }

class Pipelining : public ::testing::TestWithParam<Stream> {};

TEST_P(Pipelining, EveryRequestPerformedOnceAndAnsweredInOrderThenFin) {
  const Stream& c = GetParam();
  const std::string trace = testing::make_temp_dir() + "/trace.jsonl";
  ServerProcess server({"--trace", trace, "--quiet"});
  ASSERT_TRUE(server.ready());
  std::mt19937 rng(8);
  Bytes stream = test::hello();
  std::vector<std::string> want_replies = {"81 0 0 18"};
  std::vector<std::string> want_bus;
  for (int i = 1; i <= c.requests; ++i) {
    const auto seq = static_cast<uint16_t>(i);
    Bytes q;
    if (const unsigned kind = rng() % 16; kind == 0) {  // a READ_PERIOD of 24 reads of 0xEF
      q = test::period(seq, 1, 1, 24, 5);
      want_replies.push_back(text("85 0 %d 24", seq));
      want_bus.insert(want_bus.end(), 24, "read 0xEF 1");
    } else if (kind < 7) {  // a WRITE of its own seq to one of 0x40..0x4F
      const int reg = 0x40 + i % 16;
      q = test::write(seq, 0, kDemod, reg, 2, {uint8_t(seq >> 8), uint8_t(seq)});
      want_replies.push_back(text("84 0 %d 0", seq));
      want_bus.push_back(text("write 0x%02X %02X %02X", reg, seq >> 8, seq & 0xFF));
    } else {
      const int reg = static_cast<int>(rng() % 256);
      const int count = 1 + static_cast<int>(rng() % 256);
      q = test::read(seq, 0, kDemod, reg, 1, count);
      want_replies.push_back(text("83 0 %d %d", seq, count));
      want_bus.push_back(text("read 0x%02X %d", reg, count));
    }
    stream.insert(stream.end(), q.begin(), q.end());
  }

  test::Raw conn(server.port(), nullptr, 4096);  // a small window keeps replies queued
  bool sent = true;
  std::thread sender([&] {
    for (size_t at = 0; at < stream.size() && sent;) {
      const size_t n = std::min<size_t>(1 + rng() % c.max_piece, stream.size() - at);
      sent = conn.send(stream.data() + at, n);
      at += n;
    }
    conn.finish_sending();  // FIN right behind the last request
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(c.reader_delay_ms));
  bool eof = false;
  const Bytes got = conn.recv(SIZE_MAX, &eof);
  sender.join();
  EXPECT_TRUE(sent);
  EXPECT_TRUE(eof) << "the server closes after the last reply";
  EXPECT_EQ(first_difference(replies(got), want_replies), "");
  server.stop();
  EXPECT_EQ(first_difference(traced(trace), want_bus), "");
  EXPECT_EQ(server.err(), "") << "--quiet";
}

INSTANTIATE_TEST_SUITE_P(Streams, Pipelining,
                         ::testing::Values(Stream{"byte_by_byte", 150, 1, 0},
                                           Stream{"random_pieces", 20000, 700, 0},
                                           Stream{"fin_while_paused", 3000, 65536, 300}),
                         [](const auto& tc) { return tc.param.name; });

TEST(Fairness, ReadPeriodLetsOtherConnectionsInWhateverItsBurst) {
  const std::string trace = testing::make_temp_dir() + "/trace.jsonl";
  ServerProcess server({"--trace", trace, "--quiet"});
  test::Raw capture(server.port());
  test::Raw other(server.port());
  ASSERT_TRUE(capture.send(test::hello()) && other.send(test::hello()));
  ASSERT_EQ(capture.head(), (Bytes{0x81, 0, 0, 0}));
  ASSERT_TRUE(capture.send(test::period(1, 1, 1, 65531, 65535)));  // 65531 reads of 0xEF
  constexpr int kReads = 200;
  Bytes reads;
  std::vector<std::string> want = {"81 0 0 18"};
  for (int i = 1; i <= kReads; ++i) {
    const Bytes q = test::read(static_cast<uint16_t>(i), 0, kDemod, 0x6C, 1, 4);
    reads.insert(reads.end(), q.begin(), q.end());
    want.push_back(text("83 0 %d 4", i));
  }
  ASSERT_TRUE(other.send(reads));
  EXPECT_EQ(replies(other.recv(24 + kReads * 10)), want);
  EXPECT_EQ(replies(capture.frame()), std::vector<std::string>{"85 0 1 65531"});
  server.stop();
  // While the other connection had requests waiting, the READ_PERIOD held the bus for at most
  // kTransfersPerTurn reads at a time, and it went on after the other was served.
  const std::vector<std::string> bus = traced(trace);
  const auto first = std::find(bus.begin(), bus.end(), "read 0x6C 4");
  const auto last = std::find(bus.rbegin(), bus.rend(), "read 0x6C 4").base();
  size_t run = 0;
  size_t longest = 0;
  for (auto it = first; it != last; ++it) {
    longest = std::max(longest, run = *it == "read 0xEF 1" ? run + 1 : 0);
  }
  EXPECT_LE(longest, kTransfersPerTurn);
  EXPECT_NE(std::find(last, bus.end(), "read 0xEF 1"), bus.end());
  EXPECT_EQ(std::count(bus.begin(), bus.end(), "read 0x6C 4"), kReads);
  EXPECT_EQ(std::count(bus.begin(), bus.end(), "read 0xEF 1"), 65531);
}

}  // namespace
}  // namespace demodctl
