// Growable array whose free places can stand both in front of and behind the
// elements: work in the first half of the array moves the elements in front of
// the position, work in the second half those behind it, so both ends stay
// cheap. Storage comes from the host's allocator and changes in whole blocks of
// blockSize elements. Elements are moved bytewise, never through T's own copy
// or move, which is why T must be trivially copyable.
//
// A failed operation returns false and leaves the array exactly as it was
// (storage, values, front, capacity, count), so it stays usable.
#ifndef GE_DYNAMICARRAY_H
#define GE_DYNAMICARRAY_H

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "abi/vtn_types.h"
#include "vtn_general.h"
#include "vtn_memory.h"

template <typename T>
class GeDynamicArray
{
	static_assert(std::is_trivially_copyable<T>::value, "elements are moved bytewise");

public:
	T* block;         // start of the storage, or null
	T* data;          // element 0: block + front
	Int64 front;      // unused places in front of element 0
	Int64 capacity;   // storage size in elements, gaps included
	Int64 blockSize;  // growth and shrink granularity in elements; 0 is refused
	Int64 count;

	explicit GeDynamicArray(Int64 granularity = 4)
		: block(nullptr), data(nullptr), front(0), capacity(0), blockSize(granularity), count(0)
	{
	}
	~GeDynamicArray() { Clear(); }
	GeDynamicArray(const GeDynamicArray&) = delete;
	GeDynamicArray& operator=(const GeDynamicArray&) = delete;

	// Releases the storage; blockSize is kept for the next insertion.
	void Clear()
	{
		if (block)
		{
			void* p = block;
			_GeFree(&p);
		}
		block = data = nullptr;
		front = capacity = count = 0;
	}

	Int64 GetCount() const { return count; }
	Int64 GetCapacity() const { return capacity; }
	T& operator[](Int64 i) { return data[i]; }
	const T& operator[](Int64 i) const { return data[i]; }

	// Makes room for n elements at pos. Places between the old end and pos
	// (pos > count) become elements too. clear zeroes the new places,
	// construct default-constructs them.
	bool InsertSpace(Int64 pos, Int64 n, Int32 clear, Int32 construct)
	{
		if (pos < 0)
			return false;
		if (n <= 0)
			return true;
		if (blockSize <= 0)
		{
			GeCriticalStop(kInsertStop, kSource);
			return false;
		}
		const Int64 base = pos > count ? pos : count;
		if (n > kMax - base)
			return false;
		const Int64 newCount = base + n;

		if (pos < count / 2)
		{
			// Front insertion: the first pos elements move n places towards the block start.
			const Int64 newFront = front - n;
			if (newFront >= 0)
			{
				Move(block + newFront, block + front, pos);
				front = newFront;
			}
			else
			{
				// Too little room in front: whole blocks are added at the end and
				// everything moves up; what they leave over becomes the new front gap.
				Int64 grow;
				if (!RoundUp(-newFront, grow) || grow > kMax - capacity)
					return false;
				const Int64 newCap = capacity + grow;
				size_t bytes;
				if (!ByteSize(newCap, bytes))
					return false;
				T* p = Grow(bytes, kFrontAlloc, kFrontRealloc);
				if (!p)
					return false;
				const Int64 oldFront = front;
				block = p;
				capacity = newCap;
				front = newFront + grow;
				// Tail first: it goes above everything, so the head's source stays intact.
				Move(block + front + pos + n, block + oldFront + pos, count - pos);
				Move(block + front, block + oldFront, pos);
			}
		}
		else
		{
			// Back insertion: the elements from pos on move n places towards the end.
			Int64 needed;
			if (newCount > kMax - front || !RoundUp(front + newCount, needed))
				return false;
			if (needed > capacity)
			{
				size_t bytes;
				if (!ByteSize(needed, bytes))
					return false;
				T* p = Grow(bytes, kBackAlloc, kBackRealloc);
				if (!p)
					return false;
				block = p;
				capacity = needed;
			}
			if (pos < count)
				Move(block + front + pos + n, block + front + pos, count - pos);
		}
		data = block + front;

		const Int64 first = pos < count ? pos : count;
		const Int64 end = pos + n;
		if (clear)
			std::memset(static_cast<void*>(data + first), 0, static_cast<size_t>(end - first) * sizeof(T));
		if (construct)
			for (Int64 i = first; i < end; ++i)
				new (static_cast<void*>(data + i)) T();
		count = newCount;
		return true;
	}

	// Removes up to n elements from pos; removing everything from 0 releases the storage.
	bool Remove(Int64 pos, Int64 n)
	{
		if (n < 1)
			return true;
		if (pos < 0 || pos >= count || !block)
			return false;
		if (blockSize <= 0)
		{
			GeCriticalStop(kRemoveStop, kSource);
			return false;
		}
		if (pos == 0 && n >= count)
		{
			Clear();
			return true;
		}

		const Int64 removed = n < count - pos ? n : count - pos;
		const Int64 end = pos + removed;
		// Survivors end up as the head [0, pos) at newFront and the tail [end, count) right behind it.
		Int64 newFront = front;
		Int64 newCap = capacity;
		Int32 shrinkLine;
		if (pos < count / 2)
		{
			// Front removal: the head closes the hole, the front gap grows, and
			// whole blocks of that gap go back to the host.
			newFront = front + removed;
			const Int64 cut = blockSize * (newFront / blockSize);
			newFront -= cut;
			newCap -= cut;
			shrinkLine = kFrontShrink;
		}
		else
		{
			// Back removal: the tail closes the hole; whole blocks behind the elements go back.
			Int64 needed;
			if (RoundUp(front + count - removed, needed) && needed < newCap)
				newCap = needed;
			shrinkLine = kBackShrink;
		}

		T* target = block;
		if (newCap < capacity)
		{
			// A failed shrink must leave every element in place. Shrinking in place
			// is only safe when no survivor sits in the part that is cut off;
			// otherwise the survivors are copied into a fresh block.
			size_t bytes = 0;
			ByteSize(newCap, bytes);  // smaller than the current storage, so it fits
			const Int64 lastUsed = front + (end < count ? count : pos);
			if (lastUsed <= newCap)
			{
				T* p = static_cast<T*>(GeRealloc(block, bytes, shrinkLine, kSource));
				if (!p)
					return false;
				block = target = p;
			}
			else
			{
				target = static_cast<T*>(GeAlloc(bytes, shrinkLine, kSource));
				if (!target)
					return false;
			}
		}
		// Head first: its target ends where the tail's source starts at the latest.
		// An element already in its place is not moved, so only the shorter side moves.
		Move(target + newFront, block + front, pos);
		Move(target + newFront + pos, block + front + end, count - end);
		if (target != block)
		{
			void* old = block;
			_GeFree(&old);
			block = target;
		}
		front = newFront;
		capacity = newCap;
		data = block + front;
		count -= removed;
		return true;
	}

	// Stores v behind the last element.
	bool Append(const T& v)
	{
		if (count < 0)
			return false;
		const T value = v;  // v may live in this array and move with the storage
		const Int64 at = count;
		if (!InsertSpace(at, 1, 1, 1))
			return false;
		data[at] = value;
		return true;
	}

	// Resizes to m elements; new ones are zeroed and default-constructed.
	bool SetCount(Int64 m)
	{
		if (m < 0)
			return false;
		if (m < count)
			return Remove(m, count - m);
		return InsertSpace(count, m - count, 1, 1);
	}

private:
	static constexpr Int64 kMax = std::numeric_limits<Int64>::max();

	// The host's diagnostics know each request by this source name and line.
	static constexpr const char* kSource = "ge_dynamicarray";
	enum : Int32
	{
		kInsertStop = 832,
		kFrontAlloc = 854,
		kFrontRealloc = 855,
		kBackAlloc = 891,
		kBackRealloc = 892,
		kRemoveStop = 948,
		kFrontShrink = 983,
		kBackShrink = 997,
	};

	// Smallest multiple of blockSize that is at least v (v >= 1); false on overflow.
	bool RoundUp(Int64 v, Int64& out) const
	{
		const Int64 blocks = (v - 1) / blockSize + 1;
		if (blocks > kMax / blockSize)
			return false;
		out = blocks * blockSize;
		return true;
	}

	static bool ByteSize(Int64 n, size_t& out)
	{
		if (n < 0 || static_cast<uint64_t>(n) > SIZE_MAX / sizeof(T))
			return false;
		out = static_cast<size_t>(n) * sizeof(T);
		return true;
	}

	static void Move(T* to, const T* from, Int64 n)
	{
		if (n > 0 && to != from)
			std::memmove(static_cast<void*>(to), static_cast<const void*>(from), static_cast<size_t>(n) * sizeof(T));
	}

	// Bigger storage with the contents kept; null on failure, the old block untouched.
	T* Grow(size_t bytes, Int32 allocLine, Int32 reallocLine)
	{
		void* p = block ? GeRealloc(block, bytes, reallocLine, kSource) : GeAlloc(bytes, allocLine, kSource);
		return static_cast<T*>(p);
	}
};

#endif
