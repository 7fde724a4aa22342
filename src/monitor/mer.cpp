#include "monitor/mer.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "demod/register_map.h"
#include "sim/apsk_rings.h"

namespace demodctl::monitor {
namespace {

// DVB-S2 MODCOD ranges by modulation.
constexpr uint8_t kFirstModcod = 1;
constexpr uint8_t kFirst8psk = 12;
// Rounds of decide-and-refit of the scale; it settles in two or three.
constexpr int kScaleRounds = 6;

void ring(std::vector<std::complex<double>>& points, int n, double radius, double phase) {
  for (int k = 0; k < n; ++k) {
    points.push_back(std::polar(radius, phase + 2.0 * std::numbers::pi * k / n));
  }
}

std::complex<double> nearest(const std::vector<std::complex<double>>& points,
                             std::complex<double> x) {
  std::complex<double> best = points.front();
  double best_distance = std::numeric_limits<double>::infinity();
  for (const auto& p : points) {
    const double d = std::norm(x - p);
    if (d < best_distance) {
      best_distance = d;
      best = p;
    }
  }
  return best;
}

}  // namespace

Constellation constellation_for(uint8_t lock_status, uint8_t pls) {
  const uint8_t modcod = modcod_of(pls);
  if (!reg::lock_sync.set_in(lock_status) || modcod < kFirstModcod || modcod > kLast32apskModcod) {
    return Constellation::qpsk;
  }
  if (modcod < kFirst8psk) return Constellation::qpsk;
  if (modcod < kFirst16apskModcod) return Constellation::psk8;
  if (modcod < kFirst32apskModcod) return Constellation::apsk16;
  return Constellation::apsk32;
}

const char* constellation_name(Constellation c) {
  switch (c) {
    case Constellation::qpsk:
      return "QPSK";
    case Constellation::psk8:
      return "8PSK";
    case Constellation::apsk16:
      return "16APSK";
    case Constellation::apsk32:
      return "32APSK";
  }
  return "QPSK";
}

uint8_t modcod_of(uint8_t pls) { return reg::modcod.get(pls); }

std::vector<std::complex<double>> ideal_points(Constellation c, uint8_t modcod) {
  std::vector<std::complex<double>> points;
  const double quarter = std::numbers::pi / 4;
  switch (c) {
    case Constellation::qpsk:
      ring(points, 4, 1.0, quarter);
      break;
    case Constellation::psk8:
      ring(points, 8, 1.0, 0.0);
      break;
    case Constellation::apsk16:
      ring(points, 4, apsk16_radii(modcod).inner, quarter);
      ring(points, 12, 1.0, quarter / 3);
      break;
    case Constellation::apsk32:
      ring(points, 4, apsk32_radii(modcod).inner, quarter);
      ring(points, 12, apsk32_radii(modcod).middle, quarter / 3);
      ring(points, 16, 1.0, 0.0);
      break;
  }
  return points;
}

std::optional<double> mer_db(std::span<const std::pair<int, int>> samples, Constellation c,
                             uint8_t modcod) {
  if (samples.empty()) return std::nullopt;
  const auto points = ideal_points(c, modcod);
  std::vector<std::complex<double>> x;
  x.reserve(samples.size());
  double sample_power = 0.0;
  for (const auto& [i, q] : samples) {
    x.emplace_back(i, q);
    sample_power += std::norm(x.back());
  }
  double point_power = 0.0;
  for (const auto& p : points) point_power += std::norm(p);
  sample_power /= static_cast<double>(x.size());
  point_power /= static_cast<double>(points.size());
  if (sample_power <= 0.0) return std::nullopt;

  double scale = std::sqrt(sample_power / point_power);
  double ideal_sum = 0.0;
  double error_sum = 0.0;
  for (int round = 0; round < kScaleRounds; ++round) {
    // Decide at the current scale, then refit it: scale = sum Re(x conj p) / sum |p|^2.
    double correlation = 0.0;
    double decided_power = 0.0;
    std::vector<std::complex<double>> decided;
    decided.reserve(x.size());
    for (const auto& s : x) {
      decided.push_back(nearest(points, s / scale));
      correlation += std::real(s * std::conj(decided.back()));
      decided_power += std::norm(decided.back());
    }
    if (correlation <= 0.0) return std::nullopt;
    scale = correlation / decided_power;
    ideal_sum = 0.0;
    error_sum = 0.0;
    for (size_t n = 0; n < x.size(); ++n) {
      const auto ideal = decided[n] * scale;
      ideal_sum += std::norm(ideal);
      error_sum += std::norm(x[n] - ideal);
    }
  }
  if (error_sum <= 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(ideal_sum / error_sum);
}

}  // namespace demodctl::monitor
