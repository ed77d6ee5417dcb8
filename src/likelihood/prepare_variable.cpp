// The preparation of one family cluster for the likelihood engine: parent numbering, the
// full-sib families and their members in the engine's order, the known parents, and room for
// every per-family and per-parent table the loci will fill. Work arrays only grow.
#include <algorithm>
#include <cmath>

#include "core/modules/familyloglvar.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/variables.hpp"
#include "likelihood/likelihood.hpp"
#include "likelihood/work_arrays_internal.hpp"
#include "model/model.hpp"

namespace kinrad {

using engine::fill_range;
using engine::grow;

namespace {

// Candidate assigned to offspring m for sex s in the configuration being scored, 0 none.
int4 assigned_parent(int4 m, int4 s) {
  const FView<int4, 2>& a = variables.inferparentprt;
  if (!a.associated() || m < a.lbound(1) || m > a.ubound(1)) return 0;
  return std::max(a(m, s), 0);
}

// Known parent of offspring m from the input, 0 none (the table holds -1 for none and may not
// exist at all).
int4 input_parent(int4 m, int4 s) {
  const FArray<int4, 2>& p = variables.indivparent;
  if (!p.allocated()) return 0;
  return std::max(p(m, s), 0);
}

int4 other_role(int4 p, int4 s) {
  const FArray<int4, 2>& j = variables.parentjdx;
  if (!j.allocated() || p > j.ubound(1)) return 0;
  return j(p, s);
}

bool has_two_allele_loci() {
  return variables.locus2.allocated() && variables.locus2(0) > 0;
}

}  // namespace

void setfamilyloglvar() {
  const Variables& v = variables;
  Familyloglvar& fl = familyloglvar;
  const int4 nfs = std::max(v.numfsibship, 1);
  const int4 ng = std::max(v.maxnumgenotype, 1);
  const int4 na = std::max(v.maxobsnumallele, 1);
  grow(fl.hsibflag, Dim(std::max(v.maxnumparent, 1)), Dim(2));
  grow(fl.ldx, Dim(0, ng));
  grow(fl.lg, Dim(nfs));
  grow(fl.alleleprt, Dim(na));
  grow(fl.kg, Dim(3), Dim(nfs));
  grow(fl.mdx, Dim(ng));
  grow(fl.q, Dim(na));
}

namespace {

// The inference fields and progress marks a new family starts from.
void reset_inference_fields() {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  lv.infergtype.fill(0);
  lv.infergtypeprnt = 0;
  lv.infergtypesex = 0;
  lv.inferg2 = 0;
  lv.mabsorb.fill(0);
  v.firstdomlocusidx = 0;
  v.firstsnplocusidx = 0;
}

// Parent numbering and the number of full-sib families and of mates: with one parent of a sex
// every parent of the other has one family; otherwise the caller's count, or the pairs with
// offspring counted here.
void number_parents_and_families(int2 numberfsfamily) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const int4 np2 = v.nparent(2);
  v.nallparent = np1 + np2;
  v.npstartloc1(1) = 0;
  v.npstartloc1(2) = np1;
  v.maxnumparent = std::max(np1, np2);
  const bool single = std::min(np1, np2) == 1;
  if (single) {
    v.numfsibship = v.maxnumparent;
    lv.maxnummate = v.maxnumparent;
  } else if (numberfsfamily >= 1) {
    v.numfsibship = numberfsfamily;
    lv.maxnummate = std::max(v.maxnumpartner(1), v.maxnumpartner(2));
  } else {
    int4 pairs = 0;
    int4 mates = 0;
    for (int4 p1 = 1; p1 <= np1; ++p1) {
      int4 m = 0;
      for (int4 p2 = 1; p2 <= np2; ++p2) m += v.nchild(p1, p2) > 0 ? 1 : 0;
      pairs += m;
      mates = std::max(mates, m);
    }
    for (int4 p2 = 1; p2 <= np2; ++p2) {
      int4 m = 0;
      for (int4 p1 = 1; p1 <= np1; ++p1) m += v.nchild(p1, p2) > 0 ? 1 : 0;
      mates = std::max(mates, m);
    }
    v.numfsibship = pairs;
    lv.maxnummate = mates;
  }
  v.nsibstartloc(1) = 0;
  v.nsibstartloc(2) = v.numfsibship;
}

// Room for the family graph.
void family_graph_room() {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const int4 np2 = v.nparent(2);
  const int4 nfs = v.numfsibship;
  const int4 nall = v.nallparent;
  grow(lv.idxloc, Dim(0, 2 * nfs));
  lv.idxloc(0) = 0;
  grow(lv.mate1, Dim(0, std::max(lv.maxnummate, 1)), Dim(std::max(nall, 1)));
  for (int4 p = 1; p <= nall; ++p) lv.mate1(0, p) = 0;
  const Dim fd(std::max(nfs, 1));
  grow(lv.fsib, fd);
  grow(lv.clusterfamily, Dim(2), fd);
  grow(lv.clusterfamilysize, fd);
  grow(lv.fsibnodata, Dim(0, std::max(nfs, 1)));
  const Dim pd(std::max(nall, 1));
  grow(lv.hsib, pd);
  grow(lv.hsib2, pd);
  grow(lv.knownprt, pd);
  grow(v.prntgtype, Dim(2), pd);
  grow(v.hsfamilysize, pd);
  grow(lv.fsibid, Dim(std::max(np1, 1)), Dim(std::max(np2, 1)));
  if (lv.userowsnp.allocated()) grow(lv.userowsnp, pd);
  for (int4 f = 1; f <= nfs; ++f) {
    lv.clusterfamily(1, f) = 0;
    lv.clusterfamily(2, f) = 0;
    lv.clusterfamilysize(f) = 0;
  }
  fill_range(v.hsfamilysize, 1, nall, 0);
  if (v.haplodiploid == 1) {
    grow(v.familyindivloch, Dim(0, std::max(np2, 1)));
    fill_range(v.familyindivloch, 0, np2, 0);
  }
}

// Pairs, mates and offspring counts (sex-2 parents outer, so that mate lists come out
// ascending); the haploid members of a mixed sample are listed in kdxtgt with their mothers
// in ldxtgt. Returns their number.
int4 count_pairs_and_offspring(bool anyhaploid, bool allhaploid) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const int4 np2 = v.nparent(2);
  v.numchild = 0;
  v.numchildh = 0;
  int4 nhaplist = 0;
  if (anyhaploid && !allhaploid) {
    grow(v.kdxtgt, Dim(std::max(v.smplsize, 1)));
    grow(v.ldxtgt, Dim(std::max(v.smplsize, 1)));
  }
  int4 nextid = v.numfsibship;
  for (int4 p2 = 1; p2 <= np2; ++p2) {
    for (int4 p1 = 1; p1 <= np1; ++p1) {
      const int4 n = v.nchild(p1, p2);
      if (n <= 0) {
        lv.fsibid(p1, p2) = ++nextid;
        continue;
      }
      v.hsfamilysize(p1) = static_cast<int2>(v.hsfamilysize(p1) + n);
      v.hsfamilysize(np1 + p2) = static_cast<int2>(v.hsfamilysize(np1 + p2) + n);
      lv.mate1(++lv.mate1(0, p1), p1) = static_cast<int2>(p2);
      lv.mate1(++lv.mate1(0, np1 + p2), np1 + p2) = static_cast<int2>(p1);
      if (!anyhaploid) {
        v.numchild += n;
      } else if (allhaploid) {
        v.numchildh += n;
        v.familyindivloch(p2) = static_cast<int2>(v.familyindivloch(p2) + n);
      } else {
        const FView<int2, 1> list = familystructure(p1, p2);
        for (int4 i = 1; i <= n; ++i) {
          const int4 m = list(i);
          if (v.offploid(m) != 2) {
            ++nhaplist;
            v.kdxtgt(nhaplist) = m;
            v.ldxtgt(nhaplist) = p2;
            ++v.numchildh;
            v.familyindivloch(p2) = static_cast<int2>(v.familyindivloch(p2) + 1);
          } else {
            ++v.numchild;
          }
        }
      }
    }
  }
  return nhaplist;
}

// Room for the member lists, and the haploid offspring grouped by mother.
void group_haploid_offspring(int4 nhaplist, bool allhaploid) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const int4 np2 = v.nparent(2);
  const int4 nfs = v.numfsibship;
  grow(lv.familyindiv, Dim(std::max(v.numchild, 1)));
  grow(v.familyindivloc, Dim(0, std::max(nfs, 1)));
  fill_range(v.familyindivloc, 0, nfs, 0);
  v.maxfsibsizeh = 0;
  if (v.numchildh <= 0) return;
  for (int4 q = 1; q <= np2; ++q) {
    v.maxfsibsizeh = std::max<int4>(v.maxfsibsizeh, v.familyindivloch(q));
    v.familyindivloch(q) = static_cast<int2>(v.familyindivloch(q) + v.familyindivloch(q - 1));
  }
  grow(v.familyindivh, Dim(v.numchildh));
  const int4 m = std::max(std::min(v.maxfsibsizeh, v.maxobsnumallele), 1);
  grow(v.numgtypeh, Dim(m), Dim(std::max(np2, 1)));
  grow(v.hapgtype, Dim(0, m), Dim(std::max(np2, 1)));
  // Next free position of each mother's group.
  for (int4 q = 1; q <= np2; ++q) lv.hsib(np1 + q) = v.familyindivloch(q - 1);
  if (allhaploid) {
    for (int4 q = 1; q <= np2; ++q) {
      for (int4 j = 1; j <= lv.mate1(0, np1 + q); ++j) {
        const int4 p1 = lv.mate1(j, np1 + q);
        const FView<int2, 1> list = familystructure(p1, q);
        for (int4 i = 1; i <= v.nchild(p1, q); ++i) v.familyindivh(++lv.hsib(np1 + q)) = list(i);
      }
    }
  } else {
    for (int4 i = 1; i <= nhaplist; ++i)
      v.familyindivh(++lv.hsib(np1 + v.ldxtgt(i))) = static_cast<int2>(v.kdxtgt(i));
  }
}

// The known parents of family f of parents (p1, p2) whose members start after position start:
// the candidate assigned to its first offspring, else that offspring's known parent, else (a
// father of haploid-diploid families) the one assigned to its first diploid member, else that
// member's known parent. A haploid son has no father, so when one is listed first the father
// must come from a daughter; known parents are never written into the assignments, and without
// the last source a known father would count as unsampled whenever a son happened to lead the
// family, making the family's value depend on the order of its members.
void family_known_parents(int4 p1, int4 p2, int4 start, int4 listed) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const FView<int2, 1> own = familystructure(p1, p2);
  const int4 first = own(1);
  const int4 parent[2] = {p1, np1 + p2};
  for (int4 s = 1; s <= 2; ++s) {
    const int4 jp = parent[s - 1];
    if (v.numcandidate(s) < 1 || lv.knownprt(jp) != 0) continue;
    int4 k = assigned_parent(first, s);
    if (k == 0 && v.numknownprnt(s) > 0) k = input_parent(first, s);
    if (k == 0 && s == 1 && v.haplodiploid == 1 && listed > start) {
      const int4 daughter = lv.familyindiv(start + 1);
      k = assigned_parent(daughter, 1);
      if (k == 0 && v.numknownprnt(1) > 0) k = input_parent(daughter, 1);
    }
    lv.knownprt(jp) = k;
  }
}

// Families in the order of sex-1 parents and their mates, with their members and known
// parents.
void list_families(bool anyhaploid, bool twoallele) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const bool mono = v.numsex == 1;
  const bool cands = v.allcandidate > 0;
  int4 f = 0;
  int4 listed = 0;
  v.maxfsibsize = 0;
  auto addmember = [&](int4 m) {
    ++listed;
    lv.familyindiv(listed) = static_cast<int2>(m);
    if (twoallele) {
      const int4 r = m % 8;
      lv.familyindivll(1, listed) = static_cast<int2>(r == 0 ? m / 8 : m / 8 + 1);
      lv.familyindivll(2, listed) = static_cast<int2>(r == 0 ? 14 : 2 * r - 2);
      lv.familyindivll(3, listed) = static_cast<int2>(f);
    }
  };
  auto addpair = [&](int4 p1, int4 p2) {
    const FView<int2, 1> list = familystructure(p1, p2);
    for (int4 i = 1; i <= v.nchild(p1, p2); ++i) {
      const int4 m = list(i);
      if (anyhaploid && v.offploid(m) != 2) continue;
      addmember(m);
    }
  };
  for (int4 p1 = 1; p1 <= np1; ++p1) {
    for (int4 j = 1; j <= lv.mate1(0, p1); ++j) {
      const int4 p2 = lv.mate1(j, p1);
      ++f;
      lv.fsibid(p1, p2) = f;
      lv.clusterfamily(1, f) = p1;
      lv.clusterfamily(2, f) = p2;
      const int4 start = listed;
      if (mono) {
        // The reciprocal pair (the same two individuals in swapped roles) joins the pair met
        // first; met later, its own family keeps no members.
        const int4 r1 = other_role(p2, 2);
        const int4 r2 = other_role(p1, 1);
        const bool recip = r1 > 0 && r2 > 0 && !(r1 == p1 && r2 == p2) && v.nchild(r1, r2) > 0;
        const bool metfirst = recip && (r1 < p1 || (r1 == p1 && r2 < p2));
        if (!metfirst) {
          addpair(p1, p2);
          if (recip) addpair(r1, r2);
        }
      } else {
        addpair(p1, p2);
      }
      lv.clusterfamilysize(f) = listed - start;
      v.familyindivloc(f) = static_cast<int2>(listed);
      ++lv.hsib2(p1);
      ++lv.hsib2(np1 + p2);
      v.maxfsibsize = std::max(v.maxfsibsize, listed - start);
      if (cands) family_known_parents(p1, p2, start, listed);
    }
  }
}

// A father whose offspring are all haploid sons is no parent of them.
void drop_fathers_of_sons_only() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  for (int4 p1 = 1; p1 <= v.nparent(1); ++p1) {
    int4 diploid = 0;
    for (int4 j = 1; j <= lv.mate1(0, p1); ++j)
      diploid += lv.clusterfamilysize(lv.fsibid(p1, lv.mate1(j, p1)));
    if (diploid == 0) lv.knownprt(p1) = 0;
  }
}

// The parents acting in both roles (one parent pool), who share one known parent.
void list_selfing_parents() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  grow(lv.selfprnt, Dim(0, std::max(np1, 1)));
  lv.selfprnt(0) = 0;
  for (int4 p = 1; p <= np1; ++p) {
    const int4 q = other_role(p, 1);
    if (q <= 0) continue;
    lv.selfprnt(++lv.selfprnt(0)) = p;
    if (lv.knownprt(p) != lv.knownprt(np1 + q)) {
      if (lv.knownprt(p) > 0)
        lv.knownprt(np1 + q) = lv.knownprt(p);
      else
        lv.knownprt(p) = lv.knownprt(np1 + q);
    }
  }
}

// Which roles of the family have a known parent; untyped unless known.
void known_parent_flags() {
  Variables& v = variables;
  const Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const int4 nall = v.nallparent;
  v.anyknownprtq.fill(0);
  if (v.allcandidate > 0) {
    for (int4 p = 1; p <= nall; ++p) {
      if (lv.knownprt(p) > 0) v.anyknownprtq(p <= np1 ? 2 : 3) = 1;
    }
    v.anyknownprtq(1) = (v.anyknownprtq(2) != 0 || v.anyknownprtq(3) != 0) ? 1 : 0;
  }
  if (v.anyknownprtq(1) == 0) v.allprntgtypemissingq = 1;
  for (int4 p = 1; p <= nall; ++p) {
    if (lv.knownprt(p) <= 0) v.prntgtype(1, p) = 0;
  }
}

// Absorb lists and the peeling's parent table; false when the table cannot be allocated.
bool absorb_room() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const Dim fd(std::max(v.numfsibship, 1));
  grow(lv.nabsorb, fd);
  grow(lv.iabsorb, Dim(2), fd);
  lv.nabsorb(1) = -1;
  if (v.nparent(1) >= 2 && v.nparent(2) >= 2) {
    const Dim d0(0, v.maxnumparent);
    if (!lv.parentprt.allocated() || lv.parentprt.ubound(1) < v.maxnumparent) {
      if (!lv.parentprt.try_allocate(d0, Dim(2))) return false;
    }
  }
  return true;
}

// Per-family allele and genotype room and the table flags.
void family_table_room() {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const int4 np2 = v.nparent(2);
  const int4 nfs = v.numfsibship;
  const int4 nall = v.nallparent;
  const Dim fd(std::max(nfs, 1));
  const Dim pd(std::max(nall, 1));
  grow(lv.locallelefs, fd);
  grow(lv.numallelefs, fd);
  grow(lv.clusterfamilyloc, Dim(std::max(nfs, 1) + 1));
  const int4 a = std::clamp(v.maxobsnumallele, 2, 81);
  int4 alleleroom = 0;
  lv.clusterfamilyloc(1) = 0;
  for (int4 i = 1; i <= nfs; ++i) {
    lv.locallelefs(i) = alleleroom;
    alleleroom += std::min(a, 2 * std::max(lv.clusterfamilysize(i), 1) + 1);
    lv.clusterfamilyloc(i + 1) =
        lv.clusterfamilyloc(i) + std::min(lv.clusterfamilysize(i), v.maxnumgenotype);
  }
  grow(lv.allelefs, Dim(std::max(alleleroom, 1)));
  const int4 g = std::max(lv.clusterfamilyloc(nfs + 1), 1);
  grow(v.numfsgtype, Dim(g));
  grow(v.fsgtype, Dim(2), Dim(g));
  grow(v.numfsgtypescaled, Dim(g));
  fill_range(v.numfsgtype, 1, g, 0);
  if (np1 >= 2 && np2 >= 2) lv.numlayer = 2147483647;
  if (v.anymarkererrorfreeq != 0) grow(v.equirowcol, fd, Dim(v.haplodiploid + 1));
  grow(lv.fsprobdim, fd);
  grow(lv.hsprobdim, pd);
  grow(lv.hsprobloc, Dim(nall + 1));
  if (v.haplodiploid == 1 || np1 > 1 || np2 > 1)
    v.genotypefreshortcut = 0;
  else
    v.genotypefreshortcut = v.anyknownprtq(1) != 0 ? 2 : 1;
}

// The dominant cache and the per-family genotype cache of the loci of more than two alleles
// (of one locus, or of all when locus is 0) start empty.
void clear_family_caches(int4 locus) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = v.numfsibship;
  const Dim fd(std::max(nfs, 1));
  if (lv.domfsibsave.allocated()) {
    grow(lv.domfsibsave, fd);
    grow(lv.domconstlogl, fd);
    fill_range(lv.domfsibsave, 1, nfs, -1);
    fill_range(lv.domconstlogl, 1, nfs, 0.0);
  }
  if (v.locus3.allocated() && v.locus3(0) > 0) {
    const int4 k = std::min({10 - 4 * v.haplodiploid, v.maxfsibsize, 5});
    lv.fsfamilygtype_k = k;
    grow(lv.fsfamilygtype, Dim(0, std::max(k, 0)), Dim(2), fd, Dim(v.locus3(0)));
    const int4 lo = locus > 0 ? v.locus3loc(locus) : 1;
    const int4 hi = locus > 0 ? v.locus3loc(locus) : v.locus3(0);
    for (int4 l = lo; l >= 1 && l <= hi; ++l)
      for (int4 i = 1; i <= nfs; ++i)
        for (int4 r = 1; r <= 2; ++r)
          for (int4 c = 0; c <= k; ++c) lv.fsfamilygtype(c, r, i, l) = 0;
  }
}

// Inbreeding of the parents when selfing is possible.
void parent_inbreeding(int4 selfq) {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  grow(lv.prntinbcoe, Dim(std::max(v.maxnumparent, 1)), Dim(2));
  for (int4 s = 1; s <= 2; ++s)
    for (int4 p = 1; p <= v.maxnumparent; ++p) lv.prntinbcoe(p, s) = v.inbreeding;
  if (selfq == 1) selfinggen_est();
}

// Families whose parent has no other family can be absorbed into a single table.
void mark_single_table_families() {
  const Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 np1 = v.nparent(1);
  const int4 nfs = v.numfsibship;
  const bool mono = v.numsex == 1;
  const Dim fd(std::max(nfs, 1));
  grow(lv.fsprobptr, fd);  // new holders start empty
  grow(lv.fsprobidx, fd);
  for (int4 i = 1; i <= nfs; ++i) {
    const int4 p1 = lv.clusterfamily(1, i);
    const int4 p2 = lv.clusterfamily(2, i);
    int1 x = 0;
    if (p1 > 0 && p2 > 0) {
      if (!mono) {
        if (lv.hsib2(p1) == 1 || lv.hsib2(np1 + p2) == 1) x = -1;
      } else {
        if ((lv.hsib2(p1) == 1 && other_role(p1, 1) < 1) ||
            (lv.hsib2(np1 + p2) == 1 && other_role(p2, 2) < 1))
          x = -1;
      }
    }
    lv.fsprobidx(i) = x;
  }
}

// Two-allele tables of the family size.
void twoallele_size_tables() {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  const int4 nfs = v.numfsibship;
  lv.ng2selfnum = 0;  // the cache of this routine's own estimate serves no locus
  const int4 n = std::max({2 * v.maxfsibsize, 2 * v.maxfsibsizeh, 1});
  setscale2(n);
  if (!v.indivgtype1.allocated())
    lv.indivg12 = 2;
  else
    lv.indivg12 = (nfs < 7 && v.maxfsibsize <= 9) ? 2 : 1;
  if (!v.power2.allocated() || v.power2.ubound(1) < n) {
    v.power2.allocate(Dim(0, n));
    for (int4 k = 0; k <= n; ++k) v.power2(k) = std::pow(0.5, v.scale2(k));
  }
  if (lv.domfsibsave.allocated() && (!v.power3.allocated() || v.power3.ubound(1) < v.maxfsibsize)) {
    v.power3.allocate(Dim(0, v.maxfsibsize));
    for (int4 k = 0; k <= v.maxfsibsize; ++k) v.power3(k) = std::pow(0.75, v.scale2(k));
  }
}

}  // namespace

void preparevariable(int4& status, int2 numberfsfamily, int4 locus, int4 selfq) {
  Variables& v = variables;
  Likelihoodvar& lv = likelihoodvar;
  status = 0;

  reset_inference_fields();
  number_parents_and_families(numberfsfamily);
  const int4 nfs = v.numfsibship;
  const int4 nall = v.nallparent;
  family_graph_room();
  const bool anyhaploid = v.smplsizedh(1) != 0;
  const bool allhaploid = anyhaploid && v.smplsizedh(2) == 0;
  const int4 nhaplist = count_pairs_and_offspring(anyhaploid, allhaploid);
  group_haploid_offspring(nhaplist, allhaploid);

  const bool twoallele = has_two_allele_loci();
  if (twoallele) {
    grow(lv.familyindivll, Dim(3), Dim(std::max(v.numchild, 1)));
    // flagsnp keeps its storage: the absorb-list build that follows every preparation sets all
    // its entries to -1 (not yet decided) again, so releasing it would only cost an allocation
    // per scored family.
  }
  fill_range(lv.knownprt, 1, nall, 0);
  fill_range(lv.hsib2, 1, nall, 0);
  list_families(anyhaploid, twoallele);
  if (v.allcandidate > 0 && v.numchildh > 0) drop_fathers_of_sons_only();
  if (v.numsex == 1) list_selfing_parents();
  known_parent_flags();

  if (!absorb_room()) {
    status = 5014;
    return;
  }
  family_table_room();
  clear_family_caches(locus);
  if (v.allowinbreeding == v.numsex) parent_inbreeding(selfq);
  mark_single_table_families();
  if (twoallele) twoallele_size_tables();

  const Dim pd(std::max(nall, 1));
  grow(v.fsprobloc, Dim(std::max(nfs, 1) + 1));
  grow(lv.allelehsnum, pd);
  grow(lv.allelehsloc, Dim(nall + 1));
  if (lv.scaleidx.allocated() && v.maxfsibsize > 0) {
    if (grow(lv.scaleidx, Dim(v.maxfsibsize), Dim(2))) {
      for (index_t k = 1; k <= lv.scaleidx.ubound(1); ++k) lv.scaleidx(k, 1) = 0;
    }
  }
  setfamilyloglvar();
}

}  // namespace kinrad
