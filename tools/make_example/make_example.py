#!/usr/bin/env python3
"""Simulates the example project and writes it with its true pedigree.

Run from anywhere (standard library only; the output is the same on every run):

    python3 tools/make_example/make_example.py [--outdir DIR]

DIR defaults to the repository's examples/ folder. Two files are written there:

  kinrad2.dat        the project input file: run parameters, markers, offspring genotypes,
                     candidate parents and known / excluded relationships, one item per record,
                     each record followed by a "!" comment that names the item;
  kinrad2.truth.txt  the simulated pedigree (layout described at its top).

The sample is a dioecious, diploid, outbred population. Unrelated founders are drawn from
per-locus allele frequencies (Hardy-Weinberg proportions, a Dirichlet draw per locus); the
offspring come from the mating table MATINGS below, so that several fathers mate with two or
three mothers and several mothers with two or three fathers. Observed genotypes carry allelic
dropout (a heterozygote is typed as a homozygote of one of its alleles with probability
2d/(1 + d)), other typing errors (each allele replaced, with probability e, by an allele drawn
uniformly from the locus's alleles) and missing loci. Candidate parents are some of the true
parents plus unrelated individuals drawn from the same frequencies. The known and excluded
relationships are picked at random among those the truth allows.
"""
import argparse
import os
import random

GENERATOR_SEED = 20240611

NUM_LOCI = 10
MIN_ALLELES, MAX_ALLELES = 5, 15
MISSING_RATE = 0.03  # share of (individual, locus) genotypes left untyped
RATE_RANGE = (0.010, 0.020)  # dropout and other-error rates are drawn from this range

# Full-sib families as (father, mother, number of offspring): fathers 1-7, mothers 1-8.
MATINGS = [
    (1, 1, 12), (1, 2, 4), (1, 3, 1),
    (2, 3, 9), (2, 4, 2),
    (3, 5, 8),
    (4, 5, 5), (4, 6, 3),
    (5, 6, 6),
    (6, 6, 2), (6, 7, 7),
    (7, 8, 1),
]
NUM_FATHERS = 7
NUM_MOTHERS = 8
SAMPLED_FATHERS = [1, 2, 4, 6]  # true fathers that are among the candidate fathers
SAMPLED_MOTHERS = [1, 3, 6, 7]
UNRELATED_MALES = 4  # candidate fathers that are not parents of any offspring
UNRELATED_FEMALES = 4

# Run parameters of the input file: a quick first analysis.
RUN_SEED = 1234
KNOWN_PARENT_TOLERANCE = 1  # loci at which a known parent may mismatch its offspring


def dirichlet(rng, k, alpha=1.0):
    """Unequal frequencies, no allele rarer than 1%."""
    while True:
        g = [rng.gammavariate(alpha, 1.0) for _ in range(k)]
        s = sum(g)
        f = [x / s for x in g]
        if min(f) >= 0.01:
            return f


def make_loci(rng):
    """Per locus: allele labels (repeat-unit spacing), frequencies, dropout and error rates."""
    loci = []
    for _ in range(NUM_LOCI):
        k = rng.randint(MIN_ALLELES, MAX_ALLELES)
        step = rng.choice([2, 2, 2, 4])
        start = rng.randrange(80, 250, 2)
        labels = [start + step * i for i in range(k)]
        freqs = dirichlet(rng, k)
        drop = round(rng.uniform(*RATE_RANGE), 4)
        other = round(rng.uniform(*RATE_RANGE), 4)
        loci.append({"labels": labels, "freqs": freqs, "drop": drop, "other": other})
    return loci


def draw_allele(rng, locus):
    return rng.choices(locus["labels"], weights=locus["freqs"])[0]


def founder(rng, loci):
    return [(draw_allele(rng, loc), draw_allele(rng, loc)) for loc in loci]


def child(rng, dad, mum):
    return [(rng.choice(d), rng.choice(m)) for d, m in zip(dad, mum)]


def observe(rng, genotype, loci):
    """Typed genotype: dropout, other errors and missing loci (0 0), alleles in ascending order."""
    while True:
        obs = []
        for (a, b), loc in zip(genotype, loci):
            if rng.random() < MISSING_RATE:
                obs.append((0, 0))
                continue
            d, e = loc["drop"], loc["other"]
            if a != b and rng.random() < 2.0 * d / (1.0 + d):
                a = b = rng.choice((a, b))
            if rng.random() < e:
                a = rng.choice(loc["labels"])
            if rng.random() < e:
                b = rng.choice(loc["labels"])
            obs.append((min(a, b), max(a, b)))
        if any(x != (0, 0) for x in obs):
            return obs


def shares_allele(parent_obs, off_obs):
    """Number of loci at which a typed parent and a typed offspring share no allele."""
    n = 0
    for p, o in zip(parent_obs, off_obs):
        if 0 in p or 0 in o:
            continue
        if p[0] not in o and p[1] not in o:
            n += 1
    return n


def simulate(rng):
    loci = make_loci(rng)
    fathers = {i: founder(rng, loci) for i in range(1, NUM_FATHERS + 1)}
    mothers = {i: founder(rng, loci) for i in range(1, NUM_MOTHERS + 1)}

    offspring = []  # dicts: family, father, mother, true genotype
    for fam, (f, m, size) in enumerate(MATINGS, start=1):
        for _ in range(size):
            offspring.append({"fam": fam, "father": f, "mother": m,
                              "true": child(rng, fathers[f], mothers[m])})
    rng.shuffle(offspring)
    for i, off in enumerate(offspring, start=1):
        off["id"] = "Off_%02d" % i
        off["obs"] = observe(rng, off["true"], loci)

    def candidates(sampled, parents, unrelated, prefix):
        pool = [{"parent": p, "true": parents[p]} for p in sampled]
        pool += [{"parent": 0, "true": founder(rng, loci)} for _ in range(unrelated)]
        rng.shuffle(pool)
        for j, c in enumerate(pool, start=1):
            c["id"] = "%s_%02d" % (prefix, j)
            c["obs"] = observe(rng, c["true"], loci)
        return pool

    males = candidates(SAMPLED_FATHERS, fathers, UNRELATED_MALES, "Male")
    females = candidates(SAMPLED_MOTHERS, mothers, UNRELATED_FEMALES, "Female")
    return loci, offspring, males, females


def parent_id(cands, number, unsampled_prefix):
    for c in cands:
        if c["parent"] == number:
            return c["id"]
    return "%s%02d" % (unsampled_prefix, number)


def pick_relationships(rng, offspring, males, females):
    """Known parents, known sibships and exclusions, all true of the simulated pedigree."""
    rel = {}
    used = set()  # offspring indices already given a known parent or sibship

    def pick(pred, n):
        pool = [i for i, o in enumerate(offspring) if pred(o) and i not in used]
        chosen = sorted(rng.sample(pool, n))
        used.update(chosen)
        return chosen

    def known_parents(cands, key, sampled, n):
        lines = []
        for i in pick(lambda o: o[key] in sampled, 3 * n):
            cand = next(c for c in cands if c["parent"] == offspring[i][key])
            if shares_allele(cand["obs"], offspring[i]["obs"]) == 0 and len(lines) < n:
                lines.append((offspring[i]["id"], cand["id"]))
        assert len(lines) == n
        return lines

    rel["known_father"] = known_parents(males, "father", SAMPLED_FATHERS, 2)
    rel["known_mother"] = known_parents(females, "mother", SAMPLED_MOTHERS, 1)

    # Known sibships among offspring of unsampled parents: father 3, mother 2.
    rel["known_pat_sibs"] = [[offspring[i]["id"] for i in pick(lambda o: o["father"] == 3, 3)]]
    rel["known_mat_sibs"] = [[offspring[i]["id"] for i in pick(lambda o: o["mother"] == 2, 2)]]

    def exclusions(cands, key, n_lines, sizes):
        lines = []
        for i, size in zip(pick(lambda o: True, n_lines), sizes):
            off = offspring[i]
            others = [c["id"] for c in cands if c["parent"] != off[key]]
            lines.append((off["id"], sorted(rng.sample(others, size))))
        return lines

    # Five of the eight candidate fathers excluded for one offspring: more than half.
    rel["excl_father"] = exclusions(males, "father", 2, [2, 5])
    rel["excl_mother"] = exclusions(females, "mother", 1, [2])

    def excluded_sibs(key, n_listed):
        a = rng.choice(offspring)
        others = [o["id"] for o in offspring if o[key] != a[key]]
        return [(a["id"], sorted(rng.sample(others, n_listed)))]

    rel["excl_pat_sibs"] = excluded_sibs("father", 2)
    rel["excl_mat_sibs"] = excluded_sibs("mother", 2)
    return rel


def commented(values, comment, width=36):
    text = values.ljust(width - 1) + " "
    return text + "! " + comment


def genotype_text(obs):
    return "  ".join("%3d %3d" % g for g in obs)


def write_input(path, loci, offspring, males, females, rel):
    n_off = len(offspring)
    prop_f = sum(o["father"] in SAMPLED_FATHERS for o in offspring) / n_off
    prop_m = sum(o["mother"] in SAMPLED_MOTHERS for o in offspring) / n_off
    out = []
    c = out.append
    c(commented("ExampleProject", "Dataset name"))
    c(commented("kinrad2_example", "Output file name (stem of all result files)"))
    c(commented(str(n_off), "Number of offspring in the sample"))
    c(commented(str(NUM_LOCI), "Number of loci"))
    c(commented(str(RUN_SEED), "Seed for the random number generator"))
    c(commented("1", "Update allele frequencies: 0 no, 1 yes"))
    c(commented("2", "Species: 2 dioecious, 1 monoecious"))
    c(commented("0", "Inbreeding: 0 no, 1 yes"))
    c(commented("0", "Species: 0 diploid, 1 haplodiploid"))
    c(commented("0  0", "Max matings per male and per female (0 unconstrained)"))
    c(commented("0", "Clone inference: 0 no, 1 yes"))
    c(commented("0", "Full-sibship size scaling: 0 no, 1 yes"))
    c(commented("0", "Sibship prior: 0 none, 1 weak, 2 medium, 3 strong, 4 Ne"))
    c(commented("0", "Population allele frequencies: 0 unknown, 1 known"))
    c(commented("1", "Number of runs"))
    c(commented("1", "Length of run: 0 very short, 1 short, ... 4 very long"))
    c(commented("0", "Monitor method: 0 by iterations, 1 by seconds"))
    c(commented("10000", "Monitor interval (iterations)"))
    c(commented("0", "Platform: 1 Windows, 0 other"))
    c(commented("1", "Method: 0 pairwise score, 1 full likelihood, 2 combined"))
    c(commented("1", "Likelihood precision: 0 low, 1 medium, 2 high, 3 very high"))

    c(commented(" ".join("Ms%02d" % (l + 1) for l in range(NUM_LOCI)), "Marker identifiers"))
    c(commented("0@", "Marker type, all loci: 0 codominant, 1 dominant"))
    c(commented(" ".join("%.4f" % loc["drop"] for loc in loci), "Allelic dropout rate per locus"))
    c(commented(" ".join("%.4f" % loc["other"] for loc in loci), "Other typing-error rate per locus"))

    for k, off in enumerate(offspring):
        line = "%-8s %s" % (off["id"], genotype_text(off["obs"]))
        if k == 0:
            line += "  ! Offspring: identifier, 2 alleles per locus (0 0 untyped)"
        out.append(line)

    c(commented("%.2f  %.2f" % (prop_f, prop_m),
                "Probabilities that the father / mother is among the candidates"))
    c(commented("%d  %d" % (len(males), len(females)), "Numbers of candidate fathers and mothers"))
    for cands, word in ((males, "Candidate fathers"), (females, "Candidate mothers")):
        for k, cand in enumerate(cands):
            line = "%-9s %s" % (cand["id"], genotype_text(cand["obs"]))
            if k == 0:
                line += "  ! %s: identifier, 2 alleles per locus" % word
            out.append(line)

    for key, word in (("known_father", "paternity"), ("known_mother", "maternity")):
        lines = rel[key]
        c(commented("%d  %d" % (len(lines), KNOWN_PARENT_TOLERANCE),
                    "Known %s: number of lines, mismatch tolerance (loci)" % word))
        for off_id, cand_id in lines:
            out.append("%s  %s" % (off_id, cand_id))
    for key, word in (("known_pat_sibs", "paternal"), ("known_mat_sibs", "maternal")):
        sibs = rel[key]
        c(commented(str(len(sibs)), "Known %s sibships: number of lines (size, members)" % word))
        for members in sibs:
            out.append("%d  %s" % (len(members), " ".join(members)))
    for key, word in (("excl_father", "paternity"), ("excl_mother", "maternity")):
        lines = rel[key]
        c(commented(str(len(lines)),
                    "Excluded %s: number of lines (offspring, count, candidates)" % word))
        for off_id, ids in lines:
            out.append("%s  %d  %s" % (off_id, len(ids), " ".join(ids)))
    for key, word in (("excl_pat_sibs", "paternal"), ("excl_mat_sibs", "maternal")):
        lines = rel[key]
        c(commented(str(len(lines)),
                    "Excluded %s sibships: number of lines (offspring, count, offspring)" % word))
        for off_id, ids in lines:
            out.append("%s  %d  %s" % (off_id, len(ids), " ".join(ids)))

    with open(path, "w", newline="\n") as f:
        f.write("\n".join(out) + "\n")


def write_truth(path, offspring, males, females):
    out = [
        "# True pedigree of the example project kinrad2.dat, written by",
        "# tools/make_example/make_example.py together with it.",
        "#",
        "# Lines starting with '#' are comments. Two tables follow, each opened by a line",
        "# holding its name and its number of rows.",
        "#",
        "# OFFSPRING: one row per offspring, in input-file order:",
        "#   offspring_id  father_id  mother_id  fullsib_family  paternal_family  maternal_family",
        "#   father_id / mother_id is the candidate identifier when the parent is among the",
        "#   candidates, otherwise UF<n> / UM<n> (an unsampled father / mother). Families are",
        "#   numbered 1, 2, ...; the paternal (maternal) family number is the father's (mother's)",
        "#   number: offspring with the same number share that parent.",
        "#",
        "# CANDIDATES: one row per candidate, fathers first, in input-file order:",
        "#   candidate_id  sex (1 male, 2 female)  true_parent (1 yes, 0 no)  family",
        "#   family is the paternal (maternal) family number of the candidate's offspring,",
        "#   0 for a candidate that is no parent of any offspring.",
        "OFFSPRING %d" % len(offspring),
    ]
    for o in offspring:
        out.append("%-8s %-10s %-10s %3d %3d %3d" % (
            o["id"], parent_id(males, o["father"], "UF"), parent_id(females, o["mother"], "UM"),
            o["fam"], o["father"], o["mother"]))
    out.append("CANDIDATES %d" % (len(males) + len(females)))
    for sex, cands in ((1, males), (2, females)):
        for cnd in cands:
            out.append("%-10s %d %d %3d" % (cnd["id"], sex, 1 if cnd["parent"] else 0,
                                             cnd["parent"]))
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(out) + "\n")


def check(loci, offspring, males, females, rel):
    """Invariants the input reader and the data preparation rely on."""
    by_id = {o["id"]: o for o in offspring}
    cand = {c["id"]: c for c in males + females}
    for l in range(NUM_LOCI):
        seen = {a for ind in offspring + males + females for a in ind["obs"][l] if a}
        assert 2 <= len(seen) <= 127, "locus %d has %d observed alleles" % (l + 1, len(seen))
    for key, parent_key in (("known_father", "father"), ("known_mother", "mother")):
        for off_id, cand_id in rel[key]:
            assert cand[cand_id]["parent"] == by_id[off_id][parent_key]
    known_off = {o for o, _ in rel["known_father"] + rel["known_mother"]}
    for key, parent_key in (("known_pat_sibs", "father"), ("known_mat_sibs", "mother")):
        for members in rel[key]:
            assert len({by_id[m][parent_key] for m in members}) == 1
            assert not known_off & set(members)
    for key, parent_key in (("excl_father", "father"), ("excl_mother", "mother")):
        for off_id, ids in rel[key]:
            assert off_id not in known_off
            assert len(set(ids)) == len(ids)
            assert all(cand[i]["parent"] != by_id[off_id][parent_key] for i in ids)
    for key, parent_key in (("excl_pat_sibs", "father"), ("excl_mat_sibs", "mother")):
        for off_id, ids in rel[key]:
            assert all(by_id[i][parent_key] != by_id[off_id][parent_key] for i in ids)
    for ind in offspring + males + females:
        assert len(ind["id"]) <= 20


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--outdir", default=os.path.join(here, "..", "..", "examples"))
    args = parser.parse_args()

    rng = random.Random(GENERATOR_SEED)
    loci, offspring, males, females = simulate(rng)
    rel = pick_relationships(rng, offspring, males, females)
    check(loci, offspring, males, females, rel)
    os.makedirs(args.outdir, exist_ok=True)
    write_input(os.path.join(args.outdir, "kinrad2.dat"), loci, offspring, males, females, rel)
    write_truth(os.path.join(args.outdir, "kinrad2.truth.txt"), offspring, males, females)


if __name__ == "__main__":
    main()
