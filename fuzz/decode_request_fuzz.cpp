// libFuzzer target: the request decoder must survive any bytes, consume only what it was given,
// and decode the same frames whether the bytes arrive whole or one at a time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocol/wire.h"

using demodctl::wire::decode_request;
using demodctl::wire::DecodeOutcome;
using demodctl::wire::DecodeResult;

namespace {

bool same(const DecodeResult& a, const DecodeResult& b) {
  return a.outcome == b.outcome && a.consumed == b.consumed && a.status == b.status &&
         a.close == b.close && a.request.op == b.request.op && a.request.seq == b.request.seq &&
         a.request.data == b.request.data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> rest(data, size);
  while (!rest.empty()) {
    const DecodeResult whole = decode_request(rest);
    if (whole.outcome == DecodeOutcome::kNeedMore) break;
    if (whole.consumed > rest.size()) std::abort();
    // The same frame fed one byte more at a time gives need-more until its last byte.
    // A lost framing is detected from the length field alone (nothing is consumed then).
    const size_t frame = whole.consumed != 0 ? whole.consumed : demodctl::wire::kLengthFieldSize;
    for (size_t n = 0; n < frame; ++n) {
      if (decode_request(rest.first(n)).outcome != DecodeOutcome::kNeedMore) std::abort();
    }
    if (!same(decode_request(rest.first(frame)), whole)) std::abort();
    if (whole.close) break;
    rest = rest.subspan(whole.consumed);
  }
  return 0;
}
