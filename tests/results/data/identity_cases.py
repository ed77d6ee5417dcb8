# Expected selfing rates from identity disequilibrium, transcribed plainly from the method:
# per-locus heterozygote and typed counts, loci without information left out, then the ratio
# of within-offspring to between-offspring shared heterozygosity. Writes identity_cases.txt:
# per data set a line "n L", L lines "nallele dominant codes" (codes per offspring: 0 missing,
# 1 homozygote, 2 heterozygote), then the expected value with 17 significant digits.
import math
import random


def identity(n, loci):
    L = len(loci)
    if L < 1:
        return -1.0
    h = [0] * n
    H = [0] * L
    N = [0] * L
    skip = [False] * L
    for l, (na, dom, codes) in enumerate(loci):
        if dom == 1 or na <= 1:
            skip[l] = True
            continue
        N[l] = sum(1 for c in codes if c > 0)
        H[l] = sum(1 for c in codes if c == 2)
        if H[l] == 0 or H[l] == N[l]:
            skip[l] = True
            H[l] = N[l] = 0
            continue
        for i, c in enumerate(codes):
            if c == 2:
                h[i] += 1
    if sum(skip) >= L - 1:
        return -1.0
    Ht = sum(H)
    T = sum(N)
    U = 1e-300
    V = 1e-300
    A = 0.0
    B = 0.0
    for l, (na, dom, codes) in enumerate(loci):
        if skip[l]:
            continue
        for i, c in enumerate(codes):
            if c == 2:
                U += h[i] - 1
                V += Ht - h[i] - H[l] + 1
        A += float((T - N[l] + 1) * n - T)
        B += float(T - n)
    if V * B == 0.0:
        return -1.0
    x = A * U / (V * B) - 1.0
    if x <= 0.0:
        return 0.0
    return (1.0 + 5.0 * x - math.sqrt(1.0 + 10.0 * x + 9.0 * x * x)) / (2.0 * x)


def main():
    rng = random.Random(20261210)
    out = []
    for case in range(20):
        n = rng.randint(4, 40)
        L = rng.randint(2, 12)
        # A share of selfed offspring makes heterozygosity cluster within individuals.
        inbred = [rng.random() < 0.4 for _ in range(n)]
        loci = []
        for l in range(L):
            na = rng.choice([1, 2, 2, 3, 5])
            dom = 1 if rng.random() < 0.1 else 0
            p = rng.uniform(0.1, 0.7)
            codes = []
            for i in range(n):
                if rng.random() < 0.1:
                    codes.append(0)
                else:
                    q = p * (0.3 if inbred[i] else 1.0)
                    codes.append(2 if rng.random() < q else 1)
            loci.append((na, dom, codes))
        out.append("%d %d" % (n, L))
        for na, dom, codes in loci:
            out.append("%d %d %s" % (na, dom, "".join(str(c) for c in codes)))
        out.append("%.17g" % identity(n, loci))
    # The large case: 30,000 offspring at 100 loci, all typed, a fixed pattern.
    n, L = 30000, 100
    loci = []
    for l in range(L):
        codes = [2 if (i * 7 + l * 13) % 5 == 0 or (i % 11 == 0 and l % 3 == 0) else 1
                 for i in range(n)]
        loci.append((3, 0, codes))
    out.append("# large %.17g" % identity(n, loci))
    open("identity_cases.txt", "w").write("\n".join(out) + "\n")


main()
