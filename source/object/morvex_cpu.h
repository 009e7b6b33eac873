#pragma once
// What this CPU and its operating system offer the vector passes. One reading
// for the whole module: the closed form and the row sums pick their paths
// from it, so they never disagree about the machine.
#include <cstdint>

struct CpuFeatures
{
	bool sse2 = false;
	bool avx = false;
	bool osxsave = false;  // xgetbv usable: the OS manages the extended register state
	bool avx2 = false;
	bool avx512f = false;
	std::uint64_t xcr0 = 0;  // the register state the OS saves on a thread switch
};

// As cpuid and xgetbv tell; nothing set on a CPU other than x86.
CpuFeatures ReadCpuFeatures();
// Read once, on first use.
const CpuFeatures& MachineCpu();

// AVX needs the OS to save the YMM registers; AVX-512 also the ZMM and mask
// registers. A CPU flag alone does not make an instruction set usable.
bool RunsAvx(const CpuFeatures& cpu);
bool RunsAvx512(const CpuFeatures& cpu);
