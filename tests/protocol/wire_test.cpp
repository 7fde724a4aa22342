// The request decoder: whole frames of every opcode, and the frames it refuses with their status.
#include "protocol/wire.h"

#include <gtest/gtest.h>

#include "server/frames.h"
#include "support/recording_backends.h"

namespace demodctl {
namespace {

using namespace wire;
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
      // length 512, the largest a request may have: framing kept, judged on its opcode
      {frame(0x7F, kSeq, {}, Bytes(508)), Status::kUnknownOp, false},
      {{0x00, 0x03}, Status::kBadFrame, true},  // shorter than the header
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

}  // namespace
}  // namespace demodctl
