// The exact solution of the problem the solvers approximate.
#pragma once

// T(x, t) for the heat equation T_t = T_xx on 0 <= x <= L with T(0, t) = 100, T(L, t) = 0 and
// T(x, 0) = 0: the field heat2d computes, whose insulated sides make it independent of y (but for
// the one-step lag of the side columns). Accurate to about 1e-12 for every t > 0 at a cost of a few
// dozen terms at most: the Fourier series converges fast for large t, the sum of images with erfc
// for small t, and the one that needs fewer terms is used.
double exact_solution(double x, double L, double t);

// The two series on their own, summed until their terms fall below 1e-16 (for tests).
double exact_solution_fourier(double x, double L, double t);
double exact_solution_images(double x, double L, double t);
