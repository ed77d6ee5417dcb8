#!/usr/bin/env python3
"""Reference permutations for the index quicksorts, written from the sorts' step-by-step
definition (median of three, straight insertion below 7 elements, a stack of bounds), not from
the C++ code. Run once from the repository root:

    python3 tools/sorting_tables/sorting_tables.py tests/core/data

Every case line is: kind n keys... | indx...  (kind "x": real keys, "c": 4-character texts
with '_' standing for a blank)."""
import sys


def index_sort(n, key, check_order):
    indx = [0] + list(range(1, n + 1))  # 1-based
    if n < 2:
        return indx[1:]
    if check_order and all(key(j) >= key(j - 1) for j in range(2, n + 1)):
        return indx[1:]
    stack = []
    l, ir = 1, n
    while True:
        if ir - l < 7:
            for j in range(l + 1, ir + 1):
                t = indx[j]
                a = key(t)
                i = j - 1
                while i >= l and key(indx[i]) > a:
                    indx[i + 1] = indx[i]
                    i -= 1
                indx[i + 1] = t
            if not stack:
                return indx[1:]
            l, ir = stack.pop()
        else:
            k = (l + ir) // 2
            indx[k], indx[l + 1] = indx[l + 1], indx[k]
            if key(indx[l]) > key(indx[ir]):
                indx[l], indx[ir] = indx[ir], indx[l]
            if key(indx[l + 1]) > key(indx[ir]):
                indx[l + 1], indx[ir] = indx[ir], indx[l + 1]
            if key(indx[l]) > key(indx[l + 1]):
                indx[l], indx[l + 1] = indx[l + 1], indx[l]
            i, j = l + 1, ir
            t = indx[l + 1]
            a = key(t)
            while True:
                i += 1
                while key(indx[i]) < a:
                    i += 1
                j -= 1
                while key(indx[j]) > a:
                    j -= 1
                if j < i:
                    break
                indx[i], indx[j] = indx[j], indx[i]
            indx[l + 1] = indx[j]
            indx[j] = t
            if 2 * len(stack) >= 50:
                raise RuntimeError("stack")
            if ir - i + 1 >= j - l:
                stack.append((i, ir))
                ir = j - 1
            else:
                stack.append((l, j - 1))
                l = i


class Lcg:
    def __init__(self, seed):
        self.s = seed

    def next(self, m):
        self.s = (self.s * 1103515245 + 12345) % 2147483648
        return (self.s >> 8) % m


def main():
    out = sys.argv[1]
    rng = Lcg(20240601)
    lines = []
    sizes = [1, 2, 3, 6, 7, 8, 9, 13, 20, 33, 64, 150, 400]
    levels = [1, 2, 3, 5, 1000000]
    for n in sizes:
        for m in levels:
            keys = [(rng.next(m) - m // 2) / 4.0 for _ in range(n)]
            lines.append(("x", keys))
    # ordered with ties, reversed with ties, organ pipe
    lines.append(("x", [float(j // 3) for j in range(40)]))
    lines.append(("x", [float(-(j // 3)) for j in range(40)]))
    lines.append(("x", [float(min(j, 59 - j)) for j in range(60)]))
    alphabet = "AB_ab"
    for n in sizes:
        for width in (1, 2, 4):
            keys = ["".join(alphabet[rng.next(len(alphabet))] for _ in range(width)).ljust(4, "_")
                    for _ in range(n)]
            lines.append(("c", keys))
    lines.append(("c", ["SAME"] * 30))
    with open(out + "/sorting_index.txt", "w") as f:
        f.write("# kind n keys... | indx...  (x: real keys; c: 4-character texts, _ = blank)\n")
        for kind, keys in lines:
            n = len(keys)
            if kind == "x":
                perm = index_sort(n, lambda t: keys[t - 1], True)
                ks = " ".join(repr(k) for k in keys)
            else:
                texts = [k.replace("_", " ").encode() for k in keys]
                perm = index_sort(n, lambda t: texts[t - 1], False)
                ks = " ".join(keys)
            # the result must order the keys; the order of equal keys is the point of the table
            vals = [keys[p - 1] for p in perm] if kind == "x" else [texts[p - 1] for p in perm]
            assert all(vals[i] <= vals[i + 1] for i in range(n - 1))
            assert sorted(perm) == list(range(1, n + 1))
            f.write(f"{kind} {n} {ks} | {' '.join(map(str, perm))}\n")


main()
