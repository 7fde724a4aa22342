// What regserver makes of a request without a network: the decoder, the I2C transactions of each
// request on a recording bus, and which peers --allow admits.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "protocol/wire.h"
#include "server/allow_list.h"
#include "server/frames.h"
#include "server/register_ops.h"
#include "support/recording_backends.h"

namespace demodctl::wire {
namespace {

using test::Bytes;
using test::frame;

// Whole frames decode (a second one behind is left alone) and encode back to the same bytes; every
// shorter prefix needs more.
TEST(Decode, GoodFramesOfEveryOpcode) {
  const Bytes cases[] = {test::hello(),
                         frame(0x02, 7, {{2, 4}, {-100, 4}}),
                         test::read(2, 0, 0xD0, 0x6C, 1, 4),
                         test::read(2, -1, 255, 0xFFFF, 2, 256),
                         test::write(0x1234, 2, 0xC0, 0x33, 3, {9, 8, 7}),
                         test::write(3, 0, 0xD0, 0, 256, Bytes(256, 0x5A)),
                         test::period(0xFFFF, 1, 1, 8192, 100),
                         test::period(4, 1, 16, 65520, 65535),
                         test::period(5, 1, 1, 65531, 1)};
  for (const Bytes& bytes : cases) {
    SCOPED_TRACE(testing::hex(bytes.data(), 8));
    for (size_t n = 0; n < bytes.size(); ++n) {
      EXPECT_EQ(decode_request({bytes.data(), n}).outcome, DecodeOutcome::kNeedMore) << n;
    }
    Bytes two = bytes;
    two.insert(two.end(), bytes.begin(), bytes.end());
    const DecodeResult r = decode_request(two);
    ASSERT_EQ(r.outcome, DecodeOutcome::kRequest) << r.reason;
    EXPECT_EQ(r.consumed, bytes.size());
    EXPECT_EQ(encode_request(r.request), bytes);
  }
}

// Rejected with a status; the frame is skipped (framing kept) unless the length field alone shows
// the framing is lost.
TEST(Decode, BadFramesRejectedWithStatus) {
  constexpr uint16_t kSeq = 0x0102;
  const std::tuple<Bytes, Status, bool> cases[] = {
      {{0x02, 0x01}, Status::kTooLarge, true},  // length 513
      {{0x00, 0x03}, Status::kBadFrame, true},  // shorter than the header
      {frame(0x7F, kSeq, {}), Status::kUnknownOp, false},
      {frame(0x83, kSeq, {}), Status::kUnknownOp, false},  // a reply opcode
      {frame(0x01, kSeq, {{0x444D5253, 4}, {1, 2}}, {}, 1), Status::kBadFrame, false},  // status
      {frame(0x03, kSeq, {{0, 4}, {0, 4}, {0, 4}}), Status::kBadFrame, false},
      {test::read(kSeq, 0, 0xD0, 0x6C, 0, 4), Status::kBadParam, false},  // reg_len 0
      {test::read(kSeq, 0, 0xD0, 0x6C, 3, 4), Status::kBadParam, false},
      {test::read(kSeq, 0, 0xD0, 0x100, 1, 4), Status::kBadParam, false},  // register too wide
      {test::read(kSeq, 0, 256, 0x6C, 1, 4), Status::kBadAddress, false},
      {test::read(kSeq, 0, -2, 0x6C, 1, 4), Status::kBadAddress, false},
      {frame(0x01, kSeq, {{0x444D5253, 4}, {1, 2}, {0, 1}}), Status::kBadFrame, false},
      {test::read(kSeq, 0, 0xD0, 0, 1, 0), Status::kBadParam, false},
      {test::read(kSeq, 0, 0xD0, 0, 1, 257), Status::kTooLarge, false},
      {test::write(kSeq, 0, 0xD0, 0, 257, {}), Status::kTooLarge, false},
      {frame(0x04, kSeq, {{0, 4}, {0xD0, 4}, {0, 2}, {1, 1}, {0, 1}}), Status::kBadFrame, false},
      {test::write(kSeq, 0, 0xD0, 0, 3, {1, 2}), Status::kBadFrame, false},
      {test::write(kSeq, 0, 0xD0, 0, 2, {1, 2, 3}), Status::kBadFrame, false},
      {test::period(kSeq, 1, 0, 8, 1), Status::kBadParam, false},  // item_len 0
      {test::period(kSeq, 1, 17, 17, 1), Status::kTooLarge, false},
      {test::period(kSeq, 1, 1, 65532, 1), Status::kTooLarge, false},
      {test::period(kSeq, 1, 1, 0xFFFFFFFF, 1), Status::kTooLarge, false},
      {test::period(kSeq, 1, 3, 8, 1), Status::kBadParam, false},  // total not a multiple
      {test::period(kSeq, 1, 1, 0, 1), Status::kBadParam, false},
      {test::period(kSeq, 1, 1, 8, 0), Status::kBadParam, false},  // burst 0
  };
  for (const auto& [bytes, status, close] : cases) {
    SCOPED_TRACE(testing::hex(bytes.data(), bytes.size()));
    for (size_t n = 0; n < bytes.size() && !close; ++n) {
      EXPECT_EQ(decode_request({bytes.data(), n}).outcome, DecodeOutcome::kNeedMore) << n;
    }
    const DecodeResult r = decode_request(bytes);
    ASSERT_EQ(r.outcome, DecodeOutcome::kError);
    EXPECT_EQ(r.status, status) << status_name(r.status);
    EXPECT_EQ(r.close, close);
    EXPECT_EQ(r.consumed, close ? 0 : bytes.size());
    EXPECT_EQ(r.seq, close ? 0 : kSeq);
  }
}

using testing::RecordingBus;

TEST(RegisterOps, ExactTransactions) {
  const std::tuple<RegTarget, std::vector<uint8_t>, Status, std::string> cases[] = {
      // target, data written (none: a read of 2 bytes), status, the transaction
      {{0, 0xD0, 0x6C, 1}, {}, Status::kOk, "68: 6C -> 2"},
      {{0, 0xD1, 0x2C, 1}, {}, Status::kOk, "68: 2C -> 2"},  // R/W bit dropped
      {{0, 0xD0, 0x1234, 2}, {}, Status::kOk, "68: 12 34 -> 2"},
      {{0, 0xD0, 0x33, 1}, {1, 2, 3}, Status::kOk, "68: 33 01 02 03 -> 0"},
      {{0, 0xD0, 0x0102, 2}, {9}, Status::kOk, "68: 01 02 09 -> 0"},
      {{0, 0xC0, 0x00, 1}, {}, Status::kNack, "60: 00 -> 2"},
  };
  for (const auto& [target, data, status, transaction] : cases) {
    RecordingBus bus;
    std::vector<uint8_t> out(2);
    EXPECT_EQ(data.empty() ? read_registers(bus, target, out) : write_registers(bus, target, data),
              status);
    EXPECT_EQ(bus.log, std::vector<std::string>{transaction});
  }
}

TEST(RegisterOps, PeriodReadYieldsAfterBurstOrBudget) {
  Request q;
  q.op = Opcode::kReadPeriod;
  q.target = {0, 0xD0, 0xEF, 1};
  q.item_len = 1;
  q.total = 5;
  // {burst, budget per call} -> reads per call
  for (const auto& [burst, budget, reads] : std::vector<std::tuple<int, size_t, std::string>>{
           {2, 16, "2 2 1 "}, {65535, 2, "2 2 1 "}, {3, 16, "3 2 "}}) {
    RecordingBus bus;
    q.burst = static_cast<uint16_t>(burst);
    PeriodRead read(q);
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

TEST(AllowList, PrefixesOfBothFamilies) {
  const auto admits = [](const AllowList& list, const char* peer) {
    uint8_t bytes[16];
    if (inet_pton(AF_INET, peer, bytes) == 1) return list.admits({bytes, 4});
    return inet_pton(AF_INET6, peer, bytes) == 1 && list.admits({bytes, 16});
  };
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // network, a peer inside, a peer outside
      {"192.0.2.128/25", "192.0.2.200", "192.0.2.100"},
      {"198.51.100.7/22", "198.51.103.255", "198.51.104.0"},
      {"127.0.0.1", "::ffff:127.0.0.1", "127.0.0.2"},
      {"0.0.0.0/0", "203.0.113.9", "::1"},
      {"2001:db8::/33", "2001:db8:7fff::1", "2001:db8:8000::"},
      {"::1", "::1", "::ffff:0.0.0.1"},
  };
  for (const auto& [net, in, out] : cases) {
    AllowList list;
    std::string error;
    ASSERT_TRUE(list.add(net, &error)) << error;
    EXPECT_TRUE(admits(list, in)) << net << " " << in;
    EXPECT_FALSE(admits(list, out)) << net << " " << out;
  }
  EXPECT_TRUE(admits(AllowList(), "203.0.113.9")) << "an empty list admits every peer";
}

}  // namespace
}  // namespace demodctl::wire
