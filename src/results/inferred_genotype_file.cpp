// The inferred-genotype files ".OffGenotype", ".DadGenotype" and ".MumGenotype": per locus and
// individual the observed genotype, a flag for a likely typing error and the most probable true
// genotypes with their posterior probabilities. An individual whose genotype is certain (typed
// at an error-free locus) has no row; neither has one for which nothing was inferred.
//
// The typing-error flag and the choice of alternatives use single-precision sums and limits,
// as the probabilities themselves are single precision.
#include <algorithm>
#include <cmath>

#include "core/fixed_string.hpp"
#include "core/modules/annealvariables.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/modules/writevar.hpp"
#include "core/packed_genotypes.hpp"
#include "core/variables_routines.hpp"
#include "results/inferred_genotype_internal.hpp"

namespace kinrad {

namespace {

constexpr std::string_view kSuffix[3] = {".OffGenotype", ".DadGenotype", ".MumGenotype"};
constexpr std::string_view kIdColumn[3] = {"OffspringID", "FatherID", "MotherID"};

// Ploidy of the layout of a kind: haploid fathers have one label per genotype.
int4 kind_ploidy(int4 kind) {
  return kind == 1 ? variables.ploidy(1) : 2;
}

void append_int(std::string& out, int4 x) {
  out += std::to_string(x);
}

// The probability text of p: the frequency table's entry nearest to 10000 p, the product in
// single precision and halves rounded away from zero.
std::string_view probability_text(real4 p) {
  const real4 scaled = 10000.0f * p;
  const auto m = static_cast<int4>(std::lround(scaled));
  return writevar.cfre(std::clamp(m, 0, 10000)).trimmed();
}

// The first alternative above 1e-10 that agrees with the observation, or 0.
int4 matching_alternative(const InferredRow& r) {
  for (int4 k = 1; k <= r.n; ++k) {
    const real4 pk = r.p[static_cast<std::size_t>(k - 1)];
    if (!(pk > 1e-10f)) continue;
    const auto& e = r.alt[static_cast<std::size_t>(k - 1)];
    bool agrees = false;
    if (r.dominant) {
      const int4 last = r.ploidy == 2 ? 1 : 0;
      if (r.a1 == 1)
        agrees = e[0] == 1 || (last == 1 && e[1] == 1);
      else if (r.a1 == 2)
        agrees = e[0] == 2 && (last == 0 || e[1] == 2);
    } else {
      agrees = e[0] == r.obs[0] && (r.ploidy == 1 || e[1] == r.obs[1]);
    }
    if (agrees) return k;
  }
  return 0;
}

// The second label of a pair as written: -99 for a haploid offspring.
void order_pair(std::array<int4, 2>& pair, const InferredRow& r) {
  if (r.ploidy == 2 && pair[0] > pair[1]) std::swap(pair[0], pair[1]);
  if (r.haploid) pair[1] = -99;
}

}  // namespace

std::string_view inferred_genotype_suffix(int4 kind) {
  return kSuffix[kind];
}

std::string inferred_genotype_header(int4 kind) {
  std::string h(kIdColumn[kind]);
  h += ",MarkerID";
  const int4 n = variables.numestgenotype;
  if (kind_ploidy(kind) == 2) {
    h += ",ObsAllele1,ObsAllele2,TypeError";
    for (int4 k = 1; k <= n; ++k) {
      const std::string t = std::to_string(k);
      h += ",Est" + t + "-Allele1,Est" + t + "-Allele2,Prob" + t;
    }
  } else {
    h += ",Phenotype,TypeError";
    for (int4 k = 1; k <= n; ++k) {
      const std::string t = std::to_string(k);
      h += ",Genotype" + t + ",Prob" + t;
    }
  }
  return h;
}

bool compose_inferred_row(std::string& out, const InferredRow& r) {
  if (r.n < 1 || r.p[0] < 1e-10f) return false;

  // Typing-error flag: the observation among the alternatives but improbable, or absent while
  // the alternatives hold nearly all the probability.
  real4 sum = 0.0f;
  for (int4 k = 1; k <= r.n; ++k) sum += r.p[static_cast<std::size_t>(k - 1)];
  int4 flag = 0;
  if (r.a1 >= 1) {
    const int4 k = matching_alternative(r);
    if (k > 0) {
      if (r.p[static_cast<std::size_t>(k - 1)] < 0.05f) flag = 1;
    } else if (1.0f - sum < 0.05f) {
      flag = 1;
    }
  }

  // Trailing alternatives at or below the threshold are dropped; the first always stays.
  const real4 threshold = sum > 0.9f ? 0.01f : 0.001f;
  int4 written = r.n;
  while (written > 1 && r.p[static_cast<std::size_t>(written - 1)] <= threshold) --written;

  std::array<int4, 2> obs = r.obs;
  order_pair(obs, r);

  out.append(r.id);
  out += ',';
  out.append(r.marker);
  out += ',';
  if (r.ploidy == 2 && r.dominant) {
    append_int(out, obs[0]);
    out += ",NA,";
  } else if (r.ploidy == 2) {
    append_int(out, obs[0]);
    out += ',';
    append_int(out, obs[1]);
    out += ',';
  } else {
    append_int(out, obs[0]);
    out += ',';
  }
  out += static_cast<char>('0' + flag);
  for (int4 k = 1; k <= written; ++k) {
    std::array<int4, 2> e = r.alt[static_cast<std::size_t>(k - 1)];
    order_pair(e, r);
    out += ',';
    append_int(out, e[0]);
    if (r.ploidy == 2) {
      out += ',';
      append_int(out, e[1]);
    }
    out += ',';
    out.append(probability_text(r.p[static_cast<std::size_t>(k - 1)]));
  }
  out += '\n';
  return true;
}

void writeinferredgtype(ReplacingFile& out, int4 kind, int4 locus) {
  const auto& v = variables;
  const auto& av = annealvariables;
  if (locus == 0) {
    out.write("(A)", inferred_genotype_header(kind));
    return;
  }
  const int4 l = locus;
  const int4 k = v.obsnumallele(l);
  const bool errorfree = v.locuserror(l) == 0;
  const auto& label = v.rawallele(l).a;
  const std::string marker(trim_both(v.markerid(l).view()));
  std::string rows;

  InferredRow r;
  r.marker = marker;
  r.ploidy = kind_ploidy(kind);
  r.dominant = v.dominantmarker(l) != 0;
  r.n = v.numestgenotype;

  if (kind == 0) {
    for (int4 i = 1; i <= v.smplsize; ++i) {
      setgetgtype.locusgtypeptr = v.indivgtype2(l).a;
      int2 g = 0;
      getgtype(g, i, k);
      if (errorfree && g != 0) continue;
      const int4 a1 = v.genotypeid(1, g);
      const int4 a2 = v.genotypeid(2, g);
      r.id = trim_both(v.offspringid(i).view());
      r.haploid = v.offploid(i) == 1;
      r.a1 = a1;
      r.obs = {label(a1), label(a2)};
      for (int4 e = 1; e <= r.n; ++e) {
        const auto u = static_cast<std::size_t>(e - 1);
        r.p[u] = v.estchildgtypeprb(e, i);
        r.alt[u] = {0, 0};
        if (r.p[u] > 1e-10f)
          r.alt[u] = {label(v.estchildgtype(1, e, i)), label(v.estchildgtype(2, e, i))};
      }
      compose_inferred_row(rows, r);
    }
  } else {
    const int4 s = kind;
    r.haploid = false;
    for (int4 f = 1; f <= v.btnumfamily(s); ++f) {
      if (v.numsex == 1 && av.indivloc3(f, s) == 0) continue;
      // A family number no offspring carries has no parent to show.
      if (av.indivloc2(f, s + 2) < 1) continue;
      const int4 c = av.indivloc2(f, s);
      int4 a1 = -1;
      int4 a2 = -1;
      if (c > 0) {
        setgetgtype.locusgtypeptr = v.cndgtype2(l).a;
        int2 g = 0;
        getgtype(g, (s - 1) * v.numcandidate(1) + c, k);
        a1 = v.genotypeid(1, g);
        a2 = r.ploidy == 2 ? v.genotypeid(2, g) : -1;
      }
      if (errorfree && a1 > 0) continue;
      const std::string id = adjustl(v.bestparentid(av.indivloc2(f, s + 2), s).view());
      r.id = trim(id);
      r.a1 = a1;
      r.obs = {std::max(label(std::max(a1, -1)), 0), std::max(label(std::max(a2, -1)), 0)};
      for (int4 e = 1; e <= r.n; ++e) {
        const auto u = static_cast<std::size_t>(e - 1);
        r.p[u] = v.estprntgtypeprb(e, f, s);
        r.alt[u] = {0, 0};
        if (r.p[u] > 1e-10f)
          r.alt[u] = {label(v.estprntgtype(1, e, f, s)), label(v.estprntgtype(2, e, f, s))};
      }
      compose_inferred_row(rows, r);
    }
  }
  out.put(rows);
}

}  // namespace kinrad
