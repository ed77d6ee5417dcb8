#pragma once
// Writes the move tables of a simple proposal by hand, given the configuration in crindivloc:
// an individual move of one offspring (with chosen full sibs) to a family of its own cluster,
// of another cluster or of a new cluster, or a family move. The tables are those the search
// reads: indivloc2 rows of the moving offspring (list 3) and, inside the own cluster, of the
// members that stay (list 2); for a move out of the cluster, indivloc1 rows of the members of
// the own cluster that stay (list 1). With `search_rows` the rows are those the search writes
// instead (only the touched families); draw_travelling_sibs applies the search's rule for the
// full sibs that travel with the moving offspring.
//
// This is an independent replay of the search's rules, written before the search existed, for
// the configuration tests: it checks the configuration model against move tables built apart
// from the code that normally builds them. Tests of the moves themselves drive the search's own
// proposal code.
#include <algorithm>
#include <utility>
#include <vector>

#include "core/modules.hpp"
#include "core/random_numbers.hpp"

namespace kinrad::testing_support {

using kinrad::annealvariables;
using kinrad::Dim;
using kinrad::int4;
using kinrad::variables;

struct IndividualMove {
  int4 offspring = 1;
  std::vector<int4> sibs;  // full sibs that move with it
  int4 dest1 = 0;          // proposed paternal family id
  int4 dest2 = 0;          // proposed maternal family id
  int4 destcluster = 0;    // destination cluster id; 0 with a new cluster
  // Rows as the search writes them, every touched full-sib family whole. Inside the own
  // cluster, list 2 holds the staying members of the families of the moving offspring's father
  // and of the destination's father when he is another existing father of the cluster, and
  // likewise for the mothers. For a move out of the cluster, list 1 holds the staying members
  // of the families of the moving offspring's father and mother in its cluster, and for a move
  // to another existing cluster list 2 holds every member of that cluster's families whose
  // father is the destination's father or whose mother is the destination's mother. With one
  // parent pool a parent's families count in either role. Families in the order of their
  // smallest member (out of the cluster the moving offspring's own family first), members
  // ascending.
  bool search_rows = false;
};

// The search's rule for the full sibs that travel with the moving offspring when no known
// sibship is honoured: one draw u0 for the family; when u0 < 0.5 each other member, in
// ascending order, travels when a fresh draw is below 0.9 (destination in the own cluster) or
// 0.2 (another or a new cluster); otherwise none travels. Draws from the search stream.
inline std::vector<int4> draw_travelling_sibs(int4 offspring, int4 destcluster) {
  const auto& v = variables;
  const double p = destcluster == v.crindivloc(offspring, 3) ? 0.9 : 0.2;
  std::vector<int4> sibs;
  const double u0 = kinrad::ran2();
  for (int4 o = 1; o <= v.smplsize; ++o) {
    if (o == offspring || v.crindivloc(o, 1) != v.crindivloc(offspring, 1) ||
        v.crindivloc(o, 2) != v.crindivloc(offspring, 2))
      continue;
    if (u0 < 0.5 && kinrad::ran2() < p) sibs.push_back(o);
  }
  return sibs;
}

// Makes the move tables and change lists large enough for n offspring.
inline void allocate_move_tables(int4 n) {
  auto& av = annealvariables;
  av.indivloc1.allocate(Dim(n), Dim(4));
  av.indivloc2.allocate(Dim(n), Dim(4));
  av.indivloc3.allocate(Dim(n), Dim(4));
  av.indivlocidx.allocate(Dim(n), Dim(3));
  av.numindivlocidx.allocate(Dim(3));
}

// The kind of destination (1 own cluster, 2 another cluster, 3 a new cluster) is returned.
inline int4 build_individual_move(const IndividualMove& m) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n = v.smplsize;
  const int4 own = v.crindivloc(m.offspring, 3);
  const int4 kind = m.destcluster == own ? 1 : (m.destcluster == 0 ? 3 : 2);
  av.movingtype = 1;
  av.moveindiv = m.offspring;
  av.movefamily(1) = v.crindivloc(m.offspring, 1);
  av.movefamily(2) = v.crindivloc(m.offspring, 2);
  av.hostfamily(1) = m.dest1;
  av.hostfamily(2) = m.dest2;
  av.hostfamily(3) = m.destcluster;
  for (int4 l = 1; l <= 3; ++l) av.numindivlocidx(l) = 0;
  std::vector<bool> moving(static_cast<std::size_t>(n) + 1, false);
  moving[static_cast<std::size_t>(m.offspring)] = true;
  for (int4 s : m.sibs) moving[static_cast<std::size_t>(s)] = true;
  int4 r2 = 0, r1 = 0;
  const auto row2 = [&](int4 o, int4 f1, int4 f2, int4 list) {
    ++r2;
    av.indivloc2(r2, 1) = f1;
    av.indivloc2(r2, 2) = f2;
    av.indivloc2(r2, 3) = 0;
    av.indivloc2(r2, 4) = o;
    av.indivlocidx(++av.numindivlocidx(list), list) = r2;
  };
  row2(m.offspring, m.dest1, m.dest2, 3);
  for (int4 s : m.sibs) row2(s, m.dest1, m.dest2, 3);
  // Staying members written: all of the own cluster, or those the search lists.
  std::vector<int4> staying;
  // The full-sib families of cluster c with parent `id` of sex s (one parent pool: in either
  // role), marked by their members.
  std::vector<bool> listed(static_cast<std::size_t>(n) + 1, false);
  const auto list_parent = [&](int4 c, int4 s, int4 id) {
    for (int4 o = 1; o <= n; ++o) {
      const bool has = v.numsex == 1 ? (v.crindivloc(o, 1) == id || v.crindivloc(o, 2) == id)
                                     : v.crindivloc(o, s) == id;
      if (v.crindivloc(o, 3) != c || !has) continue;
      for (int4 q = 1; q <= n; ++q)
        if (v.crindivloc(q, 1) == v.crindivloc(o, 1) && v.crindivloc(q, 2) == v.crindivloc(o, 2))
          listed[static_cast<std::size_t>(q)] = true;
    }
  };
  if (!m.search_rows) {
    for (int4 o = 1; o <= n; ++o) staying.push_back(o);
  } else {
    for (int4 s = 1; s <= 2; ++s) {
      list_parent(own, s, v.crindivloc(m.offspring, s));
      const int4 d = s == 1 ? m.dest1 : m.dest2;
      if (kind == 1 && d != v.crindivloc(m.offspring, s)) list_parent(own, s, d);
    }
    // Families ordered by their smallest member: every member of a listed family, ascending
    // within the family; out of the cluster the moving offspring's own family first.
    std::vector<bool> done(static_cast<std::size_t>(n) + 1, false);
    if (kind != 1)
      for (int4 q = 1; q <= n; ++q)
        if (v.crindivloc(q, 1) == v.crindivloc(m.offspring, 1) &&
            v.crindivloc(q, 2) == v.crindivloc(m.offspring, 2)) {
          done[static_cast<std::size_t>(q)] = true;
          staying.push_back(q);
        }
    for (int4 o = 1; o <= n; ++o) {
      if (!listed[static_cast<std::size_t>(o)] || done[static_cast<std::size_t>(o)]) continue;
      for (int4 q = o; q <= n; ++q)
        if (v.crindivloc(q, 1) == v.crindivloc(o, 1) && v.crindivloc(q, 2) == v.crindivloc(o, 2)) {
          done[static_cast<std::size_t>(q)] = true;
          staying.push_back(q);
        }
    }
  }
  for (int4 o : staying) {
    if (moving[static_cast<std::size_t>(o)] || v.crindivloc(o, 3) != own) continue;
    if (kind == 1) {
      row2(o, v.crindivloc(o, 1), v.crindivloc(o, 2), 2);
    } else {
      ++r1;
      av.indivloc1(r1, 1) = v.crindivloc(o, 1);
      av.indivloc1(r1, 2) = v.crindivloc(o, 2);
      av.indivloc1(r1, 3) = 0;
      av.indivloc1(r1, 4) = o;
      av.indivlocidx(++av.numindivlocidx(1), 1) = r1;
    }
  }
  // The destination cluster's families that share a parent with the destination.
  if (m.search_rows && kind == 2) {
    const int4 d1 = m.dest1, d2 = m.dest2;
    std::vector<bool> done(static_cast<std::size_t>(n) + 1, false);
    for (int4 o = 1; o <= n; ++o) {
      if (v.crindivloc(o, 3) != m.destcluster || done[static_cast<std::size_t>(o)]) continue;
      const int4 a = v.crindivloc(o, 1), b = v.crindivloc(o, 2);
      const bool shares =
          v.numsex == 1 ? (a == d1 || a == d2 || b == d1 || b == d2) : (a == d1 || b == d2);
      for (int4 q = o; q <= n; ++q)
        if (v.crindivloc(q, 1) == a && v.crindivloc(q, 2) == b) {
          done[static_cast<std::size_t>(q)] = true;
          if (shares && !moving[static_cast<std::size_t>(q)]) row2(q, a, b, 2);
        }
    }
  }
  av.numindiv(1) = r1;
  av.numindiv(2) = r2;
  return kind;
}

// A family move: the moving offspring's whole full-sib family to another family of sex s.
inline void build_family_move(int4 offspring, int4 dest1, int4 dest2) {
  auto& v = variables;
  auto& av = annealvariables;
  av.movingtype = 2;
  av.moveindiv = offspring;
  av.movefamily(1) = v.crindivloc(offspring, 1);
  av.movefamily(2) = v.crindivloc(offspring, 2);
  av.hostfamily(1) = dest1;
  av.hostfamily(2) = dest2;
  av.hostfamily(3) = v.crindivloc(offspring, 3);
  for (int4 l = 1; l <= 3; ++l) av.numindivlocidx(l) = 0;
  av.numindiv(1) = 0;
  av.numindiv(2) = 0;
}

}  // namespace kinrad::testing_support
