#include "server/register_ops.h"

#include <gtest/gtest.h>

#include "server/fake_board.h"
#include "server/frames.h"

namespace demodctl {
namespace {

using test::Bytes;
using test::FakeBackend;
using test::Transaction;
using wire::Opcode;
using wire::Status;

wire::Request request(Opcode op, int32_t ch, int32_t address, uint16_t reg, uint8_t reg_len) {
  wire::Request q;
  q.op = op;
  q.seq = 0x0A0B;
  q.target = {ch, address, reg, reg_len};
  return q;
}

// The status byte and body of an encoded reply.
std::pair<Status, Bytes> parse(const Bytes& frame) {
  auto r = wire::decode_reply(frame);
  EXPECT_TRUE(r);
  if (!r) return {Status::kIoError, {}};
  return {r->status, Bytes(r->body.begin(), r->body.end())};
}

struct BusCase {
  std::string name;
  wire::Request q;
  std::vector<Transaction> bus;
  Status status;
};

class OperationsOnTheBus : public ::testing::TestWithParam<BusCase> {};

TEST_P(OperationsOnTheBus, ExactTransactionsAndStatus) {
  FakeBackend backend;
  const Outcome o = perform(backend, GetParam().q);
  EXPECT_FALSE(o.drop);
  EXPECT_EQ(parse(o.reply).first, GetParam().status);
  EXPECT_EQ(backend.device.log, GetParam().bus);
}

wire::Request with_count(wire::Request q, uint16_t count, Bytes data = {}) {
  q.count = count;
  q.data = std::move(data);
  return q;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OperationsOnTheBus,
    ::testing::Values(BusCase{"read_identity",
                              with_count(request(Opcode::kRead, 0, 0xD0, 0x6C, 1), 4),
                              {{0x68, {0x6C}, 4}},
                              Status::kOk},
                      BusCase{"read_odd_address_byte",
                              with_count(request(Opcode::kRead, 0, 0xD1, 0x2C, 1), 1),
                              {{0x68, {0x2C}, 1}},
                              Status::kOk},
                      BusCase{"read_two_byte_register_big_endian",
                              with_count(request(Opcode::kRead, 0, 0xD0, 0x1234, 2), 2),
                              {{0x68, {0x12, 0x34}, 2}},
                              Status::kOk},
                      BusCase{"write_three",
                              with_count(request(Opcode::kWrite, 0, 0xD0, 0x33, 1), 3, {1, 2, 3}),
                              {{0x68, {0x33, 1, 2, 3}, 0}},
                              Status::kOk},
                      BusCase{"write_two_byte_register",
                              with_count(request(Opcode::kWrite, 0, 0xD0, 0x0102, 2), 1, {9}),
                              {{0x68, {0x01, 0x02, 9}, 0}},
                              Status::kOk},
                      BusCase{"nack_from_absent_device",
                              with_count(request(Opcode::kRead, 0, 0xC0, 0, 1), 1),
                              {{0x60, {0x00}, 1}},
                              Status::kNack},
                      BusCase{"no_channel",
                              with_count(request(Opcode::kRead, 1, 0xD0, 0x6C, 1), 4),
                              {},
                              Status::kNoChannel},
                      BusCase{"write_no_channel",
                              with_count(request(Opcode::kWrite, -5, 0xD0, 0, 1), 1, {0}),
                              {},
                              Status::kNoChannel}),
    [](const auto& tc) { return tc.param.name; });

TEST(Perform, ReadReturnsRegisterBytesAndWriteStoresThem) {
  FakeBackend backend;
  auto [st, body] =
      parse(perform(backend, with_count(request(Opcode::kRead, 0, 0xD0, 0x6C, 1), 4)).reply);
  EXPECT_EQ(st, Status::kOk);
  EXPECT_EQ(body, (Bytes{0x00, 0x00, 0x36, 0x31}));
  perform(backend, with_count(request(Opcode::kWrite, 0, 0xD0, 0x40, 1), 2, {0xAA, 0xBB}));
  EXPECT_EQ(backend.device.regs[0x40], 0xAA);
  EXPECT_EQ(backend.device.regs[0x41], 0xBB);
}

TEST(Perform, SetSpeedStoresOrRefuses) {
  FakeBackend backend;
  wire::Request q;
  q.op = Opcode::kSetSpeed;
  q.channel = 0;
  q.speed = 400;
  EXPECT_EQ(parse(perform(backend, q).reply).first, Status::kOk);
  EXPECT_EQ(backend.speeds.at(0), 400);
  backend.accept_speed = false;
  EXPECT_EQ(parse(perform(backend, q).reply).first, Status::kIoError);
  q.channel = 3;
  EXPECT_EQ(parse(perform(backend, q).reply).first, Status::kNoChannel);
}

TEST(Perform, DropFaultGivesNoReply) {
  FakeBackend backend;
  backend.device.drop_at_op = 1;
  const Outcome o = perform(backend, with_count(request(Opcode::kRead, 0, 0xD0, 0x6C, 1), 4));
  EXPECT_TRUE(o.drop);
  EXPECT_TRUE(o.reply.empty());
}

wire::Request period(uint16_t item_len, uint32_t total, uint16_t burst) {
  wire::Request q = request(Opcode::kReadPeriod, 0, 0xD0, 0xEF, 1);
  q.item_len = item_len;
  q.total = total;
  q.burst = burst;
  return q;
}

TEST(PeriodRead, ReadsInBurstsAndResendsTheRegisterEveryRead) {
  FakeBackend backend;
  backend.device.fifo_port = 0xEF;
  PeriodRead pr(period(2, 10, 2));  // 5 reads of 2 bytes, 2 per burst: 3 bursts
  int bursts = 1;
  std::optional<Outcome> o;
  while (!(o = pr.run_burst(backend))) ++bursts;
  EXPECT_EQ(bursts, 3);
  const std::vector<Transaction> one_read{{0x68, {0xEF}, 2}};
  ASSERT_EQ(backend.device.log.size(), 5u);
  for (const auto& t : backend.device.log) EXPECT_EQ(t, one_read[0]);
  auto [st, body] = parse(o->reply);
  EXPECT_EQ(st, Status::kOk);
  EXPECT_EQ(body, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(PeriodRead, StopsAtTheFirstFailureOrDrop) {
  FakeBackend nacking;
  nacking.device.fifo_port = 0xEF;
  wire::Request q = period(1, 8, 100);
  q.target.address = 0xC0;  // nobody there
  auto o = PeriodRead(q).run_burst(nacking);
  ASSERT_TRUE(o);
  EXPECT_EQ(parse(o->reply).first, Status::kNack);
  EXPECT_EQ(nacking.device.log.size(), 1u);

  FakeBackend dropping;
  dropping.device.drop_at_op = 3;
  o = PeriodRead(period(1, 8, 100)).run_burst(dropping);
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->drop);
  EXPECT_EQ(dropping.device.log.size(), 3u);
}

}  // namespace
}  // namespace demodctl
