// Composing two U3 gates into one, as Qiskit's single-qubit gate merging does, with the phase the
// merged gate leaves out.
#pragma once

namespace tarvex::qiskit_plugin {

struct U3Angles {
  double theta, phi, lam;
};

/// U3(a) . U3(b) (b applied first) = e^{i phase} U3(angles): the angles through the quaternion of
/// Ry(a.theta) Rz(a.lam + b.phi) Ry(b.theta) read back as Z-Y-Z rotations (angles below 1e-15
/// taken as 0), and the phase of the product the U3 form drops. O(1).
struct ComposedU3 {
  U3Angles angles;
  double phase;
};
ComposedU3 compose_u3(const U3Angles& a, const U3Angles& b);

}  // namespace tarvex::qiskit_plugin
