// The time-stepping methods, and what each of them does in a step.
#pragma once

// The explicit update (forward Euler in time, stable only for dt*(1/dx^2 + 1/dy^2) <= 1/2), and
// three implicit methods that take any time step: backward Euler (first order, L-stable),
// Crank-Nicolson (second order, A-stable, started by four backward Euler half-steps that damp the
// hot edge's jump) and TR-BDF2 (second order, L-stable: a trapezoidal stage and a BDF2 stage).
enum class Method { explicit_update, euler, crank_nicolson, trbdf2 };

constexpr bool is_implicit(Method method) {
  return method != Method::explicit_update;
}
