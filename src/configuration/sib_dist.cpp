// Sibship-size changes of a proposed move of offspring: how many families of each size the
// current configuration has and the proposal has not, applied to sibshipsizedist.
#include <algorithm>

#include "configuration/configuration.hpp"
#include "core/modules.hpp"

namespace kinrad {

namespace {

// Haploid offspring joining the paternal placeholder family f of their mother's other
// haploid offspring change the size of every family of f, and of the family they leave, while
// the move tables may hold only some of their members: those members are appended as rows
// (current ids, which the move does not change). Returns the new number of rows.
int4 haplodiploid_rows(int4 nall, int4 movekind) {
  auto& v = variables;
  auto& av = annealvariables;
  const int4 n2 = av.numindivlocidx(2);
  const int4 n3 = av.numindivlocidx(3);
  int4 nhandled = 0;
  const auto add_member = [&](int4 m) {
    if (av.selectedprntidxq2(m) != 0) return;
    av.selectedprntidxq2(m) = 1;
    ++nall;
    av.indivloc2(nall, 1) = v.crindivloc(m, 1);
    av.indivloc2(nall, 2) = v.crindivloc(m, 2);
    av.indivloc2(nall, 4) = m;
  };
  for (int4 k = 1; k <= n3; ++k) {
    const int4 i = av.indivlocidx(k, 3);
    const int4 o = av.indivloc2(i, 4);
    const int4 f = av.indivloc2(i, 1);
    const int4 g = v.crindivloc(o, 1);
    if (v.offploid(o) == 2 || f == g || av.selectedprntidxq1(f) != 0) continue;
    bool joins = false;
    for (int4 j = 1; j <= n2 && !joins; ++j) {
      const int4 r = av.indivlocidx(j, 2);
      joins = v.offploid(av.indivloc2(r, 4)) != 2 && av.indivloc2(r, 1) == f;
    }
    if (!joins) continue;
    if (nhandled == 0)
      for (int4 r = 1; r <= nall; ++r) av.selectedprntidxq2(av.indivloc2(r, 4)) = 1;
    av.selectedprntidxq1(f) = 1;
    av.indivloc3(++nhandled, 1) = f;
    if (movekind == 2)
      for (int4 F = 1; F <= av.numberfsfamily2; ++F) {
        if (av.parentidx2(av.familyidx2(F, 1)) != f) continue;
        const int4 at = av.familymemberloc2(F);
        for (int4 t = 1; t <= av.numfamilymember2(F); ++t) add_member(av.familymember2(at + t));
      }
    for (int4 F = 1; F <= av.numberfsfamily1; ++F) {
      const int4 father = av.parentidx1(av.familyidx1(F));
      if (father != f && father != g) continue;
      const int4 at = av.sibloc1(F);
      for (int4 t = 1; t <= av.numfamilymember1(F); ++t) add_member(av.familymember1(at + t));
    }
  }
  if (nhandled > 0) {
    for (int4 r = 1; r <= nall; ++r) av.selectedprntidxq2(av.indivloc2(r, 4)) = 0;
    for (int4 k = 1; k <= nhandled; ++k) av.selectedprntidxq1(av.indivloc3(k, 1)) = 0;
  }
  return nall;
}

}  // namespace

void newsibdist(FStatic<int2, 1, 2>& nchange, FStatic<int2, 1, 4>& maxsize, int4 movekind,
                const FStatic<int4, 1, 2>& ownclustersize) {
  auto& v = variables;
  auto& av = annealvariables;
  nchange(1) = 0;
  nchange(2) = 0;
  maxsize(3) = maxsize(1);
  maxsize(4) = maxsize(2);
  // A whole full-sib family moving to another parent keeps every sibship size.
  if (av.movingtype >= 2) return;

  // The staying rows of the part left behind follow the moving (and, inside the own cluster,
  // staying) rows of the destination side.
  const int4 n2 = av.numindiv(2);
  int4 nall = n2 + av.numindiv(1);
  for (int4 i = 1; i <= av.numindiv(1); ++i) {
    av.indivloc2(n2 + i, 1) = av.indivloc1(i, 1);
    av.indivloc2(n2 + i, 2) = av.indivloc1(i, 2);
    av.indivloc2(n2 + i, 4) = av.indivloc1(i, 4);
  }
  if ((movekind == 1 || movekind == 2) && v.smplsizedh(1) >= 1 && av.numindivlocidx(2) > 0 &&
      av.numindivlocidx(3) > 0)
    nall = haplodiploid_rows(nall, movekind);

  // Rows whose offspring belong to a family the move touches; their row numbers are listed in
  // column 3 of indivloc3.
  int4 ncount = 0;
  if (nall == av.numindivlocidx(1) + av.numindivlocidx(2) + av.numindivlocidx(3)) {
    for (int4 i = 1; i <= nall; ++i) av.indivloc3(++ncount, 3) = i;
  } else {
    for (int4 list = 2; list <= 3; ++list)
      for (int4 k = 1; k <= av.numindivlocidx(list); ++k) {
        const int4 o = av.indivloc2(av.indivlocidx(k, list), 4);
        av.selectedprntidxq1(v.crindivloc(o, 1)) = 1;
        av.selectedprntidxq3(v.crindivloc(o, 2)) = 1;
      }
    for (int4 i = 1; i <= nall; ++i) {
      const int4 o = av.indivloc2(i, 4);
      if (av.selectedprntidxq1(v.crindivloc(o, 1)) != 0 ||
          av.selectedprntidxq3(v.crindivloc(o, 2)) != 0)
        av.indivloc3(++ncount, 3) = i;
    }
    for (int4 list = 2; list <= 3; ++list)
      for (int4 k = 1; k <= av.numindivlocidx(list); ++k) {
        const int4 o = av.indivloc2(av.indivlocidx(k, list), 4);
        av.selectedprntidxq1(v.crindivloc(o, 1)) = 0;
        av.selectedprntidxq3(v.crindivloc(o, 2)) = 0;
      }
  }

  const bool dmono = v.numsex == 2 && v.allmonogamy != 0;
  const int4 lastsex = dmono ? 1 : v.numsex;
  for (int4 s = 1; s <= lastsex; ++s) {
    int4 nrow = 0;
    // One family size z met with sign: opens the size's row on first meeting.
    const auto add_size = [&](int4 z, int4 sign) {
      if (av.selectedprntidxq2(z) == 0) {
        av.selectedprntidxq2(z) = 1;
        v.kdxtgt(z) = ++nrow;
        v.sibsize(1, nrow, s) = static_cast<int2>(z);
        v.sibsize(2, nrow, s) = static_cast<int2>(sign);
      } else {
        v.sibsize(2, v.kdxtgt(z), s) = static_cast<int2>(v.sibsize(2, v.kdxtgt(z), s) + sign);
      }
    };
    for (int4 phase = 1; phase <= 2; ++phase) {
      const int4 sign = phase == 1 ? 1 : -1;
      if (dmono) {
        // Under double monogamy a family is its cluster: sizes come from the caller.
        if (phase == 1) {
          add_size(ownclustersize(1), sign);
          if (ownclustersize(2) > 0) add_size(ownclustersize(2), sign);
        } else {
          add_size(n2, sign);
          if (av.numindiv(1) >= 1) add_size(av.numindiv(1), sign);
        }
        continue;
      }
      int4 nfam = 0;
      const int4 c0 = v.numsex == 1 ? 1 : s;
      const int4 c1 = v.numsex == 1 ? 2 : s;
      for (int4 c = c0; c <= c1; ++c) {
        int4 last = -1;
        int4 run = 0;
        const auto flush = [&]() {
          if (run == 0) return;
          if (av.selectedprntidxq1(last) == 0) v.ldxtgt(++nfam) = last;
          av.selectedprntidxq1(last) += run;
          run = 0;
        };
        for (int4 k = 1; k <= ncount; ++k) {
          const int4 i = av.indivloc3(k, 3);
          const int4 o = av.indivloc2(i, 4);
          const int4 f = phase == 1 ? v.crindivloc(o, c) : av.indivloc2(i, c);
          if (f != last) {
            flush();
            last = f;
          }
          ++run;
        }
        flush();
      }
      for (int4 j = 1; j <= nfam; ++j) {
        const int4 f = v.ldxtgt(j);
        add_size(av.selectedprntidxq1(f), sign);
        av.selectedprntidxq1(f) = 0;
      }
    }
    nchange(s) = static_cast<int2>(nrow);
    // Apply: d_k current families of size z_k less proposed ones.
    for (int4 k = 1; k <= nrow; ++k) {
      const int4 z = v.sibsize(1, k, s);
      maxsize(s + 2) = static_cast<int2>(std::max<int4>(maxsize(s + 2), z));
      v.sibshipsizedist(z, s) -= v.sibsize(2, k, s);
      av.selectedprntidxq2(z) = 0;
    }
  }
  if (dmono) {
    nchange(2) = nchange(1);
    maxsize(4) = maxsize(3);
    for (int4 k = 1; k <= nchange(1); ++k) {
      v.sibsize(1, k, 2) = v.sibsize(1, k, 1);
      v.sibsize(2, k, 2) = v.sibsize(2, k, 1);
      const int4 z = v.sibsize(1, k, 1);
      v.sibshipsizedist(z, 2) = v.sibshipsizedist(z, 1);
    }
  }
}

}  // namespace kinrad
