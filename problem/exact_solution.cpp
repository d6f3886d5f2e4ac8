// The exact solution of the problem the solvers approximate.
#include "problem/exact_solution.hpp"

#include <cmath>

#include "problem/problem.hpp"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double NEGLIGIBLE = 1e-16;  // relative to the 100 of the hot edge

// Terms each series needs before they fall below NEGLIGIBLE: the Fourier terms decay like
// exp(-(n pi / L)^2 t), the images like erfc(k L / sqrt(t)), which is below 1e-16 past 5.9.
double fourier_terms(double L, double t) {
  return L / PI * std::sqrt(37.0 / t);
}
double image_terms(double L, double t) {
  return 5.9 * std::sqrt(t) / L;
}

}  // namespace

double exact_solution_fourier(double x, double L, double t) {
  // T = H (1 - x/L) - sum over n >= 1 of (2H / (n pi)) sin(n pi x / L) exp(-(n pi / L)^2 t), H hot
  double sum = 0.0;
  for (int n = 1;; ++n) {
    const double k = n * PI / L;
    const double amplitude = 2.0 * HOT_EDGE / (n * PI) * std::exp(-k * k * t);
    sum += amplitude * std::sin(k * x);
    if (amplitude < NEGLIGIBLE * HOT_EDGE) break;
  }
  return HOT_EDGE * (1.0 - x / L) - sum;
}

double exact_solution_images(double x, double L, double t) {
  // The hot edge's half-space solution 100 erfc(x / (2 sqrt t)), reflected at both edges:
  // T = 100 * sum over k >= 0 of [erfc((2kL + x) / (2 sqrt t)) - erfc((2(k+1)L - x) / (2 sqrt t))]
  const double scale = 2.0 * std::sqrt(t);
  double sum = 0.0;
  for (int k = 0;; ++k) {
    const double nearer = std::erfc((2.0 * k * L + x) / scale);
    sum += nearer - std::erfc((2.0 * (k + 1) * L - x) / scale);
    if (nearer < NEGLIGIBLE) break;
  }
  return HOT_EDGE * sum;
}

double exact_solution(double x, double L, double t) {
  return fourier_terms(L, t) < image_terms(L, t) ? exact_solution_fourier(x, L, t)
                                                 : exact_solution_images(x, L, t);
}
