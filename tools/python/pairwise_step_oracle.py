#!/usr/bin/env python3
"""Start temperature and log priors of the pairwise step for the cases of the unit test
tests/pairwise/test_pairwise_step.cpp, computed from the formulas with Python floats; single
precision steps are rounded through struct."""
import math
import struct


def f32(x):
    return struct.unpack('f', struct.pack('f', x))[0]


def lround(x):
    return int(math.floor(abs(x) + 0.5)) * (1 if x >= 0 else -1)


def temperature(As, Ws, Ap, Wp, L, n, selfing=False, d=0.0):
    L = max(L, 1)
    if Ws > 1e-300:
        t = As / Ws
        if Wp > 1e-300:
            t = 0.9 * As / Ws + 0.1 * Ap / Wp
    elif Wp > 1e-300:
        t = Ap / Wp
    else:
        t = L
    if t < 1e-300:
        t = L
    if selfing and d > 0:
        t = 2.0 / (1.0 / t + 1.0 / d)
    return t / n ** f32(0.1)


def logprior(L, n, nd, n2, pairwise, alleles, errors, dh, rowh, row, nc, a, p):
    L = max(L, 1)
    K = lround(min(nd, 120) * nd / L)
    if pairwise:
        K += lround((n2 - nd) * 30 / L)
    m = sum(e / k for k, e in zip(alleles, errors) if k > 1) / L
    M = m ** 6 * L

    def V(t):
        if not pairwise:
            return t[4]
        c = sum(1 for l in range(1, 5) if abs(t[l] - t[0]) < 0.001)
        return t[0] + c
    D = 0.0
    if dh[0] > 0:
        D += dh[0] * V(rowh)
    if dh[1] > 0:
        D += dh[1] * V(row)
    try:
        e = f32(math.exp(f32(0.25 * (L - K))))
    except OverflowError:
        e = math.inf
    if e > 3.4028234663852886e38:
        e = math.inf
    Q = D * (1 + K * 0.5 * math.log(1 + K) / L) / (1 + 0.05 * e)
    if pairwise:
        Q *= 1.5
    Qp = Q / (1 + 4 * a / (1 + a))
    R = p / math.exp(min(Qp / n, 20)) / (1 + nc / a * n * M)
    return math.log(R), math.log(1 - R)


print('T both   %.17g' % temperature(30.0, 12.0, 50.0, 10.0, 3, 50))
print('T sib    %.17g' % temperature(30.0, 12.0, 0.0, 0.0, 3, 50))
print('T par    %.17g' % temperature(0.0, 0.0, 50.0, 10.0, 3, 50))
print('T none   %.17g' % temperature(0.0, 0.0, 0.0, 0.0, 3, 50))
print('T zero   %.17g' % temperature(0.0, 12.0, 0.0, 0.0, 3, 50))
print('T noloci %.17g' % temperature(0.0, 0.0, 0.0, 0.0, 0, 50))
print('T self   %.17g' % temperature(30.0, 12.0, 50.0, 10.0, 3, 50, True, 4.0))
print('A full   %.17g %.17g' % logprior(3, 50, 1, 1, False, [2, 3, 1, 5], [0.01, 0.02, 0.5, 0.03],
                                       (10, 40), [5, 4, 3, 2, 1.5, 1, 0.8, 0.5, 0.2, 0.1],
                                       [9, 7, 6, 5, 4.5, 3, 2, 1, 0.5, 0.3], 20, 0.6, 0.6))
print('B pair   %.17g %.17g' % logprior(2, 30, 1, 2, True, [2, 2, 4], [0.05, 0.04, 0.0],
                                       (0, 30), None,
                                       [3.0, 3.0005, 2.9, 3.0009, 1, 0.9, 0.8, 0.7, 0.6, 0.5],
                                       5, 0.3, 0.3))
print('C over   %.17g %.17g' % logprior(400, 100, 0, 400, False, [2] * 400, [0.02] * 400,
                                       (0, 100), None, [9, 8, 7, 6, 5, 4, 3, 2, 1, 0.5],
                                       50, 0.5, 0.5))
