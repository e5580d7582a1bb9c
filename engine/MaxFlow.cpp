#include "engine/MaxFlow.h"

#include <algorithm>
#include <deque>
#include <limits>

namespace {

// What a node's parent field holds when it is no arc.
constexpr int32_t kFree = -1;      // in neither tree
constexpr int32_t kTerminal = -2;  // a root: tied to its tree's terminal
constexpr int32_t kOrphan = -3;    // lost its parent arc, not yet adopted
// Stands for a distance no path has.
constexpr int kFar = std::numeric_limits<int>::max();

}  // namespace

CMaxFlowGraph::CMaxFlowGraph(int nodeCount, size_t edgeHint) : m_nodes(nodeCount) {
  m_arcs.reserve(2 * edgeHint);
}

void CMaxFlowGraph::AddTerminal(int node, int32_t fromSource, int32_t toSink) {
  // Flow through s -> node -> t is settled at once; what is left over is the
  // node's single terminal residual.
  m_flow += std::min(fromSource, toSink);
  m_nodes[node].terminal += fromSource - toSink;
}

void CMaxFlowGraph::AddEdge(int a, int b, int32_t capAB, int32_t capBA) {
  const int32_t ab = static_cast<int32_t>(m_arcs.size());
  m_arcs.push_back({b, m_nodes[a].firstArc, capAB});
  m_arcs.push_back({a, m_nodes[b].firstArc, capBA});
  m_nodes[a].firstArc = ab;
  m_nodes[b].firstArc = ab + 1;
}

void CMaxFlowGraph::MakeActive(int node) {
  CNode& n = m_nodes[node];
  if (n.nextActive != -1 || m_activeLast == node) return;
  if (m_activeLast == -1) {
    m_activeFirst = node;
  } else {
    m_nodes[m_activeLast].nextActive = node;
  }
  m_activeLast = node;
}

int CMaxFlowGraph::NextActive() {
  while (m_activeFirst != -1) {
    const int node = m_activeFirst;
    CNode& n = m_nodes[node];
    m_activeFirst = n.nextActive;
    n.nextActive = -1;
    if (m_activeFirst == -1) m_activeLast = -1;
    if (n.parent != kFree) return node;
  }
  return -1;
}

// Grows the node's tree by its neighbours; returns the arc from the source's
// side to the sink's where the trees meet, or -1.
int32_t CMaxFlowGraph::Grow(int node) {
  CNode& n = m_nodes[node];
  for (int32_t a = n.firstArc; a != -1; a = m_arcs[a].next) {
    // Flow runs away from the source and towards the sink.
    const int32_t open = n.inSinkTree ? m_arcs[Sister(a)].residual : m_arcs[a].residual;
    if (open == 0) continue;
    const int j = m_arcs[a].head;
    CNode& m = m_nodes[j];
    if (m.parent == kFree) {
      m.inSinkTree = n.inSinkTree;
      m.parent = Sister(a);
      m.stamp = n.stamp;
      m.dist = n.dist + 1;
      MakeActive(j);
    } else if (m.inSinkTree != n.inSinkTree) {
      return n.inSinkTree ? Sister(a) : a;
    } else if (m.stamp <= n.stamp && m.dist > n.dist) {
      // A shorter way to the terminal keeps later paths short.
      m.parent = Sister(a);
      m.stamp = n.stamp;
      m.dist = n.dist + 1;
    }
  }
  return -1;
}

void CMaxFlowGraph::Orphan(int node) {
  m_nodes[node].parent = kOrphan;
  m_orphans.push_back(node);
}

void CMaxFlowGraph::Augment(int32_t middle) {
  int32_t bottleneck = m_arcs[middle].residual;
  for (int i = Tail(middle); m_nodes[i].parent != kTerminal; i = m_arcs[m_nodes[i].parent].head) {
    bottleneck = std::min(bottleneck, m_arcs[Sister(m_nodes[i].parent)].residual);
  }
  {
    int i = Tail(middle);
    while (m_nodes[i].parent != kTerminal) i = m_arcs[m_nodes[i].parent].head;
    bottleneck = std::min(bottleneck, m_nodes[i].terminal);
  }
  for (int i = m_arcs[middle].head; m_nodes[i].parent != kTerminal;
       i = m_arcs[m_nodes[i].parent].head) {
    bottleneck = std::min(bottleneck, m_arcs[m_nodes[i].parent].residual);
  }
  {
    int i = m_arcs[middle].head;
    while (m_nodes[i].parent != kTerminal) i = m_arcs[m_nodes[i].parent].head;
    bottleneck = std::min(bottleneck, -m_nodes[i].terminal);
  }

  m_arcs[middle].residual -= bottleneck;
  m_arcs[Sister(middle)].residual += bottleneck;
  // Source side: flow runs from each parent down to its child.
  int i = Tail(middle);
  while (m_nodes[i].parent != kTerminal) {
    const int32_t up = m_nodes[i].parent;
    const int parent = m_arcs[up].head;
    m_arcs[up].residual += bottleneck;
    m_arcs[Sister(up)].residual -= bottleneck;
    if (m_arcs[Sister(up)].residual == 0) Orphan(i);
    i = parent;
  }
  m_nodes[i].terminal -= bottleneck;
  if (m_nodes[i].terminal == 0) Orphan(i);
  // Sink side: from each child up to its parent.
  i = m_arcs[middle].head;
  while (m_nodes[i].parent != kTerminal) {
    const int32_t up = m_nodes[i].parent;
    const int parent = m_arcs[up].head;
    m_arcs[Sister(up)].residual += bottleneck;
    m_arcs[up].residual -= bottleneck;
    if (m_arcs[up].residual == 0) Orphan(i);
    i = parent;
  }
  m_nodes[i].terminal += bottleneck;
  if (m_nodes[i].terminal == 0) Orphan(i);
  m_flow += bottleneck;
}

// Whether the node's chain of parents ends at a terminal; `dist` receives
// its length. Nodes found valid are stamped so that later walks stop there.
bool CMaxFlowGraph::CanReachTerminal(int node, int& dist) {
  int steps = 0;
  int i = node;
  for (;;) {
    const CNode& n = m_nodes[i];
    if (n.stamp == m_time) {
      steps += n.dist;
      break;
    }
    if (n.parent == kTerminal) {
      steps += 1;
      break;
    }
    if (n.parent == kOrphan || n.parent == kFree) return false;
    ++steps;
    i = m_arcs[n.parent].head;
  }
  dist = steps;
  // Stamp the chain with its now known distances.
  for (i = node; m_nodes[i].stamp != m_time; i = m_arcs[m_nodes[i].parent].head) {
    m_nodes[i].stamp = m_time;
    m_nodes[i].dist = steps--;
    if (m_nodes[i].parent == kTerminal) break;
  }
  return true;
}

void CMaxFlowGraph::Adopt(int node) {
  CNode& n = m_nodes[node];
  int32_t best = -1;
  int bestDist = kFar;
  for (int32_t a = n.firstArc; a != -1; a = m_arcs[a].next) {
    const int j = m_arcs[a].head;
    const CNode& m = m_nodes[j];
    if (m.parent == kFree || m.inSinkTree != n.inSinkTree) continue;
    const int32_t open = n.inSinkTree ? m_arcs[a].residual : m_arcs[Sister(a)].residual;
    if (open == 0) continue;
    int dist = 0;
    if (CanReachTerminal(j, dist) && dist < bestDist) {
      best = a;
      bestDist = dist;
    }
  }
  if (best != -1) {
    n.parent = best;
    n.stamp = m_time;
    n.dist = bestDist + 1;
    return;
  }
  // No way back to its tree: the node is free, its children are orphans and
  // its neighbours in the tree may reach it again later.
  for (int32_t a = n.firstArc; a != -1; a = m_arcs[a].next) {
    const int j = m_arcs[a].head;
    CNode& m = m_nodes[j];
    if (m.parent == kFree || m.inSinkTree != n.inSinkTree) continue;
    const int32_t open = n.inSinkTree ? m_arcs[a].residual : m_arcs[Sister(a)].residual;
    if (open != 0) MakeActive(j);
    if (m.parent >= 0 && m_arcs[m.parent].head == node) Orphan(j);
  }
  n.parent = kFree;
}

int64_t CMaxFlowGraph::Solve() {
  for (int i = 0; i < NodeCount(); ++i) {
    CNode& n = m_nodes[i];
    if (n.terminal == 0) continue;
    n.inSinkTree = n.terminal < 0;
    n.parent = kTerminal;
    n.stamp = 0;
    n.dist = 1;
    MakeActive(i);
  }
  int node = -1;
  for (;;) {
    if (node == -1 || m_nodes[node].parent == kFree) {
      node = NextActive();
      if (node == -1) break;
    }
    const int32_t middle = Grow(node);
    if (middle == -1) {
      node = -1;
      continue;
    }
    ++m_time;
    Augment(middle);
    while (!m_orphans.empty()) {
      const int orphan = m_orphans.back();
      m_orphans.pop_back();
      Adopt(orphan);
    }
  }
  return m_flow;
}

bool CMaxFlowGraph::OnSourceSide(int node) const {
  const CNode& n = m_nodes[node];
  return n.parent != kFree && !n.inSinkTree;
}

CReferenceCut ReferenceMaxFlow(int nodeCount, const std::vector<int64_t>& capacity) {
  const int n = nodeCount + 2;
  const int source = nodeCount;
  const int sink = nodeCount + 1;
  std::vector<int64_t> residual = capacity;
  CReferenceCut cut;
  std::vector<int> from(n);
  for (;;) {
    std::fill(from.begin(), from.end(), -1);
    from[source] = source;
    std::deque<int> queue{source};
    while (!queue.empty() && from[sink] == -1) {
      const int u = queue.front();
      queue.pop_front();
      for (int v = 0; v < n; ++v) {
        if (from[v] == -1 && residual[static_cast<size_t>(u) * n + v] > 0) {
          from[v] = u;
          queue.push_back(v);
        }
      }
    }
    if (from[sink] == -1) break;
    int64_t push = std::numeric_limits<int64_t>::max();
    for (int v = sink; v != source; v = from[v]) {
      push = std::min(push, residual[static_cast<size_t>(from[v]) * n + v]);
    }
    for (int v = sink; v != source; v = from[v]) {
      residual[static_cast<size_t>(from[v]) * n + v] -= push;
      residual[static_cast<size_t>(v) * n + from[v]] += push;
    }
    cut.flow += push;
  }
  cut.sourceSide.assign(nodeCount, false);
  for (int v = 0; v < nodeCount; ++v) cut.sourceSide[v] = from[v] != -1;
  return cut;
}
