#include "board.h"

#include "board_opening.h"
#include "capture/capture.h"
#include "demod/demod_commands.h"
#include "demod/field_access.h"
#include "measure/decimal.h"
#include "measure/measurements.h"
#include "monitor/mer.h"
#include "monitor/sample_reader.h"
#include "tuner/tuner_commands.h"

namespace demodctl::python {
namespace {

// AGC level: the low register whole, the high one's low bits as bits 11..8.
constexpr uint8_t kAgcHighBits = (1U << (reg::agc_level.width - 8U)) - 1U;
constexpr double kHzPerKhz = 1000.0;

[[noreturn]] void fail(const Fault& fault) { throw BoardFailure(fault, fault.text()); }

template <typename T>
T take(Result<T> result) {
  if (!result) fail(result.error());
  return std::move(*result);
}
void take(const Result<void>& result) {
  if (!result) fail(result.error());
}
void take(const Outcome& outcome) {
  if (const Fault* fault = std::get_if<Fault>(&outcome)) fail(*fault);
}

const Field& field_named(const std::string& name) {
  for (const Field& field : register_map()) {
    if (field.name == name) return field;
  }
  throw std::invalid_argument("no field named '" + name + "' in the register map");
}

}  // namespace

Board::Board(std::string uri) : uri_(std::move(uri)) {
  Result<std::unique_ptr<monitor::BoardLink>> link = make_board_link(uri_);
  if (!link) throw std::invalid_argument(link.error().cause);
  link_ = std::move(*link);
  recording_ = std::make_unique<RecordingBoardBus>(link_->bus());
}

Board::~Board() { close(); }

void Board::open() {
  const std::lock_guard lock(busy_);
  if (open_) return;
  take(recording_->open_connection());
  open_ = true;
}

void Board::close() {
  const std::lock_guard lock(busy_);
  if (open_) recording_->close_connection();
  open_ = false;
}

BoardBus& Board::bus() {
  if (!open_)
    throw BoardFailure(Fault{FaultKind::no_connection, "the board is not open"},
                       "no connection: the board is not open");
  return *recording_;
}

void Board::require_chip() {
  take(bus().read_chip_identity(reg::identity.reg));
  if (!chip_present(bus().identity())) throw BoardFailure(std::nullopt, "chip not connected");
}

Identity Board::identity() {
  const std::lock_guard lock(busy_);
  take(bus().read_chip_identity(reg::identity.reg));
  return bus().identity();
}

LockFlags Board::lock() {
  const std::lock_guard lock(busy_);
  LockFlags flags;
  flags.status = take(demod_read_reg(bus(), reg::lock_status.reg));
  for (size_t i = 0; i < kLockStages.size(); ++i) {
    flags.stages[i] = kLockStages[i].flag.set_in(flags.status);
  }
  return flags;
}

double Board::strength_dbm() {
  const std::lock_guard lock(busy_);
  const StrengthReading reading = take(read_signal_strength(bus()));
  const int32_t level = reading.agc[0] | (reading.agc[1] & kAgcHighBits) << 8;
  return as_decimal(agc_to_dbm(level));
}

std::optional<double> Board::cn_db() {
  const std::lock_guard lock(busy_);
  const CnReading reading = take(read_carrier_to_noise(bus()));
  if (!reading.figure) return std::nullopt;
  return as_decimal(reading.cn_db);
}

std::optional<double> Board::ber() {
  const std::lock_guard lock(busy_);
  const BerReading reading = take(read_bit_error_rate(bus()));
  if (!reading.figure) return std::nullopt;
  return reading.rate;
}

std::optional<int32_t> Board::lock_time_ms() {
  const std::lock_guard lock(busy_);
  const LockTimeReading reading = take(read_lock_time(bus()));
  if (!reading.figure) return std::nullopt;
  return reading.lock_time_ms;
}

std::optional<double> Board::carrier_offset_hz() {
  const std::lock_guard lock(busy_);
  const OffsetReading reading = take(read_carrier_offset(bus()));
  if (!reading.figure) return std::nullopt;
  return reading.offset.khz * kHzPerKhz;
}

std::optional<double> Board::symbol_rate_offset_hz() {
  const std::lock_guard lock(busy_);
  const OffsetReading reading = take(read_symbol_rate_offset(bus()));
  if (!reading.figure) return std::nullopt;
  return reading.offset.khz * kHzPerKhz;
}

ModeReport Board::mode() {
  const std::lock_guard lock(busy_);
  return take(read_mode(bus()));
}

void Board::init() {
  const std::lock_guard lock(busy_);
  require_chip();
  take(chip_init(bus()));
}

void Board::hot_reset() {
  const std::lock_guard lock(busy_);
  require_chip();
  take(hot_rst(bus()));
}

void Board::tune(int32_t freq_mhz, int32_t bw_mhz, int32_t tuner_type, int32_t tuner_address,
                 int32_t tuner_channel) {
  const std::lock_guard lock(busy_);
  TuneRequest request;
  request.tuner = bus().demod();
  request.tuner.channel = tuner_channel;
  request.tuner.address = tuner_address;
  request.type = tuner_type;
  request.freq_mhz = freq_mhz;
  request.bw_mhz = bw_mhz;
  require_chip();
  DebugLog no_log;  // a script's tuning writes no qv_debug_file
  take(tuner_set(bus(), request, no_log));
}

CaptureResult Board::capture(bool nine_bit) {
  const std::lock_guard lock(busy_);
  const SampleFormat format = nine_bit ? SampleFormat::nine_bit : SampleFormat::eight_bit;
  const uint8_t status = take(demod_read_reg(bus(), reg::lock_status.reg));
  const uint8_t pls = fec_locked(status) ? take(demod_read_reg(bus(), reg::modcod.reg)) : 0;
  take(run_capture(bus(), format));
  CaptureBuffer buffer{};
  take(fetch_capture(bus(), buffer));
  CaptureResult result;
  result.pairs = decode_capture(buffer, format);
  if (fec_locked(status)) {
    result.mer_db = monitor::mer_db(result.pairs, monitor::constellation_for(status, pls),
                                    monitor::modcod_of(pls));
  }
  return result;
}

uint8_t Board::read_register(uint8_t reg) {
  const std::lock_guard lock(busy_);
  return take(demod_read_reg(bus(), reg));
}

void Board::write_register(uint8_t reg, uint8_t value) {
  const std::lock_guard lock(busy_);
  take(demod_write_reg(bus(), reg, value));
}

uint32_t Board::read_field(const std::string& name) {
  const Field& field = field_named(name);
  const std::lock_guard lock(busy_);
  if (field.bytes() == 1) return take(demodctl::read_field(bus(), field));
  std::vector<uint8_t> bytes(field.bytes());
  take(bus().demod_read_regs(field.reg, bytes));
  uint64_t word = 0;
  for (size_t i = bytes.size(); i-- > 0;) word = word << 8 | bytes[i];
  return static_cast<uint32_t>((word >> field.shift) & ((uint64_t{1} << field.width) - 1U));
}

void Board::write_field(const std::string& name, uint8_t value) {
  const Field& field = field_named(name);
  if (field.bytes() != 1) {
    throw std::invalid_argument("field '" + name + "' spans registers: write them by number");
  }
  const std::lock_guard lock(busy_);
  take(update_bits(bus(), field, value));
}

bool Board::monitor_samples(int count) {
  const std::lock_guard lock(busy_);
  for (int i = 0; i < count; ++i) {
    monitor::BoardSample sample;
    monitor::read_sample(bus(), sample);
    if (!sample.connected) return false;
  }
  return true;
}

std::vector<std::string> Board::trace() const { return recording_->lines(); }

}  // namespace demodctl::python
