// Minimum s-t cut of a sparse graph by augmenting paths found in two search
// trees that are kept between augmentations, so that a picture's graph (a
// few arcs a node, most paths short) is cut in near-linear time. Plus the
// plain breadth-first method beside it, which tests hold it against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CMaxFlowGraph {
 public:
  // Nodes 0..nodeCount-1; `edgeHint` edges are reserved up front.
  explicit CMaxFlowGraph(int nodeCount, size_t edgeHint = 0);

  // Adds capacities from the source to `node` and from `node` to the sink.
  // Only their difference needs an arc; the common part is flow already.
  void AddTerminal(int node, int32_t fromSource, int32_t toSink);
  // An edge between a and b, carrying up to capAB from a to b and capBA back.
  void AddEdge(int a, int b, int32_t capAB, int32_t capBA);

  // The maximum flow, equal to the cut's capacity. Call once.
  int64_t Solve();
  // After Solve: true when `node` is on the source's side of a minimum cut.
  bool OnSourceSide(int node) const;

  int NodeCount() const { return static_cast<int>(m_nodes.size()); }

 private:
  struct CNode {
    int32_t firstArc = -1;
    int32_t parent = -1;    // arc to the parent, or kFree, kTerminal, kOrphan
    int32_t stamp = 0;      // when `dist` was last known true
    int32_t dist = 0;       // arcs to the tree's terminal
    int32_t terminal = 0;   // > 0 residual from the source, < 0 to the sink
    int32_t nextActive = -1;
    bool inSinkTree = false;
  };
  struct CArc {
    int32_t head;
    int32_t next;
    int32_t residual;
  };

  static int32_t Sister(int32_t arc) { return arc ^ 1; }
  int32_t Tail(int32_t arc) const { return m_arcs[Sister(arc)].head; }
  void MakeActive(int node);
  int NextActive();
  int32_t Grow(int node);
  void Augment(int32_t middle);
  void Orphan(int node);
  void Adopt(int node);
  bool CanReachTerminal(int node, int& dist);

  std::vector<CNode> m_nodes;
  std::vector<CArc> m_arcs;
  std::vector<int> m_orphans;
  int m_activeFirst = -1;
  int m_activeLast = -1;
  int32_t m_time = 0;
  int64_t m_flow = 0;
};

// The same cut by repeated shortest augmenting paths on a dense matrix
// (node n is the source, n + 1 the sink). Small graphs only.
struct CReferenceCut {
  int64_t flow = 0;
  std::vector<bool> sourceSide;  // reachable from the source in the residual graph
};
CReferenceCut ReferenceMaxFlow(int nodeCount, const std::vector<int64_t>& capacity);
