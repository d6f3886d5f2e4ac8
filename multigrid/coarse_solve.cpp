// The coarsest level's system solved exactly, on the one process that holds the level.
#include "multigrid/coarse_solve.hpp"

namespace {

// The dense matrix of the operator on the unknowns (i, j), numbered (i - 1) * cols + (j - 1).
std::vector<double> operator_matrix(const Level& level, int rows, int cols) {
  const Coefficients& a = level.a;
  const int n = rows * cols;
  std::vector<double> m(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 1; i <= rows; ++i) {
    for (int j = 1; j <= cols; ++j) {
      const int p = (i - 1) * cols + (j - 1);
      double* line = &m[static_cast<std::size_t>(p) * n];
      line[p] = (1.0 + a.x_sum[i]) + a.y_sum[j];
      if (i > 1) line[p - cols] = -a.x_lower[i];
      if (i < rows) line[p + cols] = -a.x_upper[i];
      if (j > 1) line[p - 1] = -a.y_lower[j];
      if (j < cols) line[p + 1] = -a.y_upper[j];
    }
  }
  return m;
}

}  // namespace

CoarseSolver factor(const Level& level) {
  CoarseSolver s;
  s.rows = level.grid().nx - 2;
  s.cols = level.grid().ny - 2;
  const int n = s.rows * s.cols;
  s.lu = operator_matrix(level, s.rows, s.cols);
  std::vector<double>& m = s.lu;
  for (int k = 0; k < n; ++k) {
    const double pivot = m[static_cast<std::size_t>(k) * n + k];
    for (int r = k + 1; r < n; ++r) {
      double& l = m[static_cast<std::size_t>(r) * n + k];
      if (l == 0.0) continue;
      l /= pivot;
      for (int c = k + 1; c < n; ++c) {
        m[static_cast<std::size_t>(r) * n + c] -= l * m[static_cast<std::size_t>(k) * n + c];
      }
    }
  }
  return s;
}

void solve_coarsest(const CoarseSolver& s, Level& level) {
  const Coefficients& a = level.a;
  const int n = s.rows * s.cols;
  std::vector<double> b(n);
  // Grid row i is the block's row i: the level is whole on this process.
  for (int i = 1; i <= s.rows; ++i) {
    for (int j = 1; j <= s.cols; ++j) {
      double value = level.f[i][j];
      if (i == 1) value += a.x_lower[i] * level.u[0][j];
      if (i == s.rows) value += a.x_upper[i] * level.u[s.rows + 1][j];
      b[(i - 1) * s.cols + (j - 1)] = value;
    }
  }
  const std::vector<double>& m = s.lu;
  for (int r = 1; r < n; ++r) {
    for (int c = 0; c < r; ++c) b[r] -= m[static_cast<std::size_t>(r) * n + c] * b[c];
  }
  for (int r = n - 1; r >= 0; --r) {
    for (int c = r + 1; c < n; ++c) b[r] -= m[static_cast<std::size_t>(r) * n + c] * b[c];
    b[r] /= m[static_cast<std::size_t>(r) * n + r];
  }
  for (int i = 1; i <= s.rows; ++i) {
    for (int j = 1; j <= s.cols; ++j) level.u[i][j] = b[(i - 1) * s.cols + (j - 1)];
  }
}
