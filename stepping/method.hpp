// The time-stepping methods, and the words that name them.
#pragma once

#include <cstring>

// The explicit update (forward Euler in time, stable only for dt*(1/dx^2 + 1/dy^2) <= 1/2), and
// three implicit methods that take any time step: backward Euler (first order, L-stable),
// Crank-Nicolson (second order, A-stable, started by four backward Euler half-steps that damp the
// hot edge's jump) and TR-BDF2 (second order, L-stable: a trapezoidal stage and a BDF2 stage).
enum class Method { explicit_update, euler, crank_nicolson, trbdf2 };

// The names the command line, the summary and the records of saved fields use, in that order.
constexpr const char* METHOD_NAMES[] = {"explicit", "euler", "cn", "trbdf2"};
constexpr int METHOD_COUNT = 4;

constexpr bool is_implicit(Method method) {
  return method != Method::explicit_update;
}

inline const char* method_name(Method method) {
  return METHOD_NAMES[static_cast<int>(method)];
}

// The method named `name`; false where no method has that name.
inline bool method_named(const char* name, Method& method) {
  for (int m = 0; m < METHOD_COUNT; ++m) {
    if (std::strcmp(name, METHOD_NAMES[m]) == 0) {
      method = static_cast<Method>(m);
      return true;
    }
  }
  return false;
}
