// The deformer's growable array against std::vector, for the patterns the
// deformer uses: appending one at a time, and inserting or removing at the
// front (cheap here thanks to the front gap). Run both in one process and read
// the ratios; absolute times depend on the machine.
#include <benchmark/benchmark.h>

#include <vector>

#include "ge_dynamicarray.h"
#include "vtn_pmain.h"
#include "vtnhost/host.h"

namespace {

vtnhost::Host& host()
{
	static vtnhost::Host* h = [] {
		auto* x = new vtnhost::Host();
		InitOS(x->table());
		return x;
	}();
	return *h;
}

void GeArrayAppend(benchmark::State& state)
{
	host();
	for (auto _ : state)
	{
		GeDynamicArray<float> a;
		for (int64_t i = 0; i < state.range(0); ++i)
			a.Append(static_cast<float>(i));
		benchmark::DoNotOptimize(a.data);
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void VectorAppend(benchmark::State& state)
{
	for (auto _ : state)
	{
		std::vector<float> a;
		for (int64_t i = 0; i < state.range(0); ++i)
			a.push_back(static_cast<float>(i));
		benchmark::DoNotOptimize(a.data());
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Building a list by inserting at its front: the gap turns three moves in four into none.
void GeArrayFrontInsert(benchmark::State& state)
{
	host();
	for (auto _ : state)
	{
		GeDynamicArray<double> a;
		for (int64_t i = 0; i < state.range(0); ++i)
		{
			a.InsertSpace(0, 1, 0, 0);
			a[0] = static_cast<double>(i);
		}
		benchmark::DoNotOptimize(a.data);
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

void VectorFrontInsert(benchmark::State& state)
{
	for (auto _ : state)
	{
		std::vector<double> a;
		for (int64_t i = 0; i < state.range(0); ++i)
			a.insert(a.begin(), static_cast<double>(i));
		benchmark::DoNotOptimize(a.data());
	}
	state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(GeArrayAppend)->Arg(1000)->Arg(100000);
BENCHMARK(VectorAppend)->Arg(1000)->Arg(100000);
BENCHMARK(GeArrayFrontInsert)->Arg(20000);
BENCHMARK(VectorFrontInsert)->Arg(20000);

BENCHMARK_MAIN();
