// Element-wise single-precision loop y(i, j) = a * x(i, j) + y(i, j) over an n x n table, in
// storage order (first subscript innermost), through FArray, through FView, through a raw
// pointer (the floor), and through the offset arithmetic that multiplies the first subscript
// by its stride (the cost the arrays avoid). Run a Release build on one core, for example
//   taskset -c 0 build/release/bench/bench_farray
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "core/farray.hpp"

namespace {

using kinrad::Dim;
using kinrad::FArray;
using kinrad::FView;
using kinrad::index_t;

constexpr float kA = 1.0001f;

void fill(FArray<float, 2>& x, FArray<float, 2>& y, index_t n) {
  x.allocate(Dim(n), Dim(n));
  y.allocate(Dim(n), Dim(n));
  for (index_t j = 1; j <= n; ++j)
    for (index_t i = 1; i <= n; ++i) {
      x(i, j) = static_cast<float>(i + j) * 1e-3f;
      y(i, j) = static_cast<float>(i) * 1e-4f;
    }
}

void BM_FArray(benchmark::State& state) {
  const index_t n = state.range(0);
  FArray<float, 2> x, y;
  fill(x, y, n);
  for (auto _ : state) {
    for (index_t j = 1; j <= n; ++j)
      for (index_t i = 1; i <= n; ++i) y(i, j) = kA * x(i, j) + y(i, j);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_FView(benchmark::State& state) {
  const index_t n = state.range(0);
  FArray<float, 2> xa, ya;
  fill(xa, ya, n);
  const FView<float, 2> x = xa.view();
  const FView<float, 2> y = ya.view();
  for (auto _ : state) {
    for (index_t j = 1; j <= n; ++j)
      for (index_t i = 1; i <= n; ++i) y(i, j) = kA * x(i, j) + y(i, j);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_RawPointer(benchmark::State& state) {
  const index_t n = state.range(0);
  FArray<float, 2> xa, ya;
  fill(xa, ya, n);
  const float* x = xa.data();
  float* y = ya.data();
  for (auto _ : state) {
    for (index_t j = 0; j < n; ++j)
      for (index_t i = 0; i < n; ++i) y[j * n + i] = kA * x[j * n + i] + y[j * n + i];
    benchmark::DoNotOptimize(y);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

// The offset as a sum over every dimension of subscript times stride, with the strides read
// from memory like an array's members.
struct MultipliedLayout {
  std::array<index_t, 2> stride{};
  index_t offset = 0;
  index_t at(index_t i, index_t j) const { return offset + i * stride[0] + j * stride[1]; }
};

void BM_FirstStrideMultiplied(benchmark::State& state) {
  const index_t n = state.range(0);
  FArray<float, 2> xa, ya;
  fill(xa, ya, n);
  const float* x = xa.data();
  float* y = ya.data();
  MultipliedLayout lay;
  lay.stride = {1, n};
  lay.offset = -1 - n;
  benchmark::DoNotOptimize(&lay);
  for (auto _ : state) {
    for (index_t j = 1; j <= n; ++j)
      for (index_t i = 1; i <= n; ++i) y[lay.at(i, j)] = kA * x[lay.at(i, j)] + y[lay.at(i, j)];
    benchmark::DoNotOptimize(y);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

BENCHMARK(BM_FArray)->Arg(256)->Arg(1024);
BENCHMARK(BM_FView)->Arg(256)->Arg(1024);
BENCHMARK(BM_RawPointer)->Arg(256)->Arg(1024);
BENCHMARK(BM_FirstStrideMultiplied)->Arg(256)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
