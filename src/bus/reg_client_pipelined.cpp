// RegClient's requests in flight together: a pair of writes sent as one, then both replies read.
#include <algorithm>
#include <array>
#include <vector>

#include "bus/reg_client.h"

namespace demodctl {
namespace {

using wire::Opcode;
using wire::Status;

constexpr std::string_view kTimedOut = "TIMEOUT";
constexpr std::string_view kClosed = "CLOSED";
constexpr std::string_view kMalformed = "MALFORMED";

}  // namespace

bool RegClient::write_request(const ServerWrite& write, wire::Request& q) {
  const ServerRegister& at = write.at;
  const bool fits =
      at.reg >= 0 && at.reg <= UINT16_MAX && write.data.size() <= wire::kMaxWriteCount;
  if (!fits) return false;
  q.op = Opcode::kWrite;
  q.target = {.channel = at.channel,
              .address = at.address,
              .reg = static_cast<uint16_t>(at.reg),
              .reg_len = 1};  // the transport's register addresses are one byte wide
  q.count = static_cast<uint16_t>(write.data.size());
  q.data.assign(write.data.begin(), write.data.end());
  return true;
}

Result<void> RegClient::write_pair(const ServerWrite& first, const ServerWrite& second) {
  std::array<wire::Request, 2> q;
  if (!connected() || !write_request(first, q[0]) || !write_request(second, q[1])) {
    return RegisterServer::write_pair(first, second);
  }
  const auto timeout = settings_.reply_timeout;
  waited_ = timeout;
  std::vector<uint8_t> frames;
  for (wire::Request& request : q) {
    request.seq = next_seq_++;
    const std::vector<uint8_t> frame = wire::encode_request(request);
    frames.insert(frames.end(), frame.begin(), frame.end());
  }
  // The first reply is awaited from the send on, as a call of its own would be; the second from
  // the first's arrival, as if it had been sent then.
  const Clock::time_point deadline = Clock::now() + timeout;
  if (const Io io = send_all(frames, deadline); io != Io::done) {
    return result_of(finish(q[0], {}, fail(io == Io::timed_out ? kTimedOut : kClosed)));
  }
  const int first_rc = finish(q[0], {}, await_reply(q[0], {}, deadline));
  // A lost connection takes the second reply with it; nothing more is said of that request.
  if (!connected()) return result_of(first_rc);
  const Result<void> first_result = last_;
  const int second_rc = finish(q[1], {}, await_reply(q[1], {}, Clock::now() + timeout));
  if (first_rc == 0) return result_of(second_rc);
  last_ = first_result;  // the second's reply only kept the connection in step
  return first_result;
}

int RegClient::await_reply(const wire::Request& q, std::span<uint8_t> out,
                           Clock::time_point deadline) {
  const auto io_failure = [&](Io io) { return fail(io == Io::timed_out ? kTimedOut : kClosed); };
  std::vector<uint8_t> frame(wire::kLengthFieldSize);
  if (const Io io = recv_exact(frame.data(), frame.size(), deadline); io != Io::done) {
    return io_failure(io);
  }
  const uint16_t length = wire::get_u16(frame.data());
  if (length < wire::kHeaderSize) return fail(kMalformed);
  frame.resize(wire::kLengthFieldSize + length);
  if (const Io io = recv_exact(frame.data() + wire::kLengthFieldSize, length, deadline);
      io != Io::done) {
    return io_failure(io);
  }
  const auto reply = wire::decode_reply(frame);
  if (!reply) return fail(kMalformed);
  const auto expected_op = static_cast<uint8_t>(static_cast<uint8_t>(q.op) | wire::kReplyFlag);
  if (reply->opcode != expected_op || reply->seq != q.seq) return fail(kMalformed);
  outcome_ = wire::status_name(reply->status);
  if (reply->status == Status::kBusy || reply->status == Status::kBadVersion) {
    abandon();  // the server ends the connection after these
    return static_cast<int>(reply->status);
  }
  if (reply->status != Status::kOk) return static_cast<int>(reply->status);
  if (reply->body.size() != out.size()) return fail(kMalformed);
  std::copy(reply->body.begin(), reply->body.end(), out.begin());
  return 0;
}

}  // namespace demodctl
