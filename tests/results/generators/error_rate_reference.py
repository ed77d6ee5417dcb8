#!/usr/bin/env python3
"""Reference values for the error-rate minimiser and the per-locus estimation.

A plain transcription, written from the description of the method rather than from the C++:
the search stream ran2, Brent's line minimiser, the box-bounded line search, the direction-set
minimiser and the per-locus estimation steps (with two rates, each rate's profile bound: Brent's
zero finder over the rate, Brent's minimiser over the other rate), run on synthetic objectives whose arithmetic is
the same in both languages (+, -, *, / and abs in IEEE double precision, in the same order).

Writes tests/results/data/powell_reference.txt and error_rate_reference.txt. Run from the
repository root:  python3 tests/results/generators/error_rate_reference.py
"""
import os

# ---------------------------------------------------------------- ran2 (L'Ecuyer + shuffle)
IM1, IM2 = 2147483563, 2147483399
IA1, IA2 = 40014, 40692
IQ1, IQ2 = 53668, 52774
IR1, IR2 = 12211, 3791
NTAB = 32
NDIV = 1 + (IM1 - 1) // NTAB
AM = 1.0 / IM1
RNMX = 1.0 - 1.2e-7


class Ran2:
    def __init__(self, seed):
        self.idum = seed
        self.idum2 = 123456789
        self.iv = [0] * (NTAB + 1)
        self.iy = 0

    @staticmethod
    def schrage(x, ia, im, iq, ir):
        k = x // iq  # x is positive here, so floor division is truncation
        x = ia * (x - k * iq) - k * ir
        if x < 0:
            x += im
        return x

    def __call__(self):
        if self.idum <= 0:
            self.idum = max(-self.idum, 1)
            self.idum2 = self.idum
            for j in range(NTAB + 8, 0, -1):
                self.idum = self.schrage(self.idum, IA1, IM1, IQ1, IR1)
                if j <= NTAB:
                    self.iv[j] = self.idum
            self.iy = self.iv[1]
        self.idum = self.schrage(self.idum, IA1, IM1, IQ1, IR1)
        self.idum2 = self.schrage(self.idum2, IA2, IM2, IQ2, IR2)
        j = self.iy // NDIV + 1
        self.iy = self.iv[j] - self.idum2
        self.iv[j] = self.idum
        if self.iy < 1:
            self.iy += IM1 - 1
        return min(AM * self.iy, RNMX)


# ---------------------------------------------------------------- brent
def sign(a, b):
    return abs(a) if b >= 0.0 else -abs(a)


def brent(ax, bx, cx, f, tol):
    CGOLD, ZEPS = 0.381966, 1e-10
    a = min(ax, cx)
    b = max(ax, cx)
    v = w = x = bx
    e = 0.0
    d = 0.0
    fx = f(x)
    fv = fw = fx
    for _ in range(100):
        xm = 0.5 * (a + b)
        tol1 = tol * abs(x) + ZEPS
        tol2 = 2.0 * tol1
        if abs(x - xm) <= tol2 - 0.5 * (b - a):
            return fx, x
        golden = True
        if abs(e) > tol1:
            r = (x - w) * (fx - fv)
            q = (x - v) * (fx - fw)
            p = (x - v) * q - (x - w) * r
            q = 2.0 * (q - r)
            if q > 0.0:
                p = -p
            q = abs(q)
            etemp = e
            e = d
            if abs(p) < abs(0.5 * q * etemp) and p > q * (a - x) and p < q * (b - x):
                d = p / q
                u = x + d
                if u - a < tol2 or b - u < tol2:
                    d = sign(tol1, xm - x)
                golden = False
        if golden:
            e = (a - x) if x >= xm else (b - x)
            d = CGOLD * e
        u = x + d if abs(d) >= tol1 else x + sign(tol1, d)
        fu = f(u)
        if fu <= fx:
            if u >= x:
                a = x
            else:
                b = x
            v, fv = w, fw
            w, fw = x, fx
            x, fx = u, fu
        else:
            if u < x:
                a = u
            else:
                b = u
            if fu <= fw or abs(w - x) < 1e-300:
                v, fv = w, fw
                w, fw = u, fu
            elif fu <= fv or abs(v - x) < 1e-300 or abs(v - w) < 1e-300:
                v, fv = u, fu
    return fx, x


# ---------------------------------------------------------------- the minimiser
class Stop(Exception):
    pass


def linmin(p, xi, n, box, func):
    pcom = list(p)
    xicom = list(xi)
    a, b = -1e100, 1e100
    counted = False
    for j in range(n):
        if xi[j] > 1e-10 or xi[j] < -1e-10:
            counted = True
            lo, hi = box[j]
            if xi[j] > 0.0:
                a = max(a, (lo - p[j]) / xi[j])
                b = min(b, (hi - p[j]) / xi[j])
            else:
                a = max(a, (hi - p[j]) / xi[j])
                b = min(b, (lo - p[j]) / xi[j])
    if not counted:
        s = 0.0
    elif (a > 0.0) == (b > 0.0):
        s = (a + b) / 2.0
    else:
        s = 0.0

    def f1dim(t):
        return func([pcom[j] + t * xicom[j] for j in range(n)])

    fret, t = brent(a, s, b, f1dim, 0.0001)
    for j in range(n):
        xi[j] = t * xi[j]
        p[j] = p[j] + xi[j]
    return fret


def powell(order, p, xi, n, ftol, box, func):
    """xi is a list of columns. Returns (iter, fret)."""
    fret = func(p)
    pt = list(p)
    it = 0
    while True:
        it += 1
        fp = fret
        ibig = 0
        dl = 0.0
        seq = range(n) if order == 0 else range(n - 1, -1, -1)
        for i in seq:
            xit = list(xi[i])
            before = fret
            fret = linmin(p, xit, n, box, func)
            if before - fret > dl:
                dl = before - fret
                ibig = i
        if 2.0 * (fp - fret) <= ftol * (abs(fp) + abs(fret)) + 1e-25:
            return it, fret
        if it == 200:
            raise Stop()
        ptt = [2.0 * p[j] - pt[j] for j in range(n)]
        xit = [p[j] - pt[j] for j in range(n)]
        pt = list(p)
        fptt = func(ptt)
        if fptt >= fp:
            continue
        rise = fp - fret - dl
        gap = fp - fptt
        t = 2.0 * (fp - 2.0 * fret + fptt) * (rise * rise) - dl * (gap * gap)
        if t >= 0.0:
            continue
        fret = linmin(p, xit, n, box, func)
        xi[ibig] = list(xi[n - 1])
        xi[n - 1] = list(xit)


# ---------------------------------------------------------------- synthetic objectives
def g_quad2(x):
    a = x[0] - 0.3
    b = x[1] - 0.6
    return 3.0 * (a * a) + b * b + 0.5 * (a * b)


def g_upper2(x):
    a = x[0] - 1.4
    b = x[1] - 0.2
    return a * a + b * b + 0.1


def g_flat(x):
    return 0.0


def g_quad1(x):
    a = x[0] - 0.04
    return 7.0 * (a * a) + 2.0


GS = {"quad2": g_quad2, "upper2": g_upper2, "flat": g_flat, "quad1": g_quad1}


class Boxed:
    """The shape of the error-rate objective: 1e100 outside the box (not counted), else the
    distance of g from the level, capped at 1e100."""

    def __init__(self, g, box, level=0.0, drift=0.0):
        self.g, self.box, self.level, self.drift = g, box, level, drift
        self.count = 0

    def __call__(self, x):
        for j, (lo, hi) in enumerate(self.box):
            if x[j] < lo or x[j] > hi:
                return 1e100
        self.count += 1
        s = self.g(x) + self.drift * self.count
        return min(abs(s - self.level), 1e100)


# name objective n order ftol level box(lo hi per rate) start(p) directions(column-major)
POWELL_CASES = [
    ("quad2_o0", "quad2", 2, 0, 1e-5, 0.0, [(0.0, 1.0), (0.0, 1.0)], [0.1, 0.1], [[0.01, 0.0], [0.0, 0.01]]),
    ("quad2_o1", "quad2", 2, 1, 1e-5, 0.0, [(0.0, 1.0), (0.0, 1.0)], [0.1, 0.1], [[0.01, 0.0], [0.0, 0.01]]),
    ("upper2_o0", "upper2", 2, 0, 1e-5, 0.0, [(0.0, 1.0), (0.0, 1.0)], [0.5, 0.5], [[0.01, 0.0], [0.0, 0.01]]),
    ("upper2_o1", "upper2", 2, 1, 1e-5, 0.0, [(0.0, 1.0), (0.0, 1.0)], [0.5, 0.5], [[0.01, 0.0], [0.0, 0.01]]),
    ("flat_o0", "flat", 2, 0, 1e-5, 0.0, [(0.0, 1.0), (0.0, 1.0)], [0.2, 0.3], [[0.01, 0.0], [0.0, 0.01]]),
    ("flat_o1", "flat", 1, 1, 1e-5, 0.0, [(0.0, 1.0)], [0.2], [[0.01]]),
    ("level2_o0", "quad2", 2, 0, 1e-4, 0.5, [(0.3, 1.0), (0.6, 1.0)], [0.307, 0.604], [[0.01, 0.0], [0.0, 0.01]]),
    ("level2_o1", "quad2", 2, 1, 1e-4, 0.5, [(0.3, 1.0), (0.6, 1.0)], [0.307, 0.604], [[0.01, 0.0], [0.0, 0.01]]),
    ("level1_lower", "quad1", 1, 0, 1e-4, 2.005, [(0.0, 0.04)], [0.0004], [[0.01]]),
    ("level1_upper", "quad1", 1, 0, 1e-4, 2.005, [(0.04, 1.0)], [0.0496], [[0.01]]),
    ("quad1_o1", "quad1", 1, 1, 1e-5, 0.0, [(0.0, 1.0)], [0.000003], [[0.00007]]),
]


def fmt(x):
    return repr(float(x))


def powell_table():
    lines = ["# name iter evaluations fret p(1..n) xi(1..n, 1..n) column-major"]
    for name, obj, n, order, ftol, level, box, start, dirs in POWELL_CASES:
        f = Boxed(GS[obj], box, level)
        p = list(start)
        xi = [list(c) for c in dirs]
        it, fret = powell(order, p, xi, n, ftol, box, f)
        vals = [name, str(it), str(f.count), fmt(fret)] + [fmt(x) for x in p]
        vals += [fmt(xi[j][i]) for j in range(n) for i in range(n)]
        lines.append(" ".join(vals))
    return lines


# ---------------------------------------------------------------- per-locus estimation
def estimate_locus(kind, hi, entries, g, rng, drift=0.0):
    """entries: 8 values (index 0 = entry 1). Returns (level, evaluations, starts)."""
    n = 2 if kind == 3 else 1
    est = [4 if (kind == 2 or i == 1) else 0 for i in range(n)]  # 0-based estimate entries
    box = [[0.0, hi] for _ in range(n)]
    f = Boxed(g, box, 0.0, drift)
    best = 1e300
    best_x = None
    agreed = False
    starts = 0
    last = 0.0
    for s in range(1, 21):
        starts = s
        x = [0.0] * n
        xi = [[0.0] * n for _ in range(n)]
        for i in range(n):
            x[i] = rng() * 5e-6
            xi[i][i] = rng() * 1e-4
        _, last = powell(s % 2, x, xi, n, 1e-5, box, f)
        if abs(last - best) < 0.01:
            agreed = True
            break
        if last < best:
            best = last
            best_x = list(x)
    for i in range(n):
        entries[est[i]] = best_x[i]
    level = (last if agreed else best) + 2.0
    f.level = level
    for b in (1, 2):
        if b == 1 and entries[0] < 0.0001 and entries[4] < 0.0001:
            for i in range(n):
                entries[est[i] + 1] = 0.0
            continue
        for i in range(n):
            e = entries[est[i]]
            if b == 1:
                box[i][1] = e
            else:
                box[i][0] = e
                box[i][1] = hi
            if box[i][0] < 0.0:
                box[i][0] = 0.0
        if n == 2:
            for i in range(n):
                box[i][0], box[i][1] = 0.0, hi
            f.level = 0.0
            for i in range(n):
                limit = 0.0 if b == 1 else hi
                entries[est[i] + b] = profile_bound(i, entries[est[i]], limit, level, hi,
                                                    entries[est[1 - i]], f)
            f.level = level
            continue
        runs = []
        for r in range(1, n + 1):
            x = [0.99 * box[i][0] + 0.01 * box[i][1] for i in range(n)]
            xi = [[0.01 if i == j else 0.0 for i in range(n)] for j in range(n)]
            _, fr = powell(r - 1, x, xi, n, 1e-4, box, f)
            runs.append((x, fr))
        bound = list(runs[0][0])
        if n == 2:
            (x1, f1), (x2, f2) = runs
            if f2 > f1 + 0.01:
                bound = list(x1)
            elif f1 > f2 + 0.01:
                bound = list(x2)
            else:
                bound = [min(x1[i], x2[i]) if b == 1 else max(x1[i], x2[i]) for i in range(n)]
            for i in range(n):
                v = bound[i]
                e = entries[est[i]]
                band = (v + e) * 0.025
                if band >= 1e-8 and abs(v - e) < band:
                    bound[i] = box[i][0] if b == 1 else hi
        for i in range(n):
            entries[est[i] + b] = bound[i]
    return level, f.count, starts


def profile_value(i, t, hi, y, func):
    """min over the other rate (in [0, hi]) of func with rate i at t; returns (value, its y)."""
    step = 1e-4
    x = [0.0, 0.0]
    x[i] = t

    def at(u):
        x[1 - i] = u
        return func(x)

    start = min(max(y, 0.0), hi)
    if start <= step:
        f0 = at(0.0)
        if at(step) >= f0:
            return f0, 0.0
        start = step
    fx, xmin = brent(0.0, start, hi, at, 1e-4)
    return fx, xmin


def profile_bound(i, e, limit, level, hi, y, func):
    """Brent's zero finder on profile - level between e and limit (to 1e-6)."""
    xtol, eps = 1e-6, 2.220446049250313e-16
    if limit == e:
        return limit
    state = {"y": y}

    def g(t):
        v, state["y"] = profile_value(i, t, hi, state["y"], func)
        return v - level

    a, b = e, limit
    fa = g(a)
    if fa >= 0.0:
        return e
    fb = g(b)
    if fb <= 0.0:
        return limit
    c, fc = b, fb
    d = step = b - a
    for _ in range(100):
        if (fb > 0.0) == (fc > 0.0):
            c, fc = a, fa
            d = step = b - a
        if abs(fc) < abs(fb):
            a, b, c = b, c, b
            fa, fb, fc = fb, fc, fb
        tol1 = 2.0 * eps * abs(b) + 0.5 * xtol
        xm = 0.5 * (c - b)
        if abs(xm) <= tol1 or fb == 0.0:
            return b
        if abs(step) >= tol1 and abs(fa) > abs(fb):
            s = fb / fa
            if a == c:
                p = 2.0 * xm * s
                q = 1.0 - s
            else:
                qa, r = fa / fc, fb / fc
                p = s * (2.0 * xm * qa * (qa - r) - (b - a) * (r - 1.0))
                q = (qa - 1.0) * (r - 1.0) * (s - 1.0)
            if p > 0.0:
                q = -q
            p = abs(p)
            if 2.0 * p < min(3.0 * xm * q - abs(tol1 * q), abs(step * q)):
                step = d
                d = p / q
            else:
                d = step = xm
        else:
            d = step = xm
        a, fa = b, fb
        b += d if abs(d) > tol1 else (tol1 if xm >= 0.0 else -tol1)
        fb = g(b)
    return b


def g_two(x):
    a = x[0] - 0.05
    b = x[1] - 0.01
    return 100.0 + 2000.0 * (a * a) + 5000.0 * (b * b) + 300.0 * (a * b)


def g_one(x):
    a = x[0] - 0.02
    return 100.0 + 3000.0 * (a * a)


def g_other(x):
    a = x[0] - 0.03
    return 50.0 + 8000.0 * (a * a)


def g_corner(x):
    return 100.0 + 40.0 * x[0] + 60.0 * x[1]


def g_snap(x):
    a = x[0] - 0.05
    b = x[1] - 0.01
    return 100.0 + 10000000.0 * (a * a) + 5000.0 * (b * b)


def g_snap_one(x):
    a = x[0] - 0.05
    return 100.0 + 10000000.0 * (a * a)


# name kind hi input-dropout input-other drift seed objective
ESTIMATE_CASES = [
    ("two_rates", 3, 1.0, 0.07, 0.02, 0.0, -1234, g_two),
    ("two_rates_half", 3, 0.5, 0.07, 0.02, 0.0, -987, g_two),
    ("dropout_only", 1, 1.0, 0.07, 0.0, 0.0, -1234, g_one),
    ("other_only", 2, 1.0, 0.0, 0.02, 0.0, -555, g_other),
    ("corner", 3, 1.0, 0.07, 0.02, 0.0, -1234, g_corner),
    ("snap_two", 3, 1.0, 0.07, 0.02, 0.0, -42, g_snap),
    ("snap_one", 1, 1.0, 0.07, 0.0, 0.0, -42, g_snap_one),
    ("drift", 1, 1.0, 0.07, 0.0, 0.001, -1234, g_one),
]


def estimate_table():
    lines = ["# name starts evaluations level entries(1..8)"]
    for name, kind, hi, d, e, drift, seed, g in ESTIMATE_CASES:
        entries = [d, d, d, d, e, e, e, e]
        level, count, starts = estimate_locus(kind, hi, entries, g, Ran2(seed), drift)
        lines.append(" ".join([name, str(starts), str(count), fmt(level)] + [fmt(x) for x in entries]))
    return lines


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
    with open(os.path.join(here, "powell_reference.txt"), "w") as out:
        out.write("\n".join(powell_table()) + "\n")
    with open(os.path.join(here, "error_rate_reference.txt"), "w") as out:
        out.write("\n".join(estimate_table()) + "\n")


if __name__ == "__main__":
    main()
