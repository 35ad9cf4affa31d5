// Composing two U3 gates into one: quaternions for the angles, 2x2 matrices for the phase.
#include "u3_compose.hpp"

#include <array>
#include <cmath>
#include <complex>

namespace tarvex::qiskit_plugin {

namespace {

using Quaternion = std::array<double, 4>;  // w, x, y, z
using Matrix = std::array<std::complex<double>, 4>;  // row major

// The product q r, in the order rotation q then r is written (q * r).
Quaternion multiply(const Quaternion& q, const Quaternion& r) {
  return {r[0] * q[0] - r[1] * q[1] - r[2] * q[2] - r[3] * q[3],
          r[0] * q[1] + r[1] * q[0] - r[2] * q[3] + r[3] * q[2],
          r[0] * q[2] + r[1] * q[3] + r[2] * q[0] - r[3] * q[1],
          r[0] * q[3] - r[1] * q[2] + r[2] * q[1] + r[3] * q[0]};
}

Quaternion normalized(Quaternion q) {
  const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (double& v : q) v /= norm;
  return q;
}

Quaternion about_y(double angle) { return {std::cos(angle / 2.0), 0.0, std::sin(angle / 2.0), 0.0}; }
Quaternion about_z(double angle) { return {std::cos(angle / 2.0), 0.0, 0.0, std::sin(angle / 2.0)}; }

// The Z-Y-Z angles (first Z, Y, last Z) of a rotation given as a unit quaternion.
std::array<double, 3> zyz(const Quaternion& unit) {
  const auto [w, x, y, z] = normalized(unit);
  const double m02 = 2 * x * z + 2 * y * w, m12 = 2 * y * z - 2 * x * w;
  const double m20 = 2 * x * z - 2 * y * w, m21 = 2 * y * z + 2 * x * w, m22 = 1 - 2 * x * x - 2 * y * y;
  const double m10 = 2 * x * y + 2 * z * w, m11 = 1 - 2 * x * x - 2 * z * z;
  std::array<double, 3> e{0.0, 0.0, 0.0};
  if (m22 < 1) {
    if (m22 > -1) {
      e[0] = std::atan2(m12, m02);
      e[1] = std::acos(m22);
      e[2] = std::atan2(m21, -m20);
    } else {
      e[0] = -std::atan2(m10, m11);
      e[1] = M_PI;
    }
  } else {
    e[0] = std::atan2(m10, m11);
  }
  return e;
}

Matrix u3(const U3Angles& a) {
  const double c = std::cos(a.theta / 2.0), s = std::sin(a.theta / 2.0);
  return {c, -std::polar(1.0, a.lam) * s, std::polar(1.0, a.phi) * s, std::polar(1.0, a.phi + a.lam) * c};
}

Matrix product(const Matrix& a, const Matrix& b) {
  return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2], a[2] * b[1] + a[3] * b[3]};
}

}  // namespace

ComposedU3 compose_u3(const U3Angles& a, const U3Angles& b) {
  const Quaternion yzy = normalized(multiply(multiply(about_y(a.theta), about_z(a.lam + b.phi)), about_y(b.theta)));
  const std::array<double, 3> e = zyz(yzy);
  auto chop = [](double v) { return std::abs(v) < 1e-15 ? 0.0 : v; };
  const U3Angles out{chop(e[1]), a.phi + chop(e[0]), b.lam + chop(e[2])};
  // U3(out)^H (U3(a) U3(b)) = e^{i phase} I: its trace is 2 e^{i phase}.
  const Matrix whole = product(u3(a), u3(b));
  const Matrix merged = u3(out);
  const std::complex<double> trace = std::conj(merged[0]) * whole[0] + std::conj(merged[2]) * whole[2] +
                                     std::conj(merged[1]) * whole[1] + std::conj(merged[3]) * whole[3];
  return {out, std::arg(trace)};
}

}  // namespace tarvex::qiskit_plugin
