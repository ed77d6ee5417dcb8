#pragma once
// Writes the move tables of a simple proposal by hand, given the configuration in crindivloc:
// an individual move of one offspring (with chosen full sibs) to a family of its own cluster,
// of another cluster or of a new cluster, or a family move. The tables are those the search
// reads: indivloc2 rows of the moving offspring (list 3) and, inside the own cluster, of the
// members that stay (list 2); for a move out of the cluster, indivloc1 rows of the members of
// the own cluster that stay (list 1).
#include <vector>

#include "core/modules.hpp"

namespace testing_support {

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
};

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
  for (int4 o = 1; o <= n; ++o) {
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

}  // namespace testing_support
