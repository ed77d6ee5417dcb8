#!/usr/bin/env python3
"""Independent computation of the annealing schedule table used by the search tests.

Writes one row per case: the inputs (sample size, run length, allele-frequency round, method,
u1, u2, all-monogamous flag, haplodiploid flag) and the schedule (B, N, the success limit, the
three failure/iteration limits, the family-move threshold, the side weight, the number of
temperatures). Reals are written with repr (shortest round-trip form).

    python3 tools/python/anneal_schedule.py > tests/search/data/schedule_table.txt
"""
import math
import struct


def f32(x):
    return struct.unpack('f', struct.pack('f', x))[0]


def lround(x):
    # half away from zero
    return int(math.floor(x + 0.5)) if x >= 0 else -int(math.floor(-x + 0.5))


def schedule(n, lengthrun, iround, method, u1, u2, allmono, hap):
    b = lround((f32(0.65) * math.log(n) + 0.25) * n + 0.5)
    if b > 40 and iround <= 4:
        b //= 5
    big_n = 5 ** (lengthrun + 1) * b
    nsucclmt = lround(0.5 * big_n)
    nfaillmt = 8.0 * big_n
    nfaillmt2 = 40.0 * big_n
    iterlmt = 100.0 * big_n
    x = 1e-6 + n / (n + (u1 + u2) // n)
    if 0.95 < x < 1.0:
        x = 0.95
    elif not allmono:
        x = max(x, 0.85)
    side = 0.5
    if u1 + u2 > 0:
        side = -1.0
        if u1 > 0:
            side = 2.0
        if u1 > 0 and u2 > 0:
            side = (u1 / (u1 + u2)) / (hap + 1)
    ntemp = 600 if method == 0 else 200
    return b, big_n, nsucclmt, nfaillmt, nfaillmt2, iterlmt, x, side, ntemp


def main():
    row = 0
    for n in (10, 60, 100, 2816, 32767):
        us = [(0, 0), (0, 5 * n), (3 * n, 0), (3 * n, 2 * n), (40 * n, 60 * n), (n - 1, 0)]
        for lengthrun in range(5):
            for iround in (1, 4, 5):
                for method in (0, 1):
                    u1, u2 = us[row % len(us)]
                    allmono = (row // 2) % 2
                    hap = (row // 3) % 2
                    row += 1
                    r = schedule(n, lengthrun, iround, method, u1, u2, allmono, hap)
                    print(n, lengthrun, iround, method, u1, u2, allmono, hap,
                          *[repr(float(v)) if isinstance(v, float) else v for v in r])


if __name__ == '__main__':
    main()
