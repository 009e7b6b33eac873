// The deformation's kernel alone, on one thread: the plain loop (one row per
// call), four rows side by side, eight rows in AVX lanes and sixteen in
// AVX-512 lanes (where the machine has them; otherwise the call falls back to
// the narrower ways), on rows of 56 vertex and 108 face weights held in cache
// (2 048 rows, 1.3 MB) and in memory (500 000 rows, 328 MB).
#include <benchmark/benchmark.h>

#include <vector>

#include "object/morvex_rowsums.h"

namespace {

constexpr Int32 kVertices = 56, kFaces = 108;

void RowSums(benchmark::State& state)
{
	const int group = static_cast<int>(state.range(0));
	const size_t rows = static_cast<size_t>(state.range(1));
	std::vector<SVector> points(kVertices), faces(kFaces);
	for (size_t k = 0; k < points.size(); ++k)
		points[k] = {0.01f * float(k), 1.0f, -0.5f};
	for (size_t j = 0; j < faces.size(); ++j)
		faces[j] = {0.5f, -0.02f * float(j), 1.0f};
	const RowSumTerms terms{points.data(), kVertices, faces.data(), kFaces};
	std::vector<float> fi(rows * kVertices, 0.25f), psi(rows * kFaces, 0.125f);
	for (auto _ : state)
		for (size_t r = 0; r + size_t(group) <= rows; r += size_t(group))
		{
			const float* fi_rows[kRowSumMax];
			const float* psi_rows[kRowSumMax];
			for (int u = 0; u < group; ++u)
			{
				fi_rows[u] = fi.data() + (r + size_t(u)) * kVertices;
				psi_rows[u] = psi.data() + (r + size_t(u)) * kFaces;
			}
			SVector A[kRowSumMax], B[kRowSumMax];
			if (group == 1)
				SumRowsPlain(terms, fi_rows, psi_rows, 1, A, B);
			else
				SumRows(terms, fi_rows, psi_rows, group, A, B);
			benchmark::DoNotOptimize(A);
			benchmark::DoNotOptimize(B);
		}
	const int64_t weights = int64_t(rows) * (kVertices + kFaces);
	state.SetItemsProcessed(state.iterations() * weights);
	state.SetBytesProcessed(state.iterations() * weights * 4);
}

}  // namespace

// Arguments: rows per call, rows in all.
BENCHMARK(RowSums)->ArgsProduct({{1, 4, 8, 16}, {2048, 500000}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
