#include "likelihood/oracle.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "core/error_stop.hpp"
#include "core/modules.hpp"
#include "core/modules/likelihoodvar.hpp"
#include "core/modules/setgetgtype.hpp"
#include "core/modules/variables.hpp"
#include "core/packed_genotypes.hpp"
#include "input/input.hpp"
#include "likelihood/likelihood.hpp"
#include "model/model.hpp"
#include "program/prepare_analysis.hpp"
#include "support/temp_dir.hpp"

namespace kinrad::oracle {

namespace {

std::string values(const Cluster& c, const std::vector<Genotype>& g, bool haploid) {
  std::string s;
  for (size_t l = 0; l < c.loci.size(); ++l) {
    const Genotype x = l < g.size() ? g[l] : Genotype{0, 0};
    if (c.loci[l].dominant) {
      s += " " + std::to_string(x[0]);
    } else if (haploid) {
      // A haploid offspring is written with -99 as its second value; a missing locus as 0 0.
      s += " " + std::to_string(x[0]) + (x[0] > 0 ? " -99" : " 0");
    } else {
      s += " " + std::to_string(x[0]) + " " + std::to_string(x[1]);
    }
  }
  return s;
}

std::string parent_values(const Cluster& c, const std::vector<Genotype>& g, bool haploid) {
  std::string s;
  for (size_t l = 0; l < c.loci.size(); ++l) {
    const Genotype x = l < g.size() ? g[l] : Genotype{0, 0};
    if (c.loci[l].dominant || haploid)
      s += " " + std::to_string(x[0]);
    else
      s += " " + std::to_string(x[0]) + " " + std::to_string(x[1]);
  }
  return s;
}

bool all_dominant(const Cluster& c) {
  for (const Locus& l : c.loci)
    if (!l.dominant) return false;
  return true;
}

// Candidate lines of one sex, numbered 1..max: genotypes from the parents carrying that number.
std::vector<std::vector<Genotype>> candidates(const Cluster& c, int sex) {
  std::vector<const Parent*> list;
  auto add = [&](const std::vector<Parent>& ps) {
    for (const Parent& p : ps) list.push_back(&p);
  };
  if (c.numsex == 1) {
    add(c.fathers);
    add(c.mothers);
  } else {
    add(sex == 1 ? c.fathers : c.mothers);
  }
  int n = 0;
  for (const Parent* p : list) n = std::max(n, p->candidate);
  std::vector<std::vector<Genotype>> r(static_cast<size_t>(n));
  for (const Parent* p : list)
    if (p->candidate > 0) r[static_cast<size_t>(p->candidate - 1)] = p->genotype;
  return r;
}

}  // namespace

std::string project_text(const Cluster& c) {
  const size_t n = c.offspring.size() + c.filler.size();
  const bool haplo = c.haplodiploid;
  std::string s = "Oracle\nmyout\n" + std::to_string(n) + "\n" + std::to_string(c.loci.size()) +
                  "\n1234\n0\n" + std::to_string(c.numsex) + "\n" +
                  (c.allowinbreeding ? "1" : "0") + "\n" + (haplo ? "1" : "0") + "\n0 0\n0\n" +
                  std::to_string(c.fsscaleq) + "\n0\n0\n1\n1\n0\n1000\n0\n1\n" +
                  std::to_string(c.likelihoodprecision) + "\n@\n";
  std::string types, drops, others;
  for (const Locus& l : c.loci) {
    types += l.dominant ? "1 " : "0 ";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g ", l.droprate);
    drops += buf;
    std::snprintf(buf, sizeof buf, "%.17g ", l.otherrate);
    others += buf;
  }
  s += types + "\n" + drops + "\n" + others + "\n";
  const bool ploidyfield = haplo && all_dominant(c);
  auto offline = [&](const std::string& id, const std::vector<Genotype>& g, bool haploid) {
    if (ploidyfield) return id + (haploid ? " 1" : " 2") + parent_values(c, g, true) + "\n";
    return id + values(c, g, haploid) + "\n";
  };
  for (size_t i = 0; i < c.offspring.size(); ++i) {
    const bool haploid = i < c.offploid.size() && c.offploid[i] == 1;
    s += offline("O" + std::to_string(i + 1), c.offspring[i], haploid);
  }
  for (size_t i = 0; i < c.filler.size(); ++i)
    s += offline("X" + std::to_string(i + 1), c.filler[i], false);
  const auto cand1 = candidates(c, 1);
  const auto cand2 = candidates(c, 2);
  s += "0.5 0.5\n" + std::to_string(cand1.size()) + " " + std::to_string(cand2.size()) + "\n";
  const std::string id1 = c.numsex == 1 ? "C" : "F";
  const std::string id2 = c.numsex == 1 ? "C" : "M";
  for (size_t k = 0; k < cand1.size(); ++k)
    s += id1 + std::to_string(k + 1) + parent_values(c, cand1[k], haplo) + "\n";
  for (size_t k = 0; k < cand2.size(); ++k)
    s += id2 + std::to_string(k + 1) + parent_values(c, cand2[k], false) + "\n";
  // Known parents, with a mismatch tolerance of every locus so that none is dropped.
  for (int sex = 1; sex <= 2; ++sex) {
    std::vector<std::string> lines;
    for (const Family& f : c.families) {
      const Parent& p = sex == 1 ? c.fathers[static_cast<size_t>(f.father - 1)]
                                 : c.mothers[static_cast<size_t>(f.mother - 1)];
      if (!p.known || p.candidate < 1) continue;
      for (int m : f.members) {
        if (sex == 1 && static_cast<size_t>(m) <= c.offploid.size() &&
            c.offploid[static_cast<size_t>(m - 1)] == 1)
          continue;
        lines.push_back("O" + std::to_string(m) + " " + (sex == 1 ? id1 : id2) +
                        std::to_string(p.candidate));
      }
    }
    s += std::to_string(lines.size()) + " " + std::to_string(c.loci.size()) + "\n";
    for (const auto& l : lines) s += l + "\n";
  }
  s += "0\n0\n0\n0\n0\n0\n";
  return s;
}

Built build(const Cluster& c) {
  Built b;
  reset_all_modules();
  testing_support::write_text("kinrad2.dat", project_text(c));
  testing::internal::CaptureStdout();
  try {
    prepare_analysis({.quiet = true, .check_data = false, .named_phases = false});
    b.ok = true;
  } catch (const ProgramStop& stop) {
    report_program_stop(stop, 0);
    b.error = testing_support::read_text("Kinrad2.ErrorMessage");
  }
  testing::internal::GetCapturedStdout();
  if (!b.ok) return b;
  Variables& v = variables;
  if (v.inbreeding != c.inbreeding) {
    v.inbreeding = c.inbreeding;
    if (v.locus2gtypefre.allocated()) computegtypefre(0, 0);
  }
  b.ok = frame(c);
  return b;
}

bool frame(const Cluster& c) {
  Variables& v = variables;
  const int4 np1 = static_cast<int4>(c.fathers.size());
  const int4 np2 = static_cast<int4>(c.mothers.size());
  setfamilystruc(v.smplsize, std::max(np1, np2));
  v.nparent(1) = np1;
  v.nparent(2) = np2;
  v.nchild.fill(0);
  for (const Family& f : c.families) {
    v.nchild(f.father, f.mother) = static_cast<int2>(f.members.size());
    setfamilymembers(f.father, f.mother, f.members);
    const Parent& fa = c.fathers[static_cast<size_t>(f.father - 1)];
    const Parent& mo = c.mothers[static_cast<size_t>(f.mother - 1)];
    for (int m : f.members) {
      const bool son = v.offploid(m) == 1;
      v.inferparent(m, 1) = son ? 0 : fa.candidate;
      v.inferparent(m, 2) = mo.candidate;
    }
  }
  if (c.numsex == 1) {
    for (const auto& s : c.same) {
      v.parentjdx(s[0], 1) = s[1];
      v.parentjdx(s[1], 2) = s[0];
    }
  }
  int4 status = 0;
  preparevariable(status, 0, 0, 0);
  return status == 0;
}

void exact_mode() {
  variables.likelihoodprecision = 3;
  variables.fulllikelihoodmethodq = 1;
  variables.prec1 = 1e-30;
  variables.prec2 = 1e-30;
  variables.prec3 = 1e-31;
}

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();

// The observed genotype of an individual at a locus as two allele numbers (0 0 missing); a
// haploid or dominant observation has its allele or phenotype first and 0 second.
Genotype decode(int2 g, int4 k, bool dominant, bool haploid) {
  if (g <= 0) return {0, 0};
  if (k <= 2) {
    if (dominant) return {g, 0};
    if (g == 1 || g == 2) return haploid ? Genotype{g, 0} : Genotype{g, g};
    return {1, 2};
  }
  const int a = variables.genotypeid(1, g);
  const int b = variables.genotypeid(2, g);
  return haploid ? Genotype{a, 0} : Genotype{a, b};
}

Genotype offspring_obs(int4 m, int4 locus) {
  const Variables& v = variables;
  setgetgtype.locusgtypeptr = v.indivgtype2(locus).a;
  int2 g = 0;
  const int4 k = v.obsnumallele(locus);
  getgtype(g, m, k);
  return decode(g, k, v.dominantmarker(locus) != 0, v.offploid(m) == 1);
}

Genotype candidate_obs(int4 sex, int4 cand, int4 locus, bool haploid) {
  const Variables& v = variables;
  setgetgtype.locusgtypeptr = v.cndgtype2(locus).a;
  int2 g = 0;
  const int4 k = v.obsnumallele(locus);
  getgtype(g, sex == 1 ? cand : v.numcandidate(1) + cand, k);
  return decode(g, k, v.dominantmarker(locus) != 0, haploid);
}

// Observation probability of a true genotype t (t[1] = 0 haploid) given o; 1 when untyped.
double obs_prob(const Genotype& t, const Genotype& o, int4 locus) {
  if (o[0] <= 0) return 1.0;
  if (t[1] == 0) return prbgtophaploid(t[0], o[0], locus);
  const int4 oo[2] = {o[0], o[1]};
  return prbgtop(t[0], t[1], oo, locus);
}

// A parent individual of the enumeration.
struct Individual {
  int role[2] = {0, 0};  // father index, mother index (0 when it does not act in that role)
  bool haploid = false;
  std::vector<Genotype> g;
  std::vector<double> logw;  // prior x observation x haploid sons, in logs
};

double log0(double x) {
  return x > 0.0 ? std::log(x) : kNegInf;
}

// Effective count of n offspring sharing one observed genotype.
double effective(int n, int4 locus) {
  const Variables& v = variables;
  if (v.fsscaleq != 1) return n;
  const int4 k = v.obsnumallele(locus);
  if (k <= 2) return v.scale2(n);
  const double s = v.scaleloc(v.locus3loc(locus));
  if (s >= 1.0 || n < 2) return n;
  const double e = v.othererrorrate(locus);
  const double m = (1 - v.haplodiploid) * (1 - std::sqrt(e)) * (1 - std::sqrt(e)) * 0.5 / k + 2.0;
  const double cc = (m - std::pow(2.0, s)) / std::log(m);
  return std::pow(static_cast<double>(n), s) + cc * v.logk(n);
}

struct Setup {
  std::vector<Individual> ind;
  std::vector<std::array<int, 2>> famind;   // individual index of father and mother
  std::vector<std::vector<double>> famtab;  // (gf, gm) -> factor / exp(offset)
  double offset = 0.0;
  bool impossible = false;
};

Setup setup(const Cluster& c, int4 locus) {
  const Variables& v = variables;
  Setup st;
  const int4 k = v.obsnumallele(locus);
  const bool dominant = v.dominantmarker(locus) != 0;
  const FView<real8, 1>& fr = v.obsallelefre(locus).a;
  std::map<std::pair<int, int>, int> roleof;  // (sex, index) -> individual
  for (size_t i = 0; i < c.fathers.size(); ++i) {
    Individual x;
    x.role[0] = static_cast<int>(i + 1);
    x.haploid = c.haplodiploid;
    roleof[{1, static_cast<int>(i + 1)}] = static_cast<int>(st.ind.size());
    st.ind.push_back(x);
  }
  for (size_t j = 0; j < c.mothers.size(); ++j) {
    const int mj = static_cast<int>(j + 1);
    int merged = -1;
    for (const auto& s : c.same)
      if (s[1] == mj) merged = roleof[{1, s[0]}];
    if (merged >= 0) {
      st.ind[static_cast<size_t>(merged)].role[1] = mj;
      roleof[{2, mj}] = merged;
      continue;
    }
    Individual x;
    x.role[1] = mj;
    roleof[{2, mj}] = static_cast<int>(st.ind.size());
    st.ind.push_back(x);
  }
  // Genotypes and weights of each individual.
  for (Individual& x : st.ind) {
    if (x.haploid) {
      for (int a = 1; a <= k; ++a) x.g.push_back({a, 0});
    } else {
      for (int a = 1; a <= k; ++a)
        for (int b = a; b <= k; ++b) x.g.push_back({a, b});
    }
    double F = 0.0;
    if (k <= 2) {
      F = v.inbreeding;
    } else if (v.allowinbreeding == 1) {
      F = v.inbreeding;
      if (v.allowinbreeding == v.numsex) {
        const int s = x.role[0] > 0 ? 1 : 2;
        F = likelihoodvar.prntinbcoe(x.role[s - 1], s);
      }
    }
    const Parent* cand = nullptr;
    int candsex = 0;
    for (int s = 1; s <= 2; ++s) {
      if (x.role[s - 1] == 0) continue;
      const Parent& p = s == 1 ? c.fathers[static_cast<size_t>(x.role[0] - 1)]
                               : c.mothers[static_cast<size_t>(x.role[1] - 1)];
      // A haploid son has no father: a father whose offspring in the cluster are all sons is
      // no parent of them, and his own observation belongs to no family of the cluster.
      if (s == 1 && c.haplodiploid) {
        bool daughters = false;
        for (const Family& f : c.families)
          if (f.father == x.role[0])
            for (int m : f.members) daughters = daughters || v.offploid(m) != 1;
        if (!daughters) continue;
      }
      if (p.candidate > 0 && cand == nullptr) {
        cand = &p;
        candsex = s;
      }
    }
    const Genotype obs =
        cand ? candidate_obs(candsex, cand->candidate, locus, x.haploid) : Genotype{0, 0};
    for (const Genotype& g : x.g) {
      double prior = 0.0;
      if (x.haploid) {
        prior = fr(g[0]);
      } else if (k <= 2) {
        const double p = fr(1);
        const double q = fr(2);
        if (g[0] == 1 && g[1] == 1) prior = ((1 - F) * p + F) * p;
        if (g[0] == 1 && g[1] == 2) prior = 2 * (1 - F) * p * q;
        if (g[0] == 2 && g[1] == 2) prior = ((1 - F) * q + F) * q;
        prior = std::max(prior, 0.0);
      } else if (g[0] == g[1]) {
        prior = fr(g[0]) * std::max(F + (1 - F) * fr(g[0]), 1e-6);
      } else {
        prior = 2 * fr(g[0]) * fr(g[1]) * (1 - F);
      }
      x.logw.push_back(log0(prior) + log0(obs_prob(g, obs, locus)));
    }
  }
  // Haploid sons, grouped by the individual that is their mother.
  std::map<int, std::map<int, int>> sons;  // individual -> allele -> count
  for (const Family& f : c.families) {
    const int mi = roleof[{2, f.mother}];
    for (int m : f.members) {
      if (v.offploid(m) != 1) continue;
      const Genotype o = offspring_obs(m, locus);
      if (o[0] > 0) ++sons[mi][o[0]];
    }
  }
  for (const auto& [mi, counts] : sons) {
    Individual& x = st.ind[static_cast<size_t>(mi)];
    for (size_t gi = 0; gi < x.g.size(); ++gi) {
      const Genotype& g = x.g[gi];
      for (const auto& [a, n] : counts) {
        const double p = 0.5 * (prbgtophaploid(g[0], a, locus) + prbgtophaploid(g[1], a, locus));
        x.logw[gi] += n * log0(p);
      }
    }
  }
  // Full-sib factors over every pair of parent genotypes. In a one-sex species the offspring of
  // two individuals form one full-sib family whichever of them is the father (the effective
  // count of a genotype is taken over the whole family).
  std::vector<Family> merged;
  for (const Family& f : c.families) {
    const int fi = roleof[{1, f.father}];
    const int mi = roleof[{2, f.mother}];
    bool joined = false;
    for (Family& g : merged) {
      const int gf = roleof[{1, g.father}];
      const int gm = roleof[{2, g.mother}];
      if (c.numsex == 1 && gf == mi && gm == fi) {
        g.members.insert(g.members.end(), f.members.begin(), f.members.end());
        joined = true;
      }
    }
    if (!joined) merged.push_back(f);
  }
  for (const Family& f : merged) {
    const int fi = roleof[{1, f.father}];
    const int mi = roleof[{2, f.mother}];
    std::map<Genotype, int> counts;
    for (int m : f.members) {
      if (v.offploid(m) == 1) continue;
      const Genotype o = offspring_obs(m, locus);
      if (o[0] > 0) ++counts[o];
    }
    const Individual& xf = st.ind[static_cast<size_t>(fi)];
    const Individual& xm = st.ind[static_cast<size_t>(mi)];
    std::vector<double> tab(xf.g.size() * xm.g.size(), kNegInf);
    for (size_t a = 0; a < xf.g.size(); ++a) {
      for (size_t b = 0; b < xm.g.size(); ++b) {
        if (fi == mi && a != b) continue;  // a selfed family has one parent genotype
        const Genotype& gf = xf.g[a];
        const Genotype& gm = xm.g[b];
        double lsum = 0.0;
        for (const auto& [o, n] : counts) {
          double p = 0.0;
          const int nf = gf[1] == 0 ? 1 : 2;
          for (int i = 0; i < nf; ++i) {
            for (int j = 0; j < 2; ++j) {
              Genotype t{gf[static_cast<size_t>(i)], gm[static_cast<size_t>(j)]};
              if (t[0] > t[1]) std::swap(t[0], t[1]);
              p += (1.0 / nf) * 0.5 * obs_prob(t, o, locus);
            }
          }
          lsum += effective(n, locus) * log0(p);
        }
        tab[a * xm.g.size() + b] = lsum;
      }
    }
    double top = kNegInf;
    for (double x : tab) top = std::max(top, x);
    if (top == kNegInf) st.impossible = true;
    std::vector<double> e(tab.size());
    for (size_t i = 0; i < tab.size(); ++i) e[i] = tab[i] == kNegInf ? 0.0 : std::exp(tab[i] - top);
    if (top != kNegInf) st.offset += top;
    st.famind.push_back({fi, mi});
    st.famtab.push_back(std::move(e));
  }
  (void)dominant;
  return st;
}

}  // namespace

double combinations(const Cluster& c, int locus) {
  const int4 k = variables.obsnumallele(locus);
  double n = 1.0;
  const size_t ni = c.fathers.size() + c.mothers.size() - c.same.size();
  for (size_t i = 0; i < ni; ++i)
    n *= (i < c.fathers.size() && c.haplodiploid) ? k : k * (k + 1) / 2;
  return n;
}

double locus_logl_within(const Cluster& c, int locus, const std::vector<std::vector<bool>>& keep) {
  Setup st = setup(c, locus);
  if (st.impossible) return -1e300;
  // Each individual's weights relative to its largest.
  std::vector<std::vector<double>> w(st.ind.size());
  for (size_t i = 0; i < st.ind.size(); ++i) {
    double top = kNegInf;
    for (double x : st.ind[i].logw) top = std::max(top, x);
    if (top == kNegInf) return -1e300;
    st.offset += top;
    for (size_t a = 0; a < st.ind[i].logw.size(); ++a) {
      const double x = st.ind[i].logw[a];
      const bool kept = keep.empty() || keep[i][a];
      w[i].push_back(x == kNegInf || !kept ? 0.0 : std::exp(x - top));
    }
  }
  std::vector<size_t> g(st.ind.size(), 0);
  double sum = 0.0;
  std::function<void(size_t, double)> visit = [&](size_t i, double prod) {
    if (i == st.ind.size()) {
      for (size_t f = 0; f < st.famtab.size(); ++f) {
        const size_t nm = st.ind[static_cast<size_t>(st.famind[f][1])].g.size();
        prod *= st.famtab[f][g[static_cast<size_t>(st.famind[f][0])] * nm +
                             g[static_cast<size_t>(st.famind[f][1])]];
      }
      sum += prod;
      return;
    }
    for (size_t a = 0; a < w[i].size(); ++a) {
      if (w[i][a] == 0.0) continue;
      g[i] = a;
      visit(i + 1, prod * w[i][a]);
    }
  };
  visit(0, 1.0);
  if (!(sum > 0.0)) return -1e300;
  return std::log(sum) + st.offset;
}

double locus_logl(const Cluster& c, int locus) {
  return locus_logl_within(c, locus, {});
}

LocusTerms locus_terms(const Cluster& c, int locus) {
  const Setup st = setup(c, locus);
  LocusTerms t;
  for (const Individual& x : st.ind) {
    LocusTerms::Person p;
    p.role[0] = x.role[0];
    p.role[1] = x.role[1];
    p.g = x.g;
    p.logw = x.logw;
    t.people.push_back(std::move(p));
  }
  for (size_t f = 0; f < st.famtab.size(); ++f) {
    LocusTerms::Fam fam;
    fam.father = st.famind[f][0];
    fam.mother = st.famind[f][1];
    for (double e : st.famtab[f]) fam.logtab.push_back(e > 0.0 ? std::log(e) : kNegInf);
    t.families.push_back(std::move(fam));
  }
  return t;
}

std::vector<double> parent_marginal(const Cluster& c, int locus, int sex, int index) {
  Setup st = setup(c, locus);
  size_t target = st.ind.size();
  for (size_t i = 0; i < st.ind.size(); ++i)
    if (st.ind[i].role[sex - 1] == index) target = i;
  if (target == st.ind.size() || st.impossible) return {};
  std::vector<std::vector<double>> w(st.ind.size());
  for (size_t i = 0; i < st.ind.size(); ++i) {
    double top = kNegInf;
    for (double x : st.ind[i].logw) top = std::max(top, x);
    if (top == kNegInf) return {};
    for (double x : st.ind[i].logw) w[i].push_back(x == kNegInf ? 0.0 : std::exp(x - top));
  }
  std::vector<double> marg(st.ind[target].g.size(), 0.0);
  std::vector<size_t> g(st.ind.size(), 0);
  std::function<void(size_t, double)> visit = [&](size_t i, double prod) {
    if (i == st.ind.size()) {
      for (size_t f = 0; f < st.famtab.size(); ++f) {
        const size_t nm = st.ind[static_cast<size_t>(st.famind[f][1])].g.size();
        prod *= st.famtab[f][g[static_cast<size_t>(st.famind[f][0])] * nm +
                             g[static_cast<size_t>(st.famind[f][1])]];
      }
      marg[g[target]] += prod;
      return;
    }
    for (size_t a = 0; a < w[i].size(); ++a) {
      if (w[i][a] == 0.0) continue;
      g[i] = a;
      visit(i + 1, prod * w[i][a]);
    }
  };
  visit(0, 1.0);
  double sum = 0.0;
  for (double x : marg) sum += x;
  if (!(sum > 0.0)) return {};
  for (double& x : marg) x /= sum;
  return marg;
}

double total_logl(const Cluster& c) {
  double s = 0.0;
  for (int4 l = 1; l <= variables.numloci; ++l) {
    if (variables.obsnumallele(l) < 2) continue;
    const double x = locus_logl(c, l);
    if (x <= -1e300) return -1e300;
    s += x;
  }
  return s;
}

double tolerance(double lnl, int offspring_ln2, int families_single) {
  return 1e-10 * std::max(1.0, std::fabs(lnl)) + 6e-10 * offspring_ln2 + 1e-5 * families_single;
}

}  // namespace kinrad::oracle
