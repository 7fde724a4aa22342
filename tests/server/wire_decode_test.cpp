#include <gtest/gtest.h>

#include <string>

#include "server/frames.h"
#include "server/wire.h"

namespace demodctl::wire {
namespace {

using test::Bytes;
using test::frame;

struct GoodCase {
  std::string name;
  Bytes bytes;
  Opcode op;
  uint16_t seq;
};

class GoodFrames : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodFrames, DecodeWholeAndNeedMoreAtEveryShorterLength) {
  const GoodCase& c = GetParam();
  for (size_t n = 0; n < c.bytes.size(); ++n) {
    EXPECT_EQ(decode_request({c.bytes.data(), n}).outcome, DecodeOutcome::kNeedMore) << n;
  }
  Bytes two = c.bytes;  // a second frame behind the first is left alone
  two.insert(two.end(), c.bytes.begin(), c.bytes.end());
  const DecodeResult r = decode_request(two);
  ASSERT_EQ(r.outcome, DecodeOutcome::kRequest) << r.reason;
  EXPECT_EQ(r.consumed, c.bytes.size());
  EXPECT_EQ(r.request.op, c.op);
  EXPECT_EQ(r.request.seq, c.seq);
  // The encoder produces the same bytes.
  EXPECT_EQ(encode_request(r.request), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    AllOpcodes, GoodFrames,
    ::testing::Values(
        GoodCase{"hello",
                 {0x00, 0x0A, 0x01, 0x00, 0x00, 0x00, 'D', 'M', 'R', 'S', 0x00, 0x01},
                 Opcode::kHello,
                 0},
        GoodCase{"set_speed", test::speed_frame(7, 0, 400), Opcode::kSetSpeed, 7},
        GoodCase{"read",
                 {0x00, 0x11, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                  0xD0, 0x00, 0x6C, 0x01, 0x00, 0x04},
                 Opcode::kRead,
                 1},
        GoodCase{"write", test::write_frame(0x1234, 2, 0xC0, 0x0102, 2, 3, {9, 8, 7}),
                 Opcode::kWrite, 0x1234},
        GoodCase{"write_256", test::write_frame(3, 0, 0xD0, 0, 1, 256, Bytes(256, 0x5A)),
                 Opcode::kWrite, 3},
        GoodCase{"read_period", test::period_frame(0xFFFF, 0, 0xD0, 0xEF, 1, 1, 8192, 100),
                 Opcode::kReadPeriod, 0xFFFF},
        GoodCase{"read_period_max", test::period_frame(4, 0, 0xD0, 0xEF, 1, 1, 65531, 1),
                 Opcode::kReadPeriod, 4}),
    [](const auto& tc) { return tc.param.name; });

TEST(DecodeRequest, FieldsOfEachOpcode) {
  auto w = decode_request(test::write_frame(5, -1, 0xD1, 0xABCD, 2, 2, {0x11, 0x22}));
  ASSERT_EQ(w.outcome, DecodeOutcome::kRequest);
  EXPECT_EQ(w.request.target.channel, -1);
  EXPECT_EQ(w.request.target.address, 0xD1);
  EXPECT_EQ(w.request.target.reg, 0xABCD);
  EXPECT_EQ(w.request.target.reg_len, 2);
  EXPECT_EQ(w.request.data, (Bytes{0x11, 0x22}));

  auto p = decode_request(test::period_frame(6, 3, 0xD0, 0xEF, 1, 4, 64, 5));
  ASSERT_EQ(p.outcome, DecodeOutcome::kRequest);
  EXPECT_EQ(p.request.item_len, 4);
  EXPECT_EQ(p.request.total, 64u);
  EXPECT_EQ(p.request.burst, 5);

  auto s = decode_request(test::speed_frame(8, 2, -100));
  ASSERT_EQ(s.outcome, DecodeOutcome::kRequest);
  EXPECT_EQ(s.request.channel, 2);
  EXPECT_EQ(s.request.speed, -100);
}

struct BadCase {
  std::string name;
  Bytes bytes;
  Status status;
  bool close;
};

class BadFrames : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFrames, RejectedWithStatus) {
  const BadCase& c = GetParam();
  const DecodeResult r = decode_request(c.bytes);
  ASSERT_EQ(r.outcome, DecodeOutcome::kError);
  EXPECT_EQ(r.status, c.status) << status_name(r.status);
  EXPECT_EQ(r.close, c.close);
  if (!c.close) {
    EXPECT_EQ(r.consumed, c.bytes.size());  // the frame is skipped, the framing kept
    EXPECT_EQ(r.seq, 0x0102);
  }
}

Bytes with_seq(Bytes b) {
  b[4] = 0x01;
  b[5] = 0x02;
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadFrames,
    ::testing::Values(
        // Framing lost: judged from the two length bytes alone, before anything else arrives.
        BadCase{"length_ffff", {0xFF, 0xFF}, Status::kTooLarge, true},
        BadCase{"length_513", {0x02, 0x01}, Status::kTooLarge, true},
        BadCase{"length_3", {0x00, 0x03, 0x01, 0x00, 0x00}, Status::kBadFrame, true},
        BadCase{"length_0", {0x00, 0x00}, Status::kBadFrame, true},
        BadCase{"bad_magic", with_seq(frame(0x01, 0, {'X', 'M', 'R', 'S', 0, 1})),
                Status::kBadFrame, true},
        // Framing kept.
        BadCase{"unknown_op", frame(0x7F, 0x0102, {}), Status::kUnknownOp, false},
        BadCase{"reply_op", frame(0x83, 0x0102, {}), Status::kUnknownOp, false},
        BadCase{"status_set", frame(0x01, 0x0102, {'D', 'M', 'R', 'S', 0, 1}, 1), Status::kBadFrame,
                false},
        BadCase{"hello_short", frame(0x01, 0x0102, {'D', 'M', 'R', 'S', 0}), Status::kBadFrame,
                false},
        BadCase{"speed_long", frame(0x02, 0x0102, Bytes(9, 0)), Status::kBadFrame, false},
        BadCase{"read_short", frame(0x03, 0x0102, Bytes(12, 0)), Status::kBadFrame, false},
        BadCase{"reg_len_0", test::read_frame(0x0102, 0, 0xD0, 0x6C, 0, 4), Status::kBadParam,
                false},
        BadCase{"reg_len_3", test::read_frame(0x0102, 0, 0xD0, 0x6C, 3, 4), Status::kBadParam,
                false},
        BadCase{"reg_wider_than_1", test::read_frame(0x0102, 0, 0xD0, 0x100, 1, 4),
                Status::kBadParam, false},
        BadCase{"address_464", test::read_frame(0x0102, 0, 464, 0x6C, 1, 4), Status::kBadAddress,
                false},
        BadCase{"address_negative", test::read_frame(0x0102, 0, -1, 0x6C, 1, 4),
                Status::kBadAddress, false},
        BadCase{"read_count_0", test::read_frame(0x0102, 0, 0xD0, 0, 1, 0), Status::kBadParam,
                false},
        BadCase{"read_count_257", test::read_frame(0x0102, 0, 0xD0, 0, 1, 257), Status::kTooLarge,
                false},
        BadCase{"write_count_257", test::write_frame(0x0102, 0, 0xD0, 0, 1, 257, Bytes(257, 0)),
                Status::kTooLarge, false},
        BadCase{"write_count_mismatch", test::write_frame(0x0102, 0, 0xD0, 0, 1, 3, {1, 2}),
                Status::kBadFrame, false},
        BadCase{"write_address_256", test::write_frame(0x0102, 0, 256, 0, 1, 1, {1}),
                Status::kBadAddress, false},
        BadCase{"item_len_0", test::period_frame(0x0102, 0, 0xD0, 0xEF, 1, 0, 8, 1),
                Status::kBadParam, false},
        BadCase{"item_len_17", test::period_frame(0x0102, 0, 0xD0, 0xEF, 1, 17, 17, 1),
                Status::kTooLarge, false},
        BadCase{"total_over", test::period_frame(0x0102, 0, 0xD0, 0xEF, 1, 1, 65532, 1),
                Status::kTooLarge, false},
        BadCase{"total_huge", test::period_frame(0x0102, 0, 0xD0, 0xEF, 1, 1, 0xFFFFFFFF, 1),
                Status::kTooLarge, false},
        BadCase{"total_not_multiple", test::period_frame(0x0102, 0, 0xD0, 0xEF, 1, 3, 8, 1),
                Status::kBadParam, false},
        BadCase{"total_0", test::period_frame(0x0102, 0, 0xD0, 0xEF, 1, 1, 0, 1), Status::kBadParam,
                false},
        BadCase{"burst_0", test::period_frame(0x0102, 0, 0xD0, 0xEF, 1, 1, 8, 0), Status::kBadParam,
                false}),
    [](const auto& tc) { return tc.param.name; });

TEST(DecodeRequest, ByteByByteGivesTheSameResultAsWhole) {
  Bytes stream = test::hello_frame();
  for (const Bytes& f : {test::read_frame(1, 0, 0xD0, 0x6C, 1, 4), frame(0x7F, 2, {1, 2, 3}),
                         test::write_frame(3, 0, 0xD0, 0x10, 1, 2, {0xAB, 0xCD})}) {
    stream.insert(stream.end(), f.begin(), f.end());
  }
  // Decode as a server would: bytes appended one at a time, frames removed when complete.
  std::vector<std::pair<DecodeOutcome, size_t>> fed;
  Bytes buffer;
  for (uint8_t b : stream) {
    buffer.push_back(b);
    const DecodeResult r = decode_request(buffer);
    if (r.outcome == DecodeOutcome::kNeedMore) continue;
    fed.emplace_back(r.outcome, r.consumed);
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.consumed));
  }
  std::vector<std::pair<DecodeOutcome, size_t>> whole;
  std::span<const uint8_t> rest(stream);
  while (!rest.empty()) {
    const DecodeResult r = decode_request(rest);
    ASSERT_NE(r.outcome, DecodeOutcome::kNeedMore);
    whole.emplace_back(r.outcome, r.consumed);
    rest = rest.subspan(r.consumed);
  }
  EXPECT_EQ(fed, whole);
  EXPECT_TRUE(buffer.empty());
  ASSERT_EQ(whole.size(), 4u);
  EXPECT_EQ(whole[2].first, DecodeOutcome::kError);  // the unknown opcode
}

TEST(AdmitRequest, HelloFirstAndVersionChecked) {
  Request hello;
  hello.op = Opcode::kHello;
  hello.version = 1;
  Request read;
  read.op = Opcode::kRead;
  EXPECT_EQ(admit_request(read, false), Status::kNeedHello);
  EXPECT_EQ(admit_request(read, true), Status::kOk);
  EXPECT_EQ(admit_request(hello, false), Status::kOk);
  hello.version = 2;
  EXPECT_EQ(admit_request(hello, false), Status::kBadVersion);
}

TEST(EncodeReply, HelloReplyAndErrorReplyBytes) {
  EXPECT_EQ(encode_reply(0x01, Status::kOk, 0, hello_reply_body()),
            (Bytes{0x00, 0x16, 0x81, 0x00, 0x00, 0x00, 'D',  'M',  'R',  'S',  0x00, 0x01,
                   0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFB, 0x00, 0x10}));
  EXPECT_EQ(encode_error_reply(0x03, Status::kNack, 0x0009, "no"),
            (Bytes{0x00, 0x06, 0x83, 0x01, 0x00, 0x09, 'n', 'o'}));
  EXPECT_EQ(encode_error_reply(0x03, Status::kNack, 1, std::string(500, 'x')).size(),
            2 + 4 + kMaxReasonLength);
}

TEST(DecodeReply, AcceptsOnlyWholeReplyFrames) {
  const Bytes good{0x00, 0x06, 0x83, 0x00, 0x00, 0x02, 0x36, 0x31};
  const auto r = decode_reply(good);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->opcode, 0x83);
  EXPECT_EQ(r->seq, 2);
  EXPECT_EQ(Bytes(r->body.begin(), r->body.end()), (Bytes{0x36, 0x31}));
  EXPECT_FALSE(decode_reply(Bytes{0x00, 0x07, 0x83, 0x00, 0x00, 0x02, 0x36, 0x31}));  // length
  EXPECT_FALSE(decode_reply(Bytes{0x00, 0x04, 0x03, 0x00, 0x00, 0x02}));              // not a reply
  EXPECT_FALSE(decode_reply(Bytes{0x00, 0x03, 0x83, 0x00, 0x00}));                    // short
}

}  // namespace
}  // namespace demodctl::wire
