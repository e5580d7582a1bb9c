#include "engine/MaxFlow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// A random graph in both forms: the dense matrix the reference reads (node n
// the source, n + 1 the sink) and the same capacities in the fast graph.
struct CRandomGraph {
  int nodes = 0;
  std::vector<int64_t> dense;
  struct CEdge {
    int a, b;
    int32_t ab, ba;
  };
  std::vector<CEdge> edges;
  std::vector<std::pair<int32_t, int32_t>> terminals;
};

CRandomGraph MakeGraph(std::mt19937& random, int nodes, int edges, int most) {
  CRandomGraph g;
  g.nodes = nodes;
  const int n = nodes + 2;
  g.dense.assign(static_cast<size_t>(n) * n, 0);
  auto cap = [&] { return static_cast<int32_t>(random() % (most + 1)); };
  for (int i = 0; i < nodes; ++i) {
    // Many nodes tied to neither terminal, as in a picture's graph.
    const int32_t s = random() % 3 == 0 ? cap() : 0;
    const int32_t t = random() % 3 == 0 ? cap() : 0;
    g.terminals.push_back({s, t});
    g.dense[static_cast<size_t>(nodes) * n + i] += s;
    g.dense[static_cast<size_t>(i) * n + nodes + 1] += t;
  }
  for (int e = 0; e < edges; ++e) {
    const int a = static_cast<int>(random() % nodes);
    const int b = static_cast<int>(random() % nodes);
    if (a == b) continue;
    const CRandomGraph::CEdge edge{a, b, cap(), cap()};
    g.edges.push_back(edge);
    g.dense[static_cast<size_t>(a) * n + b] += edge.ab;
    g.dense[static_cast<size_t>(b) * n + a] += edge.ba;
  }
  return g;
}

// The capacity of the cut the side function names, from the dense matrix.
template <class Side>
int64_t CutCapacity(const CRandomGraph& g, Side onSource) {
  const int n = g.nodes + 2;
  auto sourceSide = [&](int v) { return v == g.nodes || (v < g.nodes && onSource(v)); };
  int64_t total = 0;
  for (int u = 0; u < n; ++u) {
    for (int v = 0; v < n; ++v) {
      if (sourceSide(u) && !sourceSide(v)) total += g.dense[static_cast<size_t>(u) * n + v];
    }
  }
  return total;
}

}  // namespace

TEST(MaxFlow, SameFlowAsThePlainMethodAndItsCutIsAMinimumCut) {
  std::mt19937 random(20261210);
  for (int trial = 0; trial < 400; ++trial) {
    const int nodes = 1 + static_cast<int>(random() % 14);
    const int edges = static_cast<int>(random() % (3 * nodes + 1));
    const int most = trial % 2 == 0 ? 3 : 100;  // small capacities tie often
    const CRandomGraph g = MakeGraph(random, nodes, edges, most);
    CMaxFlowGraph graph(nodes, g.edges.size());
    for (int i = 0; i < nodes; ++i) graph.AddTerminal(i, g.terminals[i].first, g.terminals[i].second);
    for (const auto& e : g.edges) graph.AddEdge(e.a, e.b, e.ab, e.ba);

    const CReferenceCut reference = ReferenceMaxFlow(nodes, g.dense);
    const int64_t flow = graph.Solve();
    ASSERT_EQ(flow, reference.flow) << "trial " << trial;
    // The fast graph's own partition must be a cut of exactly that capacity.
    EXPECT_EQ(CutCapacity(g, [&](int v) { return graph.OnSourceSide(v); }), flow)
        << "trial " << trial;
    EXPECT_EQ(CutCapacity(g, [&](int v) { return reference.sourceSide[v]; }), flow);
  }
}

// A grid like a picture's: left column tied to the source, right to the
// sink, one weak column in between; the cut must run through it.
TEST(MaxFlow, GridIsCutAtItsWeakestColumn) {
  const int w = 9;
  const int h = 7;
  CMaxFlowGraph graph(w * h);
  for (int y = 0; y < h; ++y) {
    graph.AddTerminal(y * w, 1000, 0);
    graph.AddTerminal(y * w + w - 1, 0, 1000);
    for (int x = 0; x + 1 < w; ++x) {
      const int32_t c = x == 5 ? 2 : 50;
      graph.AddEdge(y * w + x, y * w + x + 1, c, c);
      if (y + 1 < h) graph.AddEdge(y * w + x, (y + 1) * w + x, 50, 50);
    }
  }
  EXPECT_EQ(graph.Solve(), 2 * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) EXPECT_EQ(graph.OnSourceSide(y * w + x), x <= 5) << x << "," << y;
  }
}
