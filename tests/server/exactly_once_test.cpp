// Pipelined requests against the real regserver: every complete request is performed on the bus
// exactly once (the trace) and answered exactly once, in order (the replies), whatever the shape of
// the byte stream; a READ_PERIOD shares the bus with the other connections.
#include <gtest/gtest.h>

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

// The trace's transactions as "read REG N" / "write REG BYTES".
std::vector<std::string> traced(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream lines(testing::read_file(path));
  for (std::string line; std::getline(lines, line);) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    const std::string bytes = j.value("bytes", "");
    out.push_back(j.value("op", "") + " " + j.value("reg", "") + " " +
                  (j.value("op", "") == "write" ? bytes : std::to_string((bytes.size() + 1) / 3)));
  }
  return out;
}

// Replies as "OPCODE STATUS SEQ BODY_SIZE".
std::string reply_text(int op, int status, int seq, size_t body) {
  return std::to_string(op) + " " + std::to_string(status) + " " + std::to_string(seq) + " " +
         std::to_string(body);
}
std::vector<std::string> replies(const Bytes& stream) {
  std::vector<std::string> out;
  for (size_t at = 0; at + 6 <= stream.size();) {
    const size_t length = static_cast<size_t>(stream[at] << 8 | stream[at + 1]);
    out.push_back(reply_text(stream[at + 2], stream[at + 3], stream[at + 4] << 8 | stream[at + 5],
                             length - 4));
    at += 2 + length;
  }
  return out;
}

// "" when equal, else the first index that differs (the lists are too long to print whole).
std::string first_difference(const std::vector<std::string>& got,
                             const std::vector<std::string>& want) {
  for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    const std::string g = i < got.size() ? got[i] : "(none)";
    const std::string w = i < want.size() ? want[i] : "(none)";
    if (g != w) return "at " + std::to_string(i) + ": got '" + g + "', want '" + w + "'";
  }
  return "";
}

std::string hex2(int v) {
  static const char* digits = "0123456789ABCDEF";
  return std::string{digits[(v >> 4) & 15], digits[v & 15]};
}

struct Stream {
  std::string name;
  int requests;
  size_t max_piece;     // the stream goes out in random pieces of 1..max_piece bytes
  int reader_delay_ms;  // replies pile up meanwhile, so the server pauses with requests buffered
  int window;  // the client's receive buffer (0: the system's), small to keep replies queued
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
  std::vector<std::string> want_replies = {reply_text(0x81, 0, 0, 18)};
  std::vector<std::string> want_bus;
  for (int i = 1; i <= c.requests; ++i) {
    const auto seq = static_cast<uint16_t>(i);
    Bytes q;
    if (const unsigned kind = rng() % 16; kind == 0) {  // a READ_PERIOD of 24 reads of 0xEF
      q = test::period(seq, 1, 1, 24, 5);
      want_replies.push_back(reply_text(0x85, 0, seq, 24));
      want_bus.insert(want_bus.end(), 24, "read 0xEF 1");
    } else if (kind < 7) {  // a WRITE of its own seq to one of 0x40..0x4F
      const int reg = 0x40 + i % 16;
      q = test::write(seq, 0, kDemod, reg, 2, {uint8_t(seq >> 8), uint8_t(seq)});
      want_replies.push_back(reply_text(0x84, 0, seq, 0));
      want_bus.push_back("write 0x" + hex2(reg) + " " + hex2(seq >> 8) + " " + hex2(seq));
    } else {
      const int reg = static_cast<int>(rng() % 256);
      const int count = 1 + static_cast<int>(rng() % 256);
      q = test::read(seq, 0, kDemod, reg, 1, count);
      want_replies.push_back(reply_text(0x83, 0, seq, static_cast<size_t>(count)));
      want_bus.push_back("read 0x" + hex2(reg) + " " + std::to_string(count));
    }
    stream.insert(stream.end(), q.begin(), q.end());
  }

  test::Raw conn(server.port(), nullptr, c.window);
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
}

INSTANTIATE_TEST_SUITE_P(Streams, Pipelining,
                         ::testing::Values(Stream{"byte_by_byte", 150, 1, 0, 0},
                                           Stream{"random_pieces", 20000, 700, 0, 0},
                                           Stream{"fin_while_paused", 3000, 65536, 300, 4096}),
                         [](const auto& tc) { return tc.param.name; });

TEST(Fairness, ReadPeriodLetsOtherConnectionsInWhateverItsBurst) {
  const std::string trace = testing::make_temp_dir() + "/trace.jsonl";
  ServerProcess server({"--trace", trace, "--quiet"});
  test::Raw capture(server.port());
  test::Raw other(server.port());
  ASSERT_TRUE(capture.send(test::hello()) && other.send(test::hello()));
  ASSERT_EQ(capture.head(), (Bytes{0x81, 0, 0, 0}));
  ASSERT_EQ(other.head(), (Bytes{0x81, 0, 0, 0}));
  ASSERT_TRUE(capture.send(test::period(1, 1, 1, 65531, 65535)));  // 65531 reads of 0xEF
  constexpr int kReads = 200;
  Bytes reads;
  for (int i = 1; i <= kReads; ++i) {
    const Bytes q = test::read(static_cast<uint16_t>(i), 0, kDemod, 0x6C, 1, 4);
    reads.insert(reads.end(), q.begin(), q.end());
  }
  ASSERT_TRUE(other.send(reads));
  for (int i = 1; i <= kReads; ++i) ASSERT_EQ(other.head(), (Bytes{0x83, 0, 0, uint8_t(i)}));
  const Bytes period = capture.frame();
  EXPECT_EQ(period.size(), 6U + 65531U);
  EXPECT_EQ(Bytes(period.begin() + 2, period.begin() + 6), (Bytes{0x85, 0, 0, 1}));
  server.stop();
  // While the other connection had requests waiting, the READ_PERIOD held the bus for at most
  // kTransfersPerTurn reads at a time.
  const std::vector<std::string> bus = traced(trace);
  const auto first = std::find(bus.begin(), bus.end(), "read 0x6C 4");
  const auto last = std::find(bus.rbegin(), bus.rend(), "read 0x6C 4").base();
  size_t run = 0;
  size_t longest = 0;
  for (auto it = first; it != last; ++it) {
    run = *it == "read 0xEF 1" ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  EXPECT_LE(longest, kTransfersPerTurn);
  EXPECT_NE(std::find(last, bus.end(), "read 0xEF 1"), bus.end()) << "served after the period";
  EXPECT_EQ(std::count(bus.begin(), bus.end(), "read 0x6C 4"), kReads);
  EXPECT_EQ(std::count(bus.begin(), bus.end(), "read 0xEF 1"), 65531);
}

}  // namespace
}  // namespace demodctl
