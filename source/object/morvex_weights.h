// The binding record and its weight tables: who owns the weights, how they
// are made, copied, released, and laid out in the scene file's block.
#ifndef MORVEX_WEIGHTS_H
#define MORVEX_WEIGHTS_H

#include "vtn_baseselect.h"

// rows x cols single-precision weights in one block, row r at r * cols: the
// deformation streams rows by that offset, and the scene file stores the
// block as it is. The table owns its block; it is never resized.
class WeightTable
{
public:
	WeightTable() = default;
	~WeightTable() { Free(); }
	WeightTable(const WeightTable&) = delete;
	WeightTable& operator=(const WeightTable&) = delete;

	// A table of zeros: the vertex weights are accumulated into it. False, and
	// the table left empty, for fewer than one row, fewer than zero columns, or
	// when memory is exhausted. The size is formed in 64 bits.
	bool Allocate(Int32 rows, Int32 cols);
	// The block with whatever the allocator left in it, for a table whose every
	// row is written whole by whoever fills it: no clearing pass touches the
	// pages first, so each lands where its row is filled. False as Allocate.
	bool Reserve(Int32 rows, Int32 cols);
	// src's shape and weights; false (and empty) when src is empty or memory is exhausted.
	bool CopyFrom(const WeightTable& src);
	// src_floats (Count() of them) into a new table of that shape; false as Allocate.
	bool Fill(Int32 rows, Int32 cols, const float* src_floats);
	// A table of that shape whose weights a reader is about to fill; false as Allocate.
	bool AllocateUnfilled(Int32 rows, Int32 cols) { return Reserve(rows, cols); }
	// Releases the block; an empty table stays empty.
	void Free();

	explicit operator bool() const { return block_ != nullptr; }
	Int32 Rows() const { return rows_; }
	Int32 Cols() const { return cols_; }
	Int64 Count() const { return static_cast<Int64>(rows_) * cols_; }
	float* Data() { return block_; }
	const float* Data() const { return block_; }
	float* operator[](Int32 row) { return block_ + static_cast<Int64>(row) * cols_; }
	const float* operator[](Int32 row) const { return block_ + static_cast<Int64>(row) * cols_; }

private:
	float* block_ = nullptr;
	Int32 rows_ = 0;
	Int32 cols_ = 0;
};

// One bound object: its link and the weights of its bound points.
struct Cobjbuff
{
	BaseLink* link = nullptr;
	WeightTable FI;   // pointCount rows of cagePointCount vertex weights
	WeightTable PSI;  // pointCount rows of faceCount face weights
	Int32 pointCount = 0;
	Int32 faceCount = 0;
	Int32 cagePointCount = 0;
	// The covered point indices (row r is the r-th in ascending order); null: all points.
	BaseSelect* validPoints = nullptr;
};

// Releases a record and all it owns (every part may be missing) and sets the pointer to null.
void FreeRecord(Cobjbuff*& rec);

// True when both tables are there, in the shape the record's counts give them.
bool HasTables(const Cobjbuff& rec);

// The record's weights as the scene file's block lays them out: its PSI
// table, then its FI table, each row after row. Their count follows from the
// counts alone (pointCount x faceCount + pointCount x cagePointCount, in 64
// bits), so a record without tables keeps its place in the block.
Int64 StreamFloats(const Cobjbuff& rec);
// Writes StreamFloats(rec) floats at out; a missing table is written as zeros.
void PutStreamBlock(const Cobjbuff& rec, float* out);
// Makes the record's tables from its counts and fills them from in
// (StreamFloats(rec) floats); false, with no tables, when memory is exhausted.
bool TakeStreamBlock(Cobjbuff& rec, const float* in);

// The same floats in pieces: part(context, bytes, size) takes the next piece;
// a missing table goes as zeros. False when a part was refused.
bool PutStreamPieces(const Cobjbuff& rec, bool (*part)(void* context, const void* bytes, Int64 size), void* context);
// The record's tables made from its counts and filled straight from
// part(context, out, size). False, with no tables, when a part does not come.
// When memory is exhausted the record's weights are still read (and dropped),
// so a next record's line up: true, with no tables.
bool TakeStreamPieces(Cobjbuff& rec, bool (*part)(void* context, void* out, Int64 size), void* context);

#endif
