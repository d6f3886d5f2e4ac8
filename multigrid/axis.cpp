// One direction of one level of the multigrid: its nodes, how each couples to its neighbours, and
// how the direction passes to the next coarser level's.
#include "multigrid/axis.hpp"

namespace {

// Each unknown's finite volume and its couplings, from the nodes' places: the volume reaches half
// way to each neighbour, or to the wall at an insulated end, across which nothing couples.
void fill_couplings(Axis& a) {
  const int n = a.nodes;
  const std::vector<double>& p = a.position;
  a.width.assign(n, 0.0);
  a.lower.assign(n, 0.0);
  a.upper.assign(n, 0.0);
  for (int k = 1; k <= n - 2; ++k) {
    const bool first = !a.held_ends && k == 1;
    const bool last = !a.held_ends && k == n - 2;
    const double left = first ? a.walls[0] : (p[k - 1] + p[k]) / 2;
    const double right = last ? a.walls[1] : (p[k] + p[k + 1]) / 2;
    a.width[k] = right - left;
    if (!first) a.lower[k] = a.inverse_h2 / ((p[k] - p[k - 1]) * a.width[k]);
    if (!last) a.upper[k] = a.inverse_h2 / ((p[k + 1] - p[k]) * a.width[k]);
  }
}

// The fine nodes the coarse direction keeps: every other one from the first end, and the last
// end. Along a held direction that is every even node; along an insulated one every odd node, the
// first unknown being node 1, and the two ends.
std::vector<int> anchors(const Axis& fine) {
  std::vector<int> kept = {0};
  for (int k = fine.held_ends ? 2 : 1; k <= fine.nodes - 2; k += 2) kept.push_back(k);
  kept.push_back(fine.nodes - 1);
  return kept;
}

void interpolate(const Axis& fine, const Axis& coarse, AxisTransfer& t) {
  const int n = fine.nodes;
  for (int i = 0; i < 2; ++i) {
    t.parent[i].assign(n, 0);
    t.part[i].assign(n, 0.0);
  }
  int c = 0;  // the coarse node at or before fine node f
  for (int f = 0; f < n; ++f) {
    while (c + 1 < coarse.nodes && t.anchor[c + 1] <= f) ++c;
    t.parent[0][f] = t.parent[1][f] = c;
    t.part[0][f] = 1.0;
    if (t.anchor[c] == f) continue;
    // Past the last unknown of an insulated direction, the correction stays level.
    if (!fine.held_ends && c + 1 == coarse.nodes - 1) continue;
    const double a = coarse.position[c];
    const double b = coarse.position[c + 1];
    t.parent[1][f] = c + 1;
    t.part[0][f] = (b - fine.position[f]) / (b - a);
    t.part[1][f] = (fine.position[f] - a) / (b - a);
  }
}

// Each coarse unknown's share of its anchor's fine neighbours: the prolongation's weight of it
// there, times the fine volume over its own.
void gather(const Axis& fine, const Axis& coarse, AxisTransfer& t) {
  t.gather.assign(coarse.nodes, {0.0, 0.0, 0.0});
  for (int c = 1; c <= coarse.nodes - 2; ++c) {
    for (int d = -1; d <= 1; ++d) {
      const int f = t.anchor[c] + d;
      if (f < 1 || f > fine.nodes - 2) continue;
      double weight = 0.0;
      for (int i = 0; i < 2; ++i) {
        if (t.parent[i][f] == c) weight += t.part[i][f];
      }
      t.gather[c][d + 1] = weight * fine.width[f] / coarse.width[c];
    }
  }
}

// The widest run of coarse unknowns around the middle one that gather alike, two evenly spaced
// fine nodes apart.
void find_regular(const Axis& fine, AxisTransfer& t) {
  const int nodes = static_cast<int>(t.anchor.size());
  const int middle = nodes / 2;
  const auto regular = [&](int c) {
    if (c < 1 || c > nodes - 2 || t.gather[c] != t.gather[middle]) return false;
    const int f = t.anchor[c];
    const double h = fine.position[f + 1] - fine.position[f];
    return t.anchor[c + 1] - f == 2 && fine.position[f] - fine.position[f - 1] == h &&
           fine.position[f + 2] - fine.position[f + 1] == h;
  };
  if (!regular(middle)) return;
  int begin = middle;
  int end = middle + 1;
  while (regular(begin - 1)) --begin;
  while (regular(end)) ++end;
  t.regular[0] = begin;
  t.regular[1] = end;
}

}  // namespace

Axis finest_axis(int nodes, bool held_ends, double h) {
  Axis axis;
  axis.nodes = nodes;
  axis.held_ends = held_ends;
  axis.inverse_h2 = 1.0 / (h * h);
  // An insulated end copies its inner neighbour: no flux crosses half-way between them.
  axis.walls[0] = 0.5;
  axis.walls[1] = nodes - 1.5;
  axis.position.resize(nodes);
  for (int k = 0; k < nodes; ++k) axis.position[k] = k;
  fill_couplings(axis);
  return axis;
}

bool can_coarsen(const Axis& axis) {
  return axis.unknowns() >= 3;
}

Axis coarser_axis(const Axis& fine, bool coarsen, AxisTransfer& transfer) {
  transfer = AxisTransfer{};
  transfer.coarsened = coarsen;
  if (!coarsen) {
    for (int k = 0; k < fine.nodes; ++k) transfer.anchor.push_back(k);
    for (int i = 0; i < 2; ++i) {
      transfer.parent[i] = transfer.anchor;
      transfer.part[i].assign(fine.nodes, i == 0 ? 1.0 : 0.0);
    }
    transfer.gather.assign(fine.nodes, {0.0, 1.0, 0.0});
    return fine;
  }
  transfer.anchor = anchors(fine);
  Axis coarse;
  coarse.nodes = static_cast<int>(transfer.anchor.size());
  coarse.held_ends = fine.held_ends;
  coarse.inverse_h2 = fine.inverse_h2;
  coarse.walls[0] = fine.walls[0];
  coarse.walls[1] = fine.walls[1];
  for (int f : transfer.anchor) coarse.position.push_back(fine.position[f]);
  fill_couplings(coarse);
  interpolate(fine, coarse, transfer);
  gather(fine, coarse, transfer);
  find_regular(fine, transfer);
  return coarse;
}
