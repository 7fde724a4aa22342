#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "protocol/wire.h"
#include "server/frames.h"

namespace demodctl::wire {
namespace {

using test::Bytes;
using test::frame;

struct GoodCase {
  std::string name;
  Bytes bytes;
};
void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.name; }

class GoodFrames : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodFrames, DecodesWholeAndNeedsMoreAtEveryShorterLength) {
  const GoodCase& c = GetParam();
  for (size_t n = 0; n < c.bytes.size(); ++n) {
    EXPECT_EQ(decode_request({c.bytes.data(), n}).outcome, DecodeOutcome::kNeedMore) << n;
  }
  Bytes two = c.bytes;  // a second frame behind the first is left alone
  two.insert(two.end(), c.bytes.begin(), c.bytes.end());
  const DecodeResult r = decode_request(two);
  ASSERT_EQ(r.outcome, DecodeOutcome::kRequest) << r.reason;
  EXPECT_EQ(r.consumed, c.bytes.size());
  // The encoder gives back the same bytes.
  EXPECT_EQ(encode_request(r.request), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    AllOpcodes, GoodFrames,
    ::testing::Values(GoodCase{"hello", test::hello()},
                      GoodCase{"set_speed", frame(0x02, 7, {{2, 4}, {-100, 4}})},
                      GoodCase{"read", test::read(2, 0, 0xD0, 0x6C, 1, 4)},
                      GoodCase{"read_address_255", test::read(2, -1, 255, 0xFFFF, 2, 256)},
                      GoodCase{"write", test::write(0x1234, 2, 0xC0, 0x33, 3, {9, 8, 7})},
                      GoodCase{"write_256", test::write(3, 0, 0xD0, 0, 256, Bytes(256, 0x5A))},
                      GoodCase{"read_period", test::period(0xFFFF, 1, 1, 8192, 100)},
                      GoodCase{"read_period_max", test::period(4, 1, 16, 65520, 65535)}),
    [](const auto& tc) { return tc.param.name; });

struct BadCase {
  std::string name;
  Bytes bytes;
  Status status;
  bool close = false;  // the framing is lost
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class BadFrames : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFrames, RejectedWithStatus) {
  const BadCase& c = GetParam();
  for (size_t n = 0; n < c.bytes.size() && !c.close; ++n) {  // fed byte by byte
    EXPECT_EQ(decode_request({c.bytes.data(), n}).outcome, DecodeOutcome::kNeedMore) << n;
  }
  const DecodeResult r = decode_request(c.bytes);
  ASSERT_EQ(r.outcome, DecodeOutcome::kError);
  EXPECT_EQ(r.status, c.status) << status_name(r.status);
  EXPECT_EQ(r.close, c.close);
  if (!c.close) {
    EXPECT_EQ(r.consumed, c.bytes.size());  // the frame is skipped, the framing kept
    EXPECT_EQ(r.seq, 0x0102);
  }
}

constexpr uint16_t kSeq = 0x0102;

INSTANTIATE_TEST_SUITE_P(
    Table, BadFrames,
    ::testing::Values(
        // Framing lost: judged from the two length bytes alone, before anything is allocated.
        BadCase{"length_513", {0x02, 0x01}, Status::kTooLarge, true},
        BadCase{"length_3", {0x00, 0x03}, Status::kBadFrame, true},
        // Framing kept.
        BadCase{"unknown_op", frame(0x7F, kSeq, {}), Status::kUnknownOp},
        BadCase{"reply_op", frame(0x83, kSeq, {}), Status::kUnknownOp},
        BadCase{"status_set", frame(0x01, kSeq, {{0x444D5253, 4}, {1, 2}}, {}, 1),
                Status::kBadFrame},
        BadCase{"read_short", frame(0x03, kSeq, {{0, 4}, {0, 4}, {0, 4}}), Status::kBadFrame},
        BadCase{"reg_len_0", test::read(kSeq, 0, 0xD0, 0x6C, 0, 4), Status::kBadParam},
        BadCase{"reg_len_3", test::read(kSeq, 0, 0xD0, 0x6C, 3, 4), Status::kBadParam},
        BadCase{"reg_too_wide", test::read(kSeq, 0, 0xD0, 0x100, 1, 4), Status::kBadParam},
        BadCase{"address_256", test::read(kSeq, 0, 256, 0x6C, 1, 4), Status::kBadAddress},
        BadCase{"address_negative", test::read(kSeq, 0, -2, 0x6C, 1, 4), Status::kBadAddress},
        BadCase{"hello_long", frame(0x01, kSeq, {{0x444D5253, 4}, {1, 2}, {0, 1}}),
                Status::kBadFrame},
        BadCase{"read_count_0", test::read(kSeq, 0, 0xD0, 0, 1, 0), Status::kBadParam},
        BadCase{"read_count_257", test::read(kSeq, 0, 0xD0, 0, 1, 257), Status::kTooLarge},
        BadCase{"write_count_257", test::write(kSeq, 0, 0xD0, 0, 257, {}), Status::kTooLarge},
        BadCase{"write_head_short", frame(0x04, kSeq, {{0, 4}, {0xD0, 4}, {0, 2}, {1, 1}, {0, 1}}),
                Status::kBadFrame},
        BadCase{"write_fewer_than_count", test::write(kSeq, 0, 0xD0, 0, 3, {1, 2}),
                Status::kBadFrame},
        BadCase{"write_more_than_count", test::write(kSeq, 0, 0xD0, 0, 2, {1, 2, 3}),
                Status::kBadFrame},
        BadCase{"item_len_0", test::period(kSeq, 1, 0, 8, 1), Status::kBadParam},
        BadCase{"item_len_17", test::period(kSeq, 1, 17, 17, 1), Status::kTooLarge},
        BadCase{"total_65532", test::period(kSeq, 1, 1, 65532, 1), Status::kTooLarge},
        BadCase{"total_huge", test::period(kSeq, 1, 1, 0xFFFFFFFF, 1), Status::kTooLarge},
        BadCase{"total_not_multiple", test::period(kSeq, 1, 3, 8, 1), Status::kBadParam},
        BadCase{"total_0", test::period(kSeq, 1, 1, 0, 1), Status::kBadParam},
        BadCase{"burst_0", test::period(kSeq, 1, 1, 8, 0), Status::kBadParam}),
    [](const auto& tc) { return tc.param.name; });

}  // namespace
}  // namespace demodctl::wire
