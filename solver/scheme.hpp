// The coefficients of the explicit update.
#pragma once

// dt / (dx * dx) and dt / (dy * dy): product first, then quotient (dt / dx / dx would round
// differently).
struct Scheme {
  double rx = 0.0;
  double ry = 0.0;
};

inline Scheme make_scheme(const double& dx, const double& dy, const double& dt) {
  Scheme scheme;
  scheme.rx = dt / (dx * dx);
  scheme.ry = dt / (dy * dy);
  return scheme;
}
