// regserver: the I2C transactions of each request on a recording bus, which peers --allow admits,
// then the real regserver on its default simulated board (demodulator at 0xD0, identity
// 01 00 36 31) through the client and raw sockets: statuses, refusals, timers, the log, socket
// activation, and pipelined requests each performed on the bus exactly once (the trace) and
// answered once, in order; the log's own rules on a pipe and a fake clock.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "bus/reg_client.h"
#include "net/allow_list.h"
#include "option_values/option_values.h"
#include "protocol/wire.h"
#include "server/frames.h"
#include "server/register_ops.h"
#include "server/server.h"
#include "server/server_log.h"
#include "support/process.h"
#include "support/recording_backends.h"
#include "support/temp_dir.h"

namespace demodctl {
namespace {

using namespace wire;
using test::Bytes;
using test::Raw;
using testing::ServerProcess;

constexpr int kDemod = 208;           // 8-bit address byte 0xD0
const Bytes kHelloOk{0x81, 0, 0, 0};  // reply head of test::hello()
const Bytes kRead = test::read(1, 0, kDemod, 0x6C, 1, 4);
const Bytes kReadOk{0x83, 0, 0, 1};

using testing::RecordingBus;

TEST(RegisterOps, PeriodReadYieldsAfterBurstOrBudget) {
  Request q = decode_request(test::period(1, 1, 1, 5, 1)).request;  // 5 reads of 0xEF
  // {burst, budget per call} -> reads per call
  for (const auto& [burst, budget, reads] : std::vector<std::tuple<int, size_t, std::string>>{
           {2, 16, "2 2 1 "}, {65535, 2, "2 2 1 "}, {3, 16, "3 2 "}}) {
    RecordingBus bus;
    q.burst = static_cast<uint16_t>(burst);
    PeriodRead read(q, /*read_only=*/false);
    std::string seen;
    for (bool done = false; !done && seen.size() < 20;) {
      size_t left = budget;
      done = read.run(bus, left).has_value();
      seen += std::to_string(budget - left) + " ";
    }
    EXPECT_EQ(seen, reads) << burst;
    EXPECT_EQ(bus.log, std::vector<std::string>(5, "68: EF -> 1"));
  }
}

// A read-only server puts no data byte on the bus: not a WRITE's, nor the second byte of a
// two-byte register address, which a device with one-byte registers takes as data (0x2E01 holds
// the demodulator in reset, 0x2D01 opens the tuner repeater). Refused requests make no transfer.
// A two-byte register address goes out high byte first.
TEST(RegisterOps, ReadOnlyRefusesEveryDataByte) {
  const std::tuple<Bytes, bool, std::string> cases[] = {
      // request, read-only, its transactions ("" with status READ_ONLY)
      {test::write(1, 0, kDemod, 0x40, 1, {7}), true, ""},
      {test::write(1, 0, kDemod, 0x40, 0, {}), true, ""},
      {test::read(1, 0, kDemod, 0x2E01, 2, 1), true, ""},
      {test::period(1, 2, 1, 2, 5), true, ""},  // register 0x00EF, two bytes wide
      {test::read(1, 0, kDemod, 0x2E01, 2, 1), false, "68: 2E 01 -> 1"},
      {test::read(1, 0, 0xD1, 0x2C, 1, 1), true, "68: 2C -> 1"},  // the R/W bit dropped
      {test::period(1, 1, 1, 2, 5), true, "68: EF -> 1; 68: EF -> 1"},
  };
  for (const auto& [bytes, read_only, transactions] : cases) {
    const DecodeResult r = decode_request(bytes);
    ASSERT_EQ(r.outcome, DecodeOutcome::kRequest);
    RecordingBus bus;
    size_t budget = SIZE_MAX;
    const RequestResult out = r.request.op == Opcode::kReadPeriod
                                  ? *PeriodRead(r.request, read_only).run(bus, budget)
                                  : perform(bus, r.request, read_only);
    const bool refused = transactions.empty();
    EXPECT_EQ(out.reply.at(3), static_cast<uint8_t>(refused ? Status::kReadOnly : Status::kOk))
        << testing::hex(bytes.data(), bytes.size());
    EXPECT_EQ(out.refused, refused);
    EXPECT_EQ(bus.log, testing::split(transactions));
  }
}

TEST(AllowList, PrefixesOfBothFamilies) {
  const auto admits = [](const AllowList& list, const char* peer) {
    uint8_t bytes[16];
    if (inet_pton(AF_INET, peer, bytes) == 1) return list.admits({bytes, 4});
    return inet_pton(AF_INET6, peer, bytes) == 1 && list.admits({bytes, 16});
  };
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // network, a peer inside, a peer outside
      {"198.51.100.7/22", "198.51.103.255", "198.51.104.0"},
      {"127.0.0.1", "::ffff:127.0.0.1", "127.0.0.2"},
      {"0.0.0.0/0", "203.0.113.9", "::1"},
      {"2001:db8::/33", "2001:db8:7fff::1", "2001:db8:8000::"},
      {"192.0.2.1/32", "192.0.2.1", "192.0.2.0"},  // the longest prefixes: one host
      {"::1/128", "::1", "::ffff:0.0.0.1"},
      {"::ffff:127.0.0.1", "127.0.0.1", "127.0.0.2"},  // IPv4-mapped entries are IPv4 networks
      {"::ffff:127.0.0.0/104", "127.9.9.9", "::ffff:128.0.0.0"},
  };
  for (const auto& [net, in, out] : cases) {
    AllowList list;
    const Result<void> added = list.add(net);
    ASSERT_TRUE(added) << added.error().cause;
    EXPECT_TRUE(admits(list, in)) << net << " " << in;
    EXPECT_FALSE(admits(list, out)) << net << " " << out;
  }
  EXPECT_TRUE(admits(AllowList(), "203.0.113.9")) << "an empty list admits every peer";
  EXPECT_FALSE(AllowList().add("::ffff:127.0.0.1/95")) << "no IPv4 form";
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
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
        testing::fmt("%x %d %d %zu", s[at + 2], s[at + 3], s[at + 4] << 8 | s[at + 5], length - 4));
  }
  return out;
}

// Each refused or failed request is logged with its cause and its peer, the time in front; a
// peer's first refusal at once, those after it in the period counted and told at the stop.
TEST(Regserver, EveryRefusedRequestLoggedWithItsCauseAndPeer) {
  ServerProcess server({"--read-only"});
  const std::tuple<const char*, Bytes, Status, std::string> cases[] = {
      // peer, request, its status, its log line up to the peer's port
      {"127.0.0.3", test::read(1, 1, 464, 0x6C, 1, 4), Status::kBadAddress,
       "read of channel 1, device 464, register 0x6C refused: BAD_ADDRESS (client 127.0.0.3:"},
      {"127.0.0.4", test::read(1, 0, 0xC0, 0x00, 1, 1), Status::kNack,
       "read of channel 0, device 0xC0, register 0x00 failed: NACK (client 127.0.0.4:"},
      {"127.0.0.5", test::write(1, 0, kDemod, 0x40, 1, {7}), Status::kReadOnly,
       "write of channel 0, device 0xD0, register 0x40 refused: READ_ONLY (client 127.0.0.5:"},
      {"127.0.0.6", test::read(1, 0, kDemod, 0x6C, 3, 1), Status::kBadParam,
       "read request refused: BAD_PARAM, reg_len must be 1 or 2 (client 127.0.0.6:"},
  };
  const auto quoted = [](const std::string& text) {  // as a regular expression
    std::string out;
    for (const char c : text) (std::strchr(".()[]{}*+?|^$\\", c) ? out += '\\' : out) += c;
    return out;
  };
  const std::string at = "[0-9-]{10}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z regserver: ";
  std::string want, told;
  size_t closed = 0;
  for (const auto& [peer, request, status, line] : cases) {
    {
      Raw conn(server.port(), peer);
      ASSERT_TRUE(conn.send(test::hello()) && conn.send(request) && conn.send(request));
      ASSERT_EQ(conn.head(), kHelloOk);
      EXPECT_EQ(conn.head().at(1), static_cast<uint8_t>(status)) << line;
      EXPECT_EQ(conn.head().at(1), static_cast<uint8_t>(status)) << line;
    }
    // The close is logged before the next peer comes.
    ASSERT_TRUE(testing::eventually([&] { return count_of(server.err(), " (peer)\n") > closed; }));
    ++closed;
    const std::string peer_port = quoted(peer) + ":[0-9]+";
    want += at + "accepted " + peer_port + " \\(1 of 16\\)\n" + at + quoted(line) + "[0-9]+\\)\n" +
            at + "closed " + peer_port + " \\(peer\\)\n";
    told += at + "refused " + quoted(peer) + " 1 more time in 10 s \\(not logged one by one\\)\n";
  }
  EXPECT_EQ(server.stop(), 0);
  EXPECT_THAT(server.err(), ::testing::MatchesRegex(want + told));
}

// A name is resolved and listened on at every address it has, on one port; an IPv6 address is
// printed in brackets. Loopback addresses (also IPv4-mapped ones) need no warning.
TEST(Regserver, ListensOnEveryAddressOfAName) {
  for (const char* loopback : {"127.9.9.9", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(is_loopback_address(loopback)) << loopback;
  }
  EXPECT_FALSE(is_loopback_address("::ffff:192.0.2.1"));
  ServerProcess server({"--listen", "localhost"});
  ASSERT_TRUE(server.ready());
  const std::string port = server.port_text();
  EXPECT_THAT(server.out(),
              ::testing::MatchesRegex("(listening on (127.0.0.1|\\[::1\\]):" + port + "\n)+"));
  EXPECT_EQ(count_of(server.out(), "listening on 127.0.0.1:" + port + "\n"), 1U);
  for (const char* address : {"127.0.0.1", "::1"}) {
    if (server.out().find(address) == std::string::npos) continue;  // a host without IPv6
    RegClient client;
    EXPECT_TRUE(client.connect(address, server.port())) << address;
  }
  EXPECT_EQ(server.err().find("warning"), std::string::npos) << server.err();
}

// Option values at the ends of their ranges (--port, --max-clients, --idle-timeout), and a
// parser's message of several lines made one.
TEST(OptionValues, EachParserTakesItsMinAndMaxNotPast) {
  const struct {
    bool decimal;  // decimal_number, else whole_number
    const char* text;
    double min, max;
    bool taken;
  } cases[] = {
      {false, "0", 0, 65535, true},          {false, "65535", 0, 65535, true},
      {false, "65536", 0, 65535, false},     {false, "0", 1, 1024, false},
      {false, "1024", 1, 1024, true},        {false, "1025", 1, 1024, false},
      {true, "0.0009", 0.001, 86400, false}, {true, "0.001", 0.001, 86400, true},
      {true, "86400", 0.001, 86400, true},   {true, "86400.001", 0.001, 86400, false},
  };
  for (const auto& k : cases) {
    const bool taken =
        k.decimal ? decimal_number(k.text, k.min, k.max).has_value()
                  : whole_number(k.text, static_cast<uint64_t>(k.min), static_cast<uint64_t>(k.max))
                        .has_value();
    EXPECT_EQ(taken, k.taken) << k.text << " in " << k.min << ".." << k.max;
  }
  EXPECT_EQ(one_line("--port: bad\nvalue\n\n"), "--port: bad value");
}

TEST(Regserver, BadStartsExitWithOneLine) {
  ServerProcess taken;
  const testing::Calls lines = testing::split(
      "--bogus; --port 70000; --sim --i2c-dev; --max-clients 0; --hello-grace 0; "
      "--hello-grace nan; --idle-timeout nan; --idle-timeout 1e1; --max-clients 0x10; "
      "--port 0x50; --allow 127.0.0.1/33; --allow ::1/129; --allow localhost; "
      "--listen nosuch.invalid; --scenario /nonexistent.json; x; --trace /nonexistent/t.jsonl; "
      "--port " +
      taken.port_text());  // in use, the last: exit 1, the others 2
  for (const std::string& line : lines) {
    const testing::ProcResult r = testing::run_process(
        {"/bin/sh", "-c", "exec '" REGSERVER_BIN "' " + line}, {}, test::kWaitMs);
    EXPECT_EQ(r.status, line == lines.back() ? 1 : 2) << line;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "") << line;
  }
}

// The hello grace and the idle timer; over the connection cap, or from a peer --allow does not
// admit: the refusal, then the close.
TEST(Regserver, GraceAndIdleTimersAndRefusedConnections) {
  ServerProcess server({"--idle-timeout", "0.4", "--hello-grace", "0.25", "--max-clients", "4",
                        "--allow", "127.0.0.1", "--allow", "127.0.0.3"});
  Raw stranger(server.port(), "127.0.0.2");
  EXPECT_EQ(stranger.head(), (Bytes{0x81, 12, 0, 0}));  // NOT_ALLOWED
  EXPECT_TRUE(stranger.closed());
  Raw silent(server.port());  // never greets
  Raw hog(server.port());     // keeps sending, never greets
  Raw steady(server.port());  // greets, then a request every 150 ms
  Raw half(server.port());    // greets, then a frame never completed
  Raw busy(server.port(), "127.0.0.3");
  ASSERT_TRUE(steady.send(test::hello()) && half.send(test::hello()));
  EXPECT_EQ(busy.head(), (Bytes{0x81, 9, 0, 0}));  // BUSY
  EXPECT_TRUE(busy.closed());
  ASSERT_EQ(steady.frame(),
            (Bytes{0x00, 0x16, 0x81, 0x00, 0x00, 0x00, 'D',  'M',  'R',  'S',  0x00, 0x01,
                   0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFB, 0x00, 0x10}));
  ASSERT_EQ(half.head(), kHelloOk);
  ASSERT_TRUE(half.send({0x00, 0x11, 0x03}));
  for (uint8_t i = 1; i <= 6; ++i) {  // 0.9 s: over twice the idle timeout
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    hog.send(test::read(i, 0, kDemod, 0x6C, 1, 4));
    ASSERT_TRUE(steady.send(test::read(i, 0, kDemod, 0x6C, 1, 4)));
    EXPECT_EQ(steady.head(), (Bytes{0x83, 0, 0, i})) << "the idle timer restarts per request";
  }
  for (Raw* idle : {&silent, &hog, &half}) EXPECT_TRUE(idle->closed());
  EXPECT_EQ(server.stop(), 0);
  const std::string log = server.err();
  // The hog's request before HELLO is the first refusal of the peer; the graces and whatever more
  // the hog sent before its grace ran out (that depends on the scheduling) counted after it and
  // told at the stop.
  EXPECT_EQ(count_of(log, " refused: NEED_HELLO (client 127.0.0.1:"), 1U) << log;
  EXPECT_THAT(log, ::testing::ContainsRegex(" regserver: refused 127.0.0.1 [0-9]+ more times in "));
  EXPECT_NE(log.find(" (idle)\n"), std::string::npos) << log;
  for (const std::string line : {"refused 127.0.0.3:", ": BUSY (4 connections)\n",
                                 "refused 127.0.0.2:", ": NOT_ALLOWED\n"}) {
    EXPECT_EQ(count_of(log, line), 1U) << line << "\n" << log;
  }
}

// A READ_PERIOD being performed is not idleness, however much longer than --idle-timeout it runs
// (the trace slows each read down).
TEST(Regserver, ReadPeriodLongerThanTheIdleTimeoutIsAnswered) {
  const testing::TempDir dir;
  ServerProcess server({"--idle-timeout", "0.05", "--trace", dir.path() + "/t.jsonl", "--quiet"});
  Raw conn(server.port());
  constexpr int kPeriodReads = 65000;
  ASSERT_TRUE(conn.send(test::hello()) && conn.send(test::period(1, 1, 1, kPeriodReads, 65535)));
  ASSERT_EQ(conn.head(), kHelloOk);
  EXPECT_EQ(replies(conn.frame()),
            std::vector<std::string>{testing::fmt("85 0 1 %d", kPeriodReads)});
}

TEST(Regserver, ErrorRepliesKeepOrEndTheConnection) {
  ServerProcess server;
  Raw kept(server.port());  // NEED_HELLO, UNKNOWN_OP (reply opcode 0xC2), BAD_FRAME: still served
  for (const Bytes& b : {test::read(5, 0, kDemod, 0, 1, 1), test::hello(),
                         test::frame(0x42, 7, {{1, 3}}), test::frame(0x03, 8, {{0, 3}}), kRead}) {
    ASSERT_TRUE(kept.send(b));
  }
  for (const Bytes& head :
       {Bytes{0x83, 5, 0, 5}, kHelloOk, Bytes{0xC2, 3, 0, 7}, Bytes{0x83, 2, 0, 8}, kReadOk}) {
    EXPECT_EQ(kept.head(), head);
  }
  const std::pair<Bytes, Bytes> ending[] = {
      {{0xFF, 0xFF, 0x03, 0x00}, {0x80, 0x08, 0, 0}},                // length over the limit
      {test::frame(0x01, 3, {{0, 4}, {1, 2}}), {0x81, 0x02, 0, 3}},  // bad magic
      {test::hello(2), {0x81, 0x04, 0, 0}},                          // bad version
  };
  for (const auto& [bytes, head] : ending) {
    Raw bad(server.port());
    ASSERT_TRUE(bad.send(bytes) && bad.send(kRead));
    EXPECT_EQ(bad.head(), head);
    bool eof = false;
    EXPECT_EQ(bad.recv(SIZE_MAX, &eof), Bytes{}) << "the request behind is not answered";
    EXPECT_TRUE(eof);
  }
  ASSERT_TRUE(kept.send(kRead));
  EXPECT_EQ(kept.head(), kReadOk);
}

// Whatever the shape of the byte stream: out in random pieces of 1..max_piece bytes, with the
// replies left unread for reader_delay_ms (the server pauses with requests buffered), and a FIN
// right behind the last request.
TEST(Pipelining, EveryRequestPerformedOnceAndAnsweredInOrderThenFin) {
  const std::tuple<int, size_t, int> streams[] = {{150, 1, 0}, {20000, 700, 0}, {3000, 65536, 300}};
  for (const auto& [requests, max_piece, reader_delay_ms] : streams) {
    const testing::TempDir dir;
    ServerProcess server({"--trace", dir / "trace.jsonl", "--quiet"});
    ASSERT_TRUE(server.ready());
    std::mt19937 rng(8);
    Bytes stream = test::hello();
    std::vector<std::string> want_replies = {"81 0 0 18"}, want_bus;
    for (int i = 1; i <= requests; ++i) {
      const auto seq = static_cast<uint16_t>(i);
      Bytes q;
      if (const unsigned kind = rng() % 16; kind == 0) {  // a READ_PERIOD of 24 reads of 0xEF
        q = test::period(seq, 1, 1, 24, 5);
        want_replies.push_back(testing::fmt("85 0 %d 24", seq));
        want_bus.insert(want_bus.end(), 24, "read 0xEF 1");
      } else if (kind < 7) {  // a WRITE of its own seq to one of 0x40..0x4F
        const int reg = 0x40 + i % 16;
        q = test::write(seq, 0, kDemod, reg, 2, {uint8_t(seq >> 8), uint8_t(seq)});
        want_replies.push_back(testing::fmt("84 0 %d 0", seq));
        want_bus.push_back(testing::fmt("write 0x%02X %02X %02X", reg, seq >> 8, seq & 0xFF));
      } else {
        const int reg = static_cast<int>(rng() % 256);
        const int count = 1 + static_cast<int>(rng() % 256);
        q = test::read(seq, 0, kDemod, reg, 1, count);
        want_replies.push_back(testing::fmt("83 0 %d %d", seq, count));
        want_bus.push_back(testing::fmt("read 0x%02X %d", reg, count));
      }
      stream.insert(stream.end(), q.begin(), q.end());
    }
    Raw conn(server.port(), nullptr, 4096);  // a small window keeps replies queued
    bool sent = true;
    std::thread sender([&, max_piece = max_piece] {
      for (size_t at = 0; at < stream.size() && sent;) {
        const size_t n = std::min<size_t>(1 + rng() % max_piece, stream.size() - at);
        sent = conn.send(stream.data() + at, n);
        at += n;
      }
      conn.finish_sending();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(reader_delay_ms));
    bool eof = false;
    const Bytes got = conn.recv(SIZE_MAX, &eof);
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(eof) << "the server closes after the last reply";
    EXPECT_TRUE(replies(got) == want_replies) << requests;
    server.stop();
    EXPECT_TRUE(traced(dir / "trace.jsonl") == want_bus) << requests;
    EXPECT_EQ(server.err(), "") << "--quiet";
  }
}

// While another connection has requests waiting, a READ_PERIOD holds the bus for at most 16 reads
// at a time (the server's cap), whatever its burst, and goes on after the other is served.
TEST(Fairness, ReadPeriodLetsOtherConnectionsInWhateverItsBurst) {
  const testing::TempDir dir;
  ServerProcess server({"--trace", dir / "trace.jsonl", "--quiet"});
  Raw capture(server.port());
  Raw other(server.port());
  ASSERT_TRUE(capture.send(test::hello()) && other.send(test::hello()));
  ASSERT_EQ(capture.head(), kHelloOk);
  // 16384 reads of 0xEF, far more than the other's 200 requests need to be served between them
  // (and few enough to be done within the wait of a loaded sanitizer build), in bursts of 65535.
  constexpr int kPeriodReads = 16384;
  ASSERT_TRUE(capture.send(test::period(1, 1, 1, kPeriodReads, 65535)));
  constexpr int kReads = 200;
  Bytes reads;
  std::vector<std::string> want = {"81 0 0 18"};
  for (int i = 1; i <= kReads; ++i) {
    const Bytes q = test::read(static_cast<uint16_t>(i), 0, kDemod, 0x6C, 1, 4);
    reads.insert(reads.end(), q.begin(), q.end());
    want.push_back(testing::fmt("83 0 %d 4", i));
  }
  ASSERT_TRUE(other.send(reads));
  EXPECT_EQ(replies(other.recv(24 + kReads * 10)), want);
  EXPECT_EQ(replies(capture.frame()),
            std::vector<std::string>{testing::fmt("85 0 1 %d", kPeriodReads)});
  server.stop();
  const std::vector<std::string> bus = traced(dir / "trace.jsonl");
  const auto first = std::find(bus.begin(), bus.end(), "read 0x6C 4");
  const auto last = std::find(bus.rbegin(), bus.rend(), "read 0x6C 4").base();
  size_t run = 0, longest = 0;
  for (auto it = first; it != last; ++it) {
    longest = std::max(longest, run = *it == "read 0xEF 1" ? run + 1 : 0);
  }
  EXPECT_LE(longest, 16U);
  EXPECT_NE(std::find(last, bus.end(), "read 0xEF 1"), bus.end());
  EXPECT_EQ(std::count(bus.begin(), bus.end(), "read 0x6C 4"), kReads);
  EXPECT_EQ(std::count(bus.begin(), bus.end(), "read 0xEF 1"), kPeriodReads);
}

// regserver started the way a service manager starts it: a listening socket on descriptor 3,
// LISTEN_FDS and LISTEN_PID naming the count and the process meant to take it. systemd's own
// launcher hands the socket over and execs, on the first connection, a shell that spoils one
// thing and execs regserver in the same process (so LISTEN_PID still names it).
constexpr const char* kActivate = "/usr/bin/systemd-socket-activate";
// $0 the port, $1 the spoiling shell words, $2 regserver; the launcher's log goes to standard
// output too, so its "Listening on" line tells when to connect.
constexpr const char* kLaunch = R"(exec 2>&1; exec /usr/bin/systemd-socket-activate )"
                                R"(-l "127.0.0.1:$0" /bin/sh -c "$1"' exec "$0" --sim --quiet)"
                                R"( --port 0' "$2")";

TEST(SocketActivation, ServedOnTheHandedOverSocketOrRefused) {
  if (access(kActivate, X_OK) != 0) GTEST_SKIP() << kActivate << " is not installed";
  const std::tuple<const char*, bool, const char*> cases[] = {
      // spoiling shell words, served on the handed-over socket, the line of a refused start
      {"", true, ""},
      {"LISTEN_PID=1", false, ""},  // another process's variables: --port 0 as usual
      {"LISTEN_FDS=0", false, "regserver: LISTEN_FDS is '0', expected 1..16\n"},
      {"LISTEN_FDS=1x", false, "regserver: LISTEN_FDS is '1x', expected 1..16\n"},
      {"LISTEN_FDS=2", false,
       "regserver: handed-over descriptor 4 is not a listening TCP socket\n"},
      {"exec 3</dev/null;", false,
       "regserver: handed-over descriptor 3 is not a listening TCP socket\n"},
  };
  for (const auto& [spoil, served, refusal] : cases) {
    SCOPED_TRACE(spoil);
    std::string port;
    ::close(testing::loopback_socket(0, &port));  // a port free again
    testing::BackgroundProcess launcher({"/bin/sh", "-c", kLaunch, port, spoil, REGSERVER_BIN});
    ASSERT_TRUE(launcher.wait_for("Listening on 127.0.0.1:")) << launcher.out();
    const size_t exec_at = launcher.out().size();
    const test::Raw first(std::stoi(port));  // the launcher execs on the first connection
    // Up (its signal handling in place) or refused, before the SIGTERM below.
    ASSERT_TRUE(launcher.wait_for(*refusal == '\0' ? "listening on" : refusal, exec_at));
    if (served) {
      EXPECT_EQ(testing::demodctl({"127.0.0.1", port, "0", "100", "208", "on_line", "1"}).out,
                "error=ok,return=1");
    }
    // A refused start ends by itself (signal 0 only waits for it); a server is stopped.
    EXPECT_EQ(launcher.stop(*refusal == '\0' ? SIGTERM : 0), *refusal == '\0' ? 0 : 1);
    const std::string& all = launcher.out();
    const std::string own = all.substr(all.find('\n', all.find("Execing", exec_at)) + 1);
    if (*refusal == '\0') {
      EXPECT_EQ(own == "listening on 127.0.0.1:" + port + "\n", served) << own;
      EXPECT_EQ(own.rfind("listening on 127.0.0.1:", 0), 0U) << own;
    } else {
      EXPECT_EQ(own, refusal);
    }
  }
}

// regserver's log: a line the output cannot take at once is dropped without waiting and counted
// in the next line that gets through; repeated refusals of one peer are summarised per period.

// A pipe whose read end never blocks; both ends closed at the end of the test.
struct Pipe {
  Pipe() {
    EXPECT_EQ(::pipe(fds), 0);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  ~Pipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  std::string drain() const {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    return out;
  }
  std::vector<std::string> texts() const {  // of the lines read, after "TIME regserver: "
    std::vector<std::string> out;
    std::istringstream lines(drain());
    for (std::string line; std::getline(lines, line);)
      out.push_back(line.substr(line.find(": ") + 2));
    return out;
  }
  int fds[2] = {-1, -1};
};

// Filled to the last byte through a non-blocking description of the test's own, which is then
// made blocking again: the log must not wait on it, by means of its own.
void fill(const Pipe& pipe) {
  const int flags = ::fcntl(pipe.fds[1], F_GETFL);
  ::fcntl(pipe.fds[1], F_SETFL, flags | O_NONBLOCK);
  const std::string page(4096, 'x');
  while (::write(pipe.fds[1], page.data(), page.size()) > 0 || ::write(pipe.fds[1], "x", 1) > 0) {
  }
  ::fcntl(pipe.fds[1], F_SETFL, flags);
}

TEST(ServerLog, FullPipeDropsLinesWithoutWaitingAndTheNextLineCountsThem) {
  Pipe pipe;
  fill(pipe);
  ServerLog log(/*quiet=*/false, pipe.fds[1]);
  EXPECT_EQ(::fcntl(pipe.fds[1], F_GETFL) & O_NONBLOCK, 0) << "the shared description untouched";
  constexpr int kLines = 1000;
  auto lines = std::async(std::launch::async, [&] {
    for (int i = 0; i < kLines; ++i) log.line("lost");
  });
  // A watchdog, not a measurement: a log that waits for the pipe never gets there.
  const bool returned = lines.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  const std::string drained = pipe.drain();  // also frees a writer stuck in the pipe
  lines.get();
  EXPECT_TRUE(returned);
  EXPECT_EQ(drained.find("lost"), std::string::npos);
  log.line("after");
  EXPECT_EQ(pipe.texts(), std::vector<std::string>{"after (1000 earlier log lines dropped)"});
  fill(pipe);
  log.line("lost");
  pipe.drain();
  log.line("after");
  EXPECT_EQ(pipe.texts(), std::vector<std::string>{"after (1 earlier log line dropped)"});
}

TEST(ServerLog, RefusalsOfOnePeerOneLinePerPeriodWithACount) {
  Pipe pipe;
  ServerLog::Clock::time_point now{};
  ServerLog log(/*quiet=*/false, pipe.fds[1], [&] { return now; });
  const std::pair<int, std::string> events[] = {
      // second, peer refused ("end": the server's periodic call, "stop": the server stops)
      {0, "192.0.2.7:1"},  {1, "192.0.2.7:2"},  {2, "[2001:db8::1]:3"}, {9, "192.0.2.7:4"},
      {10, "end"},         {11, "192.0.2.7:5"}, {12, "192.0.2.7:6"},    {15, "[2001:db8::1]:7"},
      {30, "192.0.2.7:8"}, {31, "192.0.2.7:9"}, {32, "stop"},
  };
  for (const auto& [second, peer] : events) {
    now = ServerLog::Clock::time_point{} + std::chrono::seconds(second);
    if (peer == "end" || peer == "stop") {
      log.end_periods(peer == "stop");
    } else {
      log.refusal(peer, "refused " + peer + " (not allowed)");
    }
  }
  EXPECT_EQ(pipe.texts(), (std::vector<std::string>{
                              "refused 192.0.2.7:1 (not allowed)",
                              "refused [2001:db8::1]:3 (not allowed)",
                              "refused 192.0.2.7 2 more times in 10 s (not logged one by one)",
                              "refused 192.0.2.7:5 (not allowed)",
                              "refused [2001:db8::1]:7 (not allowed)",
                              "refused 192.0.2.7 1 more time in 10 s (not logged one by one)",
                              "refused 192.0.2.7:8 (not allowed)",
                              "refused 192.0.2.7 1 more time in 10 s (not logged one by one)",
                          }));
}

}  // namespace
}  // namespace demodctl
