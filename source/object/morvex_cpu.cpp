#include "morvex_cpu.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#define MORVEX_CPU_X86 1
#endif

CpuFeatures ReadCpuFeatures()
{
	CpuFeatures cpu;
#ifdef MORVEX_CPU_X86
	unsigned a = 0, b = 0, c = 0, d = 0;
	if (__get_cpuid(1, &a, &b, &c, &d))
	{
		cpu.sse2 = (d & bit_SSE2) != 0;
		cpu.avx = (c & bit_AVX) != 0;
		cpu.osxsave = (c & bit_OSXSAVE) != 0;
	}
	if (cpu.osxsave)
	{
		unsigned lo = 0, hi = 0;
		__asm__ __volatile__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
		cpu.xcr0 = (static_cast<std::uint64_t>(hi) << 32) | lo;
	}
	if (__get_cpuid_count(7, 0, &a, &b, &c, &d))
	{
		cpu.avx2 = (b & bit_AVX2) != 0;
		cpu.avx512f = (b & bit_AVX512F) != 0;
	}
#endif
	return cpu;
}

const CpuFeatures& MachineCpu()
{
	static const CpuFeatures cpu = ReadCpuFeatures();
	return cpu;
}

// XCR0: SSE and AVX state (bits 1, 2); opmask, upper halves of ZMM0-15 and ZMM16-31 (bits 5 to 7).
constexpr std::uint64_t kYmmState = 0x6, kZmmState = 0xE6;

bool RunsAvx(const CpuFeatures& cpu) { return cpu.avx && cpu.osxsave && (cpu.xcr0 & kYmmState) == kYmmState; }

bool RunsAvx512(const CpuFeatures& cpu) { return RunsAvx(cpu) && cpu.avx512f && (cpu.xcr0 & kZmmState) == kZmmState; }
