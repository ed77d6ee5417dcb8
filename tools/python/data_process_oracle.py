#!/usr/bin/env python3
"""Independent computation of the starting allele frequencies, the selfing iteration and the
family correction for the fixtures of tests/input/test_data_process_corrections.cpp.

The fixtures below must stay identical to the ones in that test. Genotypes are written as
two-digit allele numbers per individual ("12" is 1/2, "00" missing; a dominant phenotype p
is "pp"). Run:  python3 tools/python/data_process_oracle.py > tests/input/data/data_process_oracle.txt
"""
import math

# ---------------------------------------------------------------- selfing fixture
# Monoecious with inbreeding: 8 offspring, 2 candidate parents (listed in both sexes).
SELF_LOCI = [  # (k, dominant, droprate, offspring, candidates)
    (3, False, 0.0, "11 12 22 13 33 00 11 23", "11 23"),
    (2, True, 0.1, "11 22 11 11 22 11 00 22", "11 22"),
    (2, False, 0.0, "11 12 22 11 00 12 11 22", "11 12"),
]


def pairs(text):
    return [(int(t[0]), int(t[1])) for t in text.split()]


def starting(k, dominant, drop, individuals):
    count = [0] * (k + 1)
    for a1, a2 in individuals:
        count[a1] += 1
        count[a2] += 1
    if dominant:
        n = count[1] + count[2]
        q = (drop - math.sqrt(4 * count[2] * (1 - drop) / n + drop * drop)) / (2 * drop - 2)
        return [None, 1 - q, q]
    total = sum(count[1:])
    return [None] + [count[a] / total for a in range(1, k + 1)]


def selfing():
    loci = []
    for k, dom, drop, off, cnd in SELF_LOCI:
        ind = pairs(off) + pairs(cnd)  # offspring, then the parents once
        counted = [g for g in ind if g[0] > 0]
        p = starting(k, dom, drop, counted)
        loci.append((k, dom, ind, p))
    nind = len(loci[0][2])
    F = [0.25] * nind
    typed = [sum(1 for (_, _, ind, _) in loci if ind[i][0] > 0) for i in range(nind)]
    fixed = []
    for k, dom, ind, p in loci:
        c = [0.0] * (k + 1)
        if not dom:
            for a1, a2 in ind:
                if a1 > 0:
                    c[a1] += 1
                    c[a2] += 1
        fixed.append(c)
    iterations = 0
    for it in range(1, 2001):
        iterations = it
        S = [0.0] * nind
        D = 0.0
        for li, (k, dom, ind, p) in enumerate(loci):
            E = [0.0] * (k + 1)
            for i, (a1, a2) in enumerate(ind):
                if a1 == 0:
                    continue
                f = F[i]
                if dom:
                    q = p[2]
                    if a1 == 2:
                        P = ((1 - f) * q + f) * q
                        z = q * f / P
                        E[2] += 2 - z
                        S[i] += z
                    else:
                        P = 1 - ((1 - f) * q + f) * q
                        z = f * p[1] / P
                        h = (f * p[1] + (1 - f) * p[1] ** 2) / P
                        E[1] += 1 + (1 - z) * h
                        E[2] += 1 - h
                        S[i] += z
                elif a1 == a2:
                    z = f / (f + (1 - f) * p[a1])
                    E[a1] -= z
                    S[i] += z
            if not dom:
                for a in range(1, k + 1):
                    E[a] += fixed[li][a]
            tot = sum(E[1:])
            for a in range(1, k + 1):
                new = E[a] / tot
                D = max(D, abs(p[a] - new))
                p[a] = new
        F = [min(S[i] / typed[i], 0.5) if typed[i] > 0 else 0.5 for i in range(nind)]
        if D < 1e-5:
            break
    print(f"# selfing: {iterations} iterations")
    for li, (k, dom, ind, p) in enumerate(loci, start=1):
        for a in range(1, k + 1):
            print(f"selfing {li} {a} {p[a]!r}")


# ---------------------------------------------------------------- family fixture
# Dioecious, 10 offspring, one candidate of each sex; a known father shared by 6 offspring.
FAMILY_LOCI = [  # (k, othererrorrate, offspring, father, mother)
    (3, 0.0, "11 12 13 12 23 11 13 00 12 12", "12", "13"),
    (5, 0.05, "12 13 24 25 34 15 23 45 11 22", "25", "00"),
    (7, 0.3, "12 34 56 77 17 26 35 44 11 12", "13", "67"),
    (7, 0.1, "11 13 33 12 27 33 13 67 57 47", "11", "27"),
    (4, 0.0, "22 34 22 13 24 24 12 44 33 24", "33", "44"),
    (7, 0.1, "45 11 67 14 33 13 44 11 25 33", "33", "57"),
]


def family():
    n = 10
    for li, (k, e, off, fa, mo) in enumerate(FAMILY_LOCI, start=1):
        ind = pairs(off)
        cnd = pairs(fa) + pairs(mo)
        total = [0] * (k + 1)
        for a1, a2 in ind + cnd:
            if a1 > 0:
                total[a1] += 1
                total[a2] += 1
        start = [total[a] / sum(total[1:]) for a in range(1, k + 1)]
        result, chosen = start, "skipped"
        if k >= 3 and e <= 0.6 - 1 / math.sqrt(k):
            cnt = [0] * (k + 1)
            for a1, a2 in ind:
                if a1 > 0:
                    cnt[a1] += 1
                    cnt[a2] += 1
            order = sorted(range(1, k + 1), key=lambda a: -cnt[a])
            K = 1 if k == 3 else (2 if k <= 6 else 4)
            top = [cnt[a] for a in order[: min(k, K + 1)]]
            assert len(set(top)) == len(top), f"locus {li}: tied counts make the order ambiguous"
            o = [None] + order
            sets = [[o[1]]]
            if K >= 2:
                sets.append([o[1], o[2]])
            if K == 4:
                sets += [[o[1], o[3]], [o[1], o[4]], [o[2], o[3]], [o[2], o[4]], [o[3], o[4]],
                         [o[1], o[2], o[3], o[4]]]
            T = 1 if e <= 1e-300 else max(3, math.floor(n * e + 0.5))
            w = 2 / k ** 2 + 0.25
            chosen = "none"
            for s in sets:
                c = [1 / k] * (k + 1)
                un = 0
                for a1, a2 in ind:
                    if a1 == 0:
                        continue
                    i1, i2 = a1 in s, a2 in s
                    if i1 and i2:
                        c[a1] += w
                        c[a2] += w
                    elif i1:
                        c[a2] += 1
                    elif i2:
                        c[a1] += 1
                    else:
                        c[a1] += 1
                        c[a2] += 1
                        un += 1
                    if un > T:
                        break
                if un > T:
                    continue
                if un >= 2:
                    for a in s:
                        c[a] += 0.25 * w
                for a1, a2 in cnd:
                    if a1 > 0:
                        c[a1] += 1
                        c[a2] += 1
                tot = sum(c[1:])
                result = [c[a] / tot for a in range(1, k + 1)]
                chosen = f"set {s} unexplained {un}"
                break
        print(f"# family locus {li}: {chosen}")
        for a in range(1, k + 1):
            print(f"family {li} {a} {result[a - 1]!r}")


selfing()
family()
