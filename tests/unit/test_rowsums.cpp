// The deformation's vector-lane sums against the plain loop's, bit for bit,
// for every group size and for row lengths on both sides of each block width.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "object/morvex_rowsums.h"

TEST(RowSums, EveryGroupSizeMatchesThePlainLoopBitForBit)
{
	std::mt19937 rng(11);
	std::uniform_real_distribution<float> value(-2.0f, 2.0f);
	for (Int32 columns : {1, 2, 7, 8, 9, 15, 16, 17, 33, 162})
	{
		std::vector<SVector> points(static_cast<size_t>(columns)), faces(static_cast<size_t>(columns) + 3);
		for (SVector& p : points)
			p = {value(rng), value(rng), value(rng)};
		for (SVector& p : faces)
			p = {value(rng), value(rng), value(rng)};
		const RowSumTerms terms{points.data(), columns, faces.data(), columns + 3};
		// One block as the tables hold them, with a signed zero among the weights.
		std::vector<float> fi(size_t(kRowSumMax) * size_t(columns)), psi(size_t(kRowSumMax) * size_t(columns + 3));
		for (float& w : fi)
			w = value(rng);
		for (float& w : psi)
			w = value(rng);
		fi[0] = -0.0f;
		// Row 5 all -0: its vertex sum starts from a product (-0) and stays -0,
		// its face sum starts from +0 and stays +0; starting either the other
		// way flips a sign bit.
		for (Int32 k = 0; k < columns; ++k)
			fi[5 * size_t(columns) + size_t(k)] = -0.0f;
		for (Int32 j = 0; j < columns + 3; ++j)
			psi[5 * size_t(columns + 3) + size_t(j)] = -0.0f;
		for (SVector& p : points)
			p = {std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)};
		for (SVector& p : faces)
			p = {std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)};
		const float* fi_rows[kRowSumMax];
		const float* psi_rows[kRowSumMax];
		for (int u = 0; u < kRowSumMax; ++u)
		{
			fi_rows[u] = fi.data() + size_t(u) * size_t(columns);
			psi_rows[u] = psi.data() + size_t(u) * size_t(columns + 3);
		}
		for (int count = 1; count <= kRowSumMax; ++count)
		{
			SVector A[kRowSumMax], B[kRowSumMax], plainA[kRowSumMax], plainB[kRowSumMax];
			SumRows(terms, fi_rows, psi_rows, count, A, B);
			SumRowsPlain(terms, fi_rows, psi_rows, count, plainA, plainB);
			EXPECT_EQ(std::memcmp(A, plainA, sizeof(SVector) * size_t(count)), 0) << columns << " columns, " << count << " rows";
			EXPECT_EQ(std::memcmp(B, plainB, sizeof(SVector) * size_t(count)), 0) << columns << " columns, " << count << " rows";
			if (count > 5)
			{
				EXPECT_TRUE(std::signbit(A[5].x) && !std::signbit(B[5].x)) << columns << " columns, " << count << " rows";
			}
		}
	}
}
