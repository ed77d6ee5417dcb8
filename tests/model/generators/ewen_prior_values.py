# Independent values for the sibship-size prior tests: the constants of the empirical prior
# are the single-precision values of 0.15, 0.2, 0.01, 0.6 and 0.65 widened to double, and the
# square root in the sampled-parent weight is a single-precision one. Run: python3 this_file.
import math
import struct


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


C015, C02, C001, C06, C065 = f32(0.15), f32(0.2), f32(0.01), f32(0.6), f32(0.65)


def weight(r, n):
    return (0.5 * r * r + 0.02) / f32(math.sqrt(f32(float(n))))


def empirical(n, e1, e2, numsex, hd):
    q = n / e1
    a = C015 * math.log(q)
    b = 10.0 * math.exp(-5.0 / q)
    if numsex == 1:
        f = 0.65 - a + C02 * math.exp(-10.0 * q) - b
    else:
        g = C001 * (1.0 - math.exp(-q)) * math.log(1.0 / max(1.0 / e2, e2))
        h = C06 * math.exp(-22.0 * q) if hd == 1 else C02 * math.exp(-10.0 * q)
        f = g + ((0.7 if hd == 1 else 0.5) - a + h - b)
    y = n - (1.003 - math.exp(-1.0 / e1)) * 70.0 + (1.0 - math.exp(-0.01 / q)) * 0.2
    t = y
    if numsex == 1:
        t = y - 0.05 * math.log(e1) / math.exp(40.0 / e1) + C065 * math.exp(-7.5 * q)
    if t >= n:
        t = n - 0.05
    if t < 1.0:
        t = 1.0
    return f, t


def theta_for(n, target):
    # The expected number of families sum theta/(i + theta) rises with theta: bisection.
    lo, hi = 1e-8, 1e8
    for _ in range(300):
        mid = math.sqrt(lo * hi)
        s = sum(mid / (i + mid) for i in range(n))
        if s < target:
            lo = mid
        else:
            hi = mid
    return math.sqrt(lo * hi)


print("weight r=2/3 n=50:", repr(weight(2.0 / 3.0, 50)))
print("weight r=1/2 n=64:", repr(weight(0.5, 64)))
for args in [(20, 200.0, 2.0, 2, 0), (20, 200.0, 2.0, 1, 0), (20, 200.0, 0.5, 2, 1)]:
    f, t = empirical(*args)
    print("empirical", args, repr(f), repr(t), "theta", repr(theta_for(args[0], t)))
print("empirical void", empirical(100, 10.0, 1.0, 1, 0))
print("theta n=100 target 20:", repr(theta_for(100, 20.0)), "target 100:", repr(theta_for(100, 100.0)))
print("theta n=64 target 64/3:", repr(theta_for(64, 64.0 / 3.0)))
