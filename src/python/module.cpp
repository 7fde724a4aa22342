// demodctl._core: the Board class and its values for Python. Every call that does bus work lets
// go of the GIL, so threads drive boards in parallel; a failure becomes an exception of
// demodctl._errors, chosen by the fault's kind and carrying its cause.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>

#include "board.h"
#include "demod/register_map.h"

namespace py = pybind11;
using demodctl::FaultKind;
using demodctl::ModeReport;
using demodctl::Standard;
using demodctl::python::Board;
using demodctl::python::BoardFailure;
using demodctl::python::CaptureResult;
using demodctl::python::LockFlags;
using Release = py::call_guard<py::gil_scoped_release>;

namespace {

// Which exception class of demodctl._errors a fault raises.
const char* error_class(const BoardFailure& failure) {
  if (!failure.fault) return "ChipAbsentError";
  switch (failure.fault->kind) {
    case FaultKind::timeout:
      return "BoardTimeoutError";
    case FaultKind::refused:
      return "RefusedError";
    case FaultKind::read_only:
      return "ReadOnlyError";
    case FaultKind::file:
    case FaultKind::usage:
      return "DemodctlError";
    case FaultKind::no_connection:
    case FaultKind::nack:
    case FaultKind::bus_failure:
    case FaultKind::open_error:
      break;
  }
  return "NoConnectionError";
}

void raise_failure(const BoardFailure& failure) {
  const py::module_ errors = py::module_::import("demodctl._errors");
  const std::string kind =
      failure.fault ? std::string(demodctl::kind_name(failure.fault->kind)) : "chip absent";
  const std::string cause = failure.fault ? failure.fault->cause : "";
  const py::object error = errors.attr(error_class(failure))(failure.what(), kind, cause);
  PyErr_SetObject(error.get_type().ptr(), error.ptr());
}

// The numbers demodctl ad_smp writes to qv_ad_smp, one row per sample pair.
py::array_t<int32_t> sample_array(const CaptureResult& capture) {
  constexpr py::ssize_t kColumns = 2;
  py::array_t<int32_t> samples({static_cast<py::ssize_t>(capture.pairs.size()), kColumns});
  auto cells = samples.mutable_unchecked<2>();
  for (py::ssize_t i = 0; i < cells.shape(0); ++i) {
    cells(i, 0) = capture.pairs[static_cast<size_t>(i)].first;
    cells(i, 1) = capture.pairs[static_cast<size_t>(i)].second;
  }
  return samples;
}

template <typename T>
std::optional<T> known(const ModeReport& m, T value) {
  if (m.standard == Standard::unknown) return std::nullopt;
  return value;
}
std::optional<std::string> text_or_none(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}
bool dvbs2_fixed(const ModeReport& m) { return m.standard == Standard::dvbs2 && !m.vcm; }

void bind_values(py::module_& m) {
  py::class_<LockFlags>(m, "Lock", "The lock status: the six acquisition stages in chain order.")
      .def_readonly("status", &LockFlags::status, "The lock status register as read.")
      .def_property_readonly(
          "agc", [](const LockFlags& l) { return l.stages[0]; }, "AGC settled.")
      .def_property_readonly(
          "cbs", [](const LockFlags& l) { return l.stages[1]; }, "Carrier found by the blind scan.")
      .def_property_readonly(
          "tr", [](const LockFlags& l) { return l.stages[2]; }, "Timing recovery locked.")
      .def_property_readonly(
          "sync", [](const LockFlags& l) { return l.stages[3]; },
          "Frame sync (with FEC lock: the signal is DVB-S2).")
      .def_property_readonly(
          "cr", [](const LockFlags& l) { return l.stages[4]; }, "Carrier recovery locked.")
      .def_property_readonly(
          "fec", [](const LockFlags& l) { return l.stages[5]; },
          "FEC locked: the chain is locked end to end.")
      .def("__repr__", [](const LockFlags& l) {
        std::string text = "Lock(";
        for (size_t i = 0; i < l.stages.size(); ++i) {
          text += std::string(i ? " " : "") + std::string(demodctl::kLockStages[i].name) + "=" +
                  (l.stages[i] ? "1" : "0");
        }
        return text + ")";
      });

  py::class_<ModeReport>(m, "Mode",
                         "The received standard and transmission mode; None where the chip "
                         "gives nothing (no lock, variable coding).")
      .def_property_readonly(
          "standard",
          [](const ModeReport& r) { return text_or_none(demodctl::standard_name(r.standard)); },
          "'DVB-S2', 'DVB-S', 'DirecTV'.")
      .def_property_readonly(
          "modulation",
          [](const ModeReport& r) { return text_or_none(demodctl::modulation_name(r)); },
          "DVB-S2: 'QPSK', '8PSK', ...")
      .def_property_readonly(
          "code_rate",
          [](const ModeReport& r) { return text_or_none(demodctl::code_rate_name(r)); },
          "'3/4', ...")
      .def_property_readonly(
          "modcod",
          [](const ModeReport& r) {
            return dvbs2_fixed(r) ? std::optional<int>(r.modcod) : std::nullopt;
          },
          "DVB-S2 MODCOD.")
      .def_property_readonly(
          "vcm", [](const ModeReport& r) { return known(r, r.vcm); },
          "DVB-S2 variable coding (no MODCOD).")
      .def_property_readonly(
          "frame",
          [](const ModeReport& r) {
            return dvbs2_fixed(r) ? std::optional<std::string>(r.short_frame ? "short" : "normal")
                                  : std::nullopt;
          },
          "DVB-S2 FEC frame: 'normal' or 'short'.")
      .def_property_readonly(
          "pilots",
          [](const ModeReport& r) {
            return dvbs2_fixed(r) ? std::optional<bool>(r.pilots) : std::nullopt;
          },
          "DVB-S2 pilots.")
      .def_property_readonly(
          "roll_off", [](const ModeReport& r) { return demodctl::roll_off(r); },
          "Roll-off factor (0.35, 0.25, 0.2).")
      .def_property_readonly(
          "text", [](const ModeReport& r) { return demodctl::mode_text(r); },
          "The report as demodctl dvb_standard prints it.")
      .def("__repr__", [](const ModeReport& r) { return "Mode(" + demodctl::mode_text(r) + ")"; });
}

uint8_t register_number(int reg) {
  constexpr int kLastRegister = 0xFF;
  if (reg < 0 || reg > kLastRegister) throw py::value_error("register out of 0..0xFF");
  return static_cast<uint8_t>(reg);
}

void bind_board(py::module_& m) {
  py::class_<Board>(m, "_Board", "One board on one open connection (see demodctl.Board).")
      .def(py::init<std::string>(), py::arg("uri"), Release())
      .def_property_readonly("uri", &Board::uri)
      .def("open", &Board::open, Release(), "Opens the connection (nothing if it is open).")
      .def("close", &Board::close, Release(), "Closes the connection.")
      .def_property_readonly("is_open", &Board::is_open)
      .def(
          "identity",
          [](Board& b) {
            std::array<uint8_t, 4> id{};
            {
              py::gil_scoped_release release;
              id = b.identity();
            }
            return py::bytes(reinterpret_cast<const char*>(id.data()), id.size());
          },
          "The four identity bytes; a present chip reads b'..\\x36\\x31' (chip_present()).")
      .def("lock", &Board::lock, Release(), "The lock status: Lock.")
      .def("strength_dbm", &Board::strength_dbm, Release(), "Signal strength, dBm.")
      .def("cn_db", &Board::cn_db, Release(), "C/N, dB; None while the chip has no estimate.")
      .def("ber", &Board::ber, Release(), "Bit error rate; None without FEC lock.")
      .def("lock_time_ms", &Board::lock_time_ms, Release(), "Lock time, ms; None without FEC lock.")
      .def("carrier_offset_hz", &Board::carrier_offset_hz, Release(),
           "Carrier offset, Hz; None without FEC lock.")
      .def("symbol_rate_offset_hz", &Board::symbol_rate_offset_hz, Release(),
           "Symbol-rate offset, Hz; None without FEC lock.")
      .def("mode", &Board::mode, Release(), "The mode report: Mode.")
      .def("init", &Board::init, Release(), "Identity check, then the chip's start-up sequence.")
      .def("hot_reset", &Board::hot_reset, Release(),
           "Identity check, then the hot reset of the demodulator core.")
      .def("_tune", &Board::tune, Release())
      .def(
          "capture",
          [](Board& b, int mode) {
            CaptureResult capture;
            {
              py::gil_scoped_release release;
              capture = b.capture(mode != 1);
            }
            return py::make_tuple(sample_array(capture), capture.mer_db);
          },
          py::arg("mode") = 0,
          "Captures 2048 sample pairs (mode 0: 9-bit, 1: 8-bit, as demodctl ad_smp takes it);\n"
          "returns (samples, mer_db): a numpy int32 array of shape (2048, 2) and the MER in dB\n"
          "(None without FEC lock).")
      .def(
          "read_register",
          [](Board& b, int reg) {
            const uint8_t number = register_number(reg);
            py::gil_scoped_release release;
            return b.read_register(number);
          },
          py::arg("reg"), "One demodulator register by number.")
      .def(
          "read_register",
          [](Board& b, const std::string& name) {
            py::gil_scoped_release release;
            return b.read_field(name);
          },
          py::arg("name"), "A field of the register map by name ('lock_fec', 'agc_level', ...).")
      .def(
          "write_register",
          [](Board& b, int reg, int value) {
            const uint8_t number = register_number(reg);
            const uint8_t byte = register_number(value);
            py::gil_scoped_release release;
            b.write_register(number, byte);
          },
          py::arg("reg"), py::arg("value"), "Writes one demodulator register.")
      .def(
          "write_register",
          [](Board& b, const std::string& name, int value) {
            const uint8_t byte = register_number(value);
            py::gil_scoped_release release;
            b.write_field(name, byte);
          },
          py::arg("name"), py::arg("value"),
          "Updates a field of the register map, the register's other bits kept.")
      .def("_monitor_samples", &Board::monitor_samples, Release(), py::arg("count"))
      .def("trace", &Board::trace, "The last bus operations of this board, oldest first.");
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The demodctl core: boards, their measurements, captures and registers.";
  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const BoardFailure& e) {
      raise_failure(e);
    }
  });
  bind_values(m);
  bind_board(m);
  m.def(
      "chip_present",
      [](const std::string& id) {
        constexpr size_t kIdentityBytes = 4;
        if (id.size() != kIdentityBytes) return false;
        std::array<uint8_t, kIdentityBytes> bytes{};
        std::copy(id.begin(), id.end(), bytes.begin());
        return demodctl::chip_present(bytes);
      },
      py::arg("identity"), "Whether identity() bytes are those of the demodulator.");
  m.def(
      "register_names",
      [] {
        std::vector<std::string> names;
        for (const demodctl::Field& f : demodctl::register_map()) names.emplace_back(f.name);
        return names;
      },
      "The fields of the register map, in register order.");
}
