// tuner_set: identity check, then the chosen tuner driver's start-up and setting, with the
// demodulator's tuner path bit (reg::tuner_path) set between the two; progress goes to the debug
// log.
#include "debug_log/debug_log.h"
#include "demod/field_access.h"
#include "outcome/result_line.h"
#include "tuner/rda5815.h"
#include "tuner/tuner0.h"
#include "tuner/tuner_commands.h"

namespace demodctl {
namespace {

constexpr int32_t kTunerType0 = 0;
constexpr int32_t kTunerRda5815 = 1;

// The driver of the tuner type: start-up, the tuner path bit, setting.
Result<void> drive_tuner(BoardBus& bus, TunerBus& tuner, const TuneRequest& request,
                         DebugLog& log) {
  if (request.type == kTunerType0) {
    if (auto done = tuner0_init(tuner); !done) return done.error();
    if (auto done = update_bits(bus, reg::tuner_path, 1); !done) return done.error();
    return tuner0_set(tuner, request.freq_mhz, request.bw_mhz / 2);
  }
  if (request.type == kTunerRda5815) {
    if (auto done = rda5815_init(tuner); !done) return done.error();
    log.printf("rda5815_init ends\n");
    if (auto done = update_bits(bus, reg::tuner_path, 1); !done) return done.error();
    if (auto done = rda5815_set(tuner, request.freq_mhz, request.bw_mhz); !done) {
      return done.error();
    }
    log.printf("rda5815_set ends\n");
  }
  return {};  // any other type: no driver, the tuner path bit left alone
}

}  // namespace

// "begining": the log's exact text. With no chip the log keeps its first two lines; the runner
// closes it when the run ends.
Outcome tuner_set(BoardBus& bus, const TuneRequest& request, DebugLog& log) {
  log.banner("tuner_set begining!");
  bus.set_speed(request.tuner);  // the tuner's channel on the register server
  log.printf("tuner_type=%d,freq=%d,bw=%d\n", request.type, request.freq_mhz, request.bw_mhz);

  if (auto done = bus.read_chip_identity(reg::identity.reg); !done) return done.error();
  if (!chip_present(bus.identity())) return Reply{kMsgChipAbsent, 1};
  const TunerWiring wiring =
      tuner_wired_direct(bus.identity()) ? TunerWiring::direct : TunerWiring::behind_gate;
  TunerBus tuner(bus, request.tuner, wiring);
  const Result<void> driven = drive_tuner(bus, tuner, request, log);
  if (!driven) return driven.error();  // the log keeps the lines written before
  log.banner("tuner_set ends!");
  return Reply{kMsgOk, 0};
}

}  // namespace demodctl
