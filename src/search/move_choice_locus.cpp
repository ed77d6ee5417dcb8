// The locus of a split: findlocus draws a locus at which the moving offspring is typed (one
// favouring agreement with a member of the destination full-sib family when asked), and
// split_at_locus divides the offspring's full-sib family by its genotypes there. Each draw is
// one call of the search stream in the fixed order of the choice.
#include <cmath>

#include "core/modules.hpp"
#include "core/modules/run_memos.hpp"
#include "core/packed_genotypes.hpp"
#include "search/move_choice.hpp"
#include "search/move_choice_internal.hpp"
#include "search/search_internal.hpp"

namespace kinrad {

using namespace move_choice_parts;

int2 offspring_genotype(int4 i, int4 locus) {
  const auto& v = variables;
  const int4 na = v.obsnumallele(locus);
  if (na > 2) return v.indivgtype2(locus).a(i);
  const FView<int2, 1> keep = setgetgtype.locusgtypeptr;
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
  int2 g = 0;
  getgtype(g, i, na);
  setgetgtype.locusgtypeptr = keep;
  return g;
}

void findlocus(RunState& rs, int4 cluster, int4 sw, int4& partner, int2& g, int4& locus) {
  const auto& v = variables;
  const auto& av = annealvariables;
  (void)rs;
  const int4 nl = v.numloci23;
  if (run_memos.domlociprb < 0.0) {
    const int4 nd = v.locusdom.allocated() ? v.locusdom(0) : 0;
    run_memos.domlociprb = static_cast<real8>(nd) / static_cast<real8>(2 * (nl - nd) + nd);
  }
  const auto& hf = av.hostfamily;
  int4 mate = 0;
  if (partner == 1 && hf(1) <= v.crnumfamily(1) && hf(2) <= v.crnumfamily(2)) {
    int4 fam = 0;
    int4 mode = 0;
    if (hf(3) != cluster && sw >= 1)
      mode = 2;
    else if (hf(3) == cluster)
      mode = 1;
    if (mode != 0) {
      const Side sd = side_of_mode(mode);
      for (int4 f = 1; f <= sd.nfam && fam == 0; ++f)
        if (sd.id(1, sd.parent(f, 1)) == hf(1) && sd.id(2, sd.parent(f, 2)) == hf(2)) fam = f;
      if (fam != 0) {
        const int4 count = sd.size(fam);
        mate = count == 1 ? sd.member(fam, 1) : sd.member(fam, pick(count, u()));
      }
    }
  }
  partner = mate;
  const int4 mi = av.moveindiv;
  const int4 n2 = v.locus2.allocated() ? v.locus2(0) : 0;
  for (;;) {
    const int4 l = pick(nl, u());
    bool dominant = false;
    if (l > n2) {
      locus = v.locus3(l - n2);
    } else {
      locus = v.locus2(l);
      dominant = v.dominantmarker(locus) == 1;
      if (dominant && run_memos.domlociprb < 0.9999 && !(u() <= run_memos.domlociprb)) continue;
    }
    g = offspring_genotype(mi, locus);
    if (g < 1) continue;
    if (mate == 0) return;
    const int2 g2 = offspring_genotype(mate, locus);
    if (g2 == g) return;
    const real8 x = u();
    if (dominant) {
      if (x < 0.1) return;
      continue;
    }
    const auto& gid = v.genotypeid;
    const int4 a1 = gid(1, g), a2 = gid(2, g);
    const int4 b1 = g2 > 0 ? gid(1, g2) : -1, b2 = g2 > 0 ? gid(2, g2) : -1;
    const bool share = a1 == b1 || a1 == b2 || a2 == b1 || a2 == b2;
    if (x < (share ? 0.5 : 0.25)) return;
  }
}

void split_at_locus(RunState& rs) {
  auto& v = variables;
  auto& av = annealvariables;
  auto& ch = rs.choice;
  const int4 mi = av.moveindiv;
  const int4 fs = ch.fssize;
  const int4 f = ch.movepos(1);
  int4 partner = 1;
  int2 g = 0;
  int4 locus = 0;
  findlocus(rs, ch.owncluster, ch.hostclustersize, partner, g, locus);
  ch.splitlocus = locus;
  const auto& gid = v.genotypeid;
  int4 type = 1;
  int4 a = 0;
  if (v.dominantmarker(locus) != 1) {
    const real8 x = u();
    if (x < 0.5) {
      type = 1;
    } else if (x >= 0.85) {
      type = x < 0.95 ? 4 : 5;
      a = gid(side_of(u()), g);
    } else if (g > v.maxobsnumallele) {
      type = 3;
      a = gid(side_of(u()), g);
    } else {
      type = 2;
      a = g;
    }
  }
  int2 h = 0;
  if (type >= 2 && type <= 4) {
    auto qualifies = [&](int2 gm) {
      if (gm == g || gm <= 0) return false;
      if (type == 3) return gm == a;
      return gm > v.maxobsnumallele && (gid(1, gm) == a || gid(2, gm) == a);
    };
    const int4 start = pick(fs, u());
    bool found = false;
    for (int4 t = start; t >= 1 && !found; --t) {
      const int2 gm = offspring_genotype(member1(f, t), locus);
      if (qualifies(gm)) h = gm, found = true;
    }
    for (int4 t = start + 1; t <= fs && !found; ++t) {
      const int2 gm = offspring_genotype(member1(f, t), locus);
      if (qualifies(gm)) h = gm, found = true;
    }
    if (!found) type = 1;
  }
  ch.splittype = type;
  const int4 cap = v.offploid(mi) == 1 ? pick(fs, u()) : fs;
  for (int4 t = 1; t <= fs; ++t) {
    const int4 m = member1(f, t);
    bool pass = false;
    if (m != mi) {
      const int2 gm = offspring_genotype(m, locus);
      if (type == 1)
        pass = gm == g;
      else if (type == 5)
        pass = gm > 0 && (gid(1, gm) == a || gid(2, gm) == a);
      else
        pass = gm == g || gm == h;
    }
    if (m == mi || (pass && static_cast<int4>(ch.moving.size()) <= cap))
      ch.moving.push_back(m);
    else
      ch.staying.push_back(m);
  }
}

}  // namespace kinrad
