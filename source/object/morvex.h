// The Morvexer deformer: binds the points of the meshes under it to a closed
// cage with Green coordinates and moves them with the cage.
#ifndef MORVEX_H
#define MORVEX_H

#include "ge_dynamicarray.h"
#include "vtn_basetag.h"
#include "vtn_basecontainer.h"
#include "vtn_baseobject.h"
#include "vtn_baseselect.h"
#include "vtn_math.h"
#include "abi/vtn_nodedata.h"
#include "morvex_geometry.h"
#include "morvex_weights.h"
#include "omorvexer.h"

enum : Int32
{
	MORVEX_BREAK_EVERY = 64,    // points between two break tests
	MORVEX_STREAM_VERSION = 2,  // of the scene-file block this deformer writes, the newest it reads
};

// Pseudo-random numbers for perturbing rays: a 31-bit linear congruential step.
class Random
{
public:
	explicit Random(UInt32 seed = 100) : state_(seed) {}
	void Init(UInt32 seed) { state_ = seed; }
	// A value in [-1, 1).
	double Get11()
	{
		state_ = ((state_ + 1u) * 69069u) & 0x7FFFFFFFu;
		return static_cast<double>(state_) / 2147483649.0 * 2.0 - 1.0;
	}
	UInt32 State() const { return state_; }

private:
	UInt32 state_;
};

// The deformer's node data: its rest pose, its bindings and the operations
// behind the host's callbacks. Its state is its own; tests reach it through
// MorvexTestAccess (tests/support/morvex_access.h) alone.
class Morvex : public ObjectData
{
public:
	static NodeData* Alloc();

	bool Init(GeListNode* node) override;
	void Free(GeListNode* node) override;
	bool Message(GeListNode* node, Int32 type, void* data) override;
	bool Read(GeListNode* node, HyperFile* hf, Int32 level) override;
	bool Write(GeListNode* node, HyperFile* hf) override;
	bool CopyTo(NodeData* dest, GeListNode* snode, GeListNode* dnode, COPYFLAGS flags, AliasTrans* trans) override;
	bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix& op_mg, const LMatrix& mod_mg, double lod,
	                  Int32 flags, BaseThread* thread) override;
	void CheckDirty(BaseObject* op, BaseDocument* doc) override;
	~Morvex() override;

	// The reference paths the fast ones are checked and timed against.
	// Binds op afresh by the per-face integration, in place of its binding if
	// it has one; false as Calcola_GC, or when there is no cage or rest pose to bind to.
	bool BindReference(BaseObject* mod, BaseObject* op, BaseThread* thread);
	// The evaluation ModifyObject makes, with the plain per-point pass on the
	// evaluating thread; its result equals ModifyObject's bit for bit.
	bool ModifyObjectReference(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix& op_mg, const LMatrix& mod_mg,
	                           double lod, Int32 flags, BaseThread* thread);

	// The restore-cage command.
	void Set_to_orig_pos(GeListNode* node);

	// Cage preparation.
	bool Is_Triangulated(PolygonObject* cage);
	// Tags the points of obj outside the cage ("Points outside", false), or when
	// there are none builds the safe-distance map (true).
	bool Valuta_struttura(BaseObject* mod, BaseObject* obj, BaseObject* cage);

	// Inside/outside classification and the distance map. The rays of the
	// points run on the host's workers; thread (may be null) is asked for a
	// break meanwhile.
	// Selects the points of obj outside the cage; true when there are any.
	bool trova_punti_ext(BaseObject* obj, BaseObject* cage, BaseSelect* outside, BaseThread* thread = nullptr);
	SVector get_new_dir(SVector dir, float angle);
	// The points of buff's object inside the cage, as its validPoints, and
	// their count; 0 when they could not be told (memory), -1 on a break.
	Int32 Find_Valid_Pts(Cobjbuff* buff, BaseObject* cage, BaseThread* thread = nullptr);
	static double Find_Tri2Point_Dist(LVector a, LVector b, LVector c, LVector p) { return ::Find_Tri2Point_Dist(a, b, c, p); }
	void Crea_mappa_distanze(BaseObject* mod, BaseObject* obj, BaseObject* cage);

	// Binding: the Green coordinates, in closed form, of the points of buff's
	// object against the rest cage.
	bool Calcola_GC(BaseObject* mod, BaseObject* cage, Cobjbuff* buff, BaseThread* thread);
	static double GCTriIn(LVector p, LVector va, LVector vb, LVector eta, Int32* degenerate)
	{
		return ::GCTriIn(p, va, vb, eta, degenerate);
	}

	// The reset: drops every binding and the rest pose, shows "0" as the memory figure.
	void Azzera_memoria(BaseContainer* data);
	// Bytes held by the weight tables of all bindings.
	Int64 Calcola_memoria() const;

private:
	friend struct MorvexTestAccess;

	// How a binding is computed: the closed form, or the per-face integration it replaced.
	enum class Scheme
	{
		ClosedForm,
		Integration,
	};
	// How the points are moved: in rows side by side on the host's workers, or one at a time here.
	enum class Pass
	{
		Fast,
		Plain,
	};
	// The cage as one evaluation sees it (morvex_deform.cpp).
	struct CageView;

	// Commands behind the buttons.
	void BindCommand(GeListNode* node);
	void CheckCommand(GeListNode* node);
	// What triangulating a clone of the cage shows: it is all triangles, it has
	// other polygons, or the host cannot triangulate it (no clone, a failed
	// command, an object that is no polygon object).
	enum class CageForm
	{
		Triangles,
		Polygons,
		Untriangulable,
	};
	CageForm TestTriangulation(BaseObject* cage);
	// Keeps a hidden copy of the cage before it, then triangulates the cage in place.
	bool TriangulateCage(BaseObject* cage, BaseDocument* doc);
	// Tells the user, on the status bar and the console, that the bind stopped at the cage.
	void ReportUntriangulable(BaseObject* cage);

	// What the rays found: points outside, none, no answer for want of memory
	// or a collider, or a break before all points were cast.
	enum class RayAnswer
	{
		SomeOutside,
		NoneOutside,
		Failed,
		Stopped,
	};
	// Selects the points outside in `outside` (on SomeOutside only).
	RayAnswer ClassifyByRays(BaseObject* obj, BaseObject* cage, BaseSelect* outside, BaseThread* thread);

	bool Bind(BaseObject* mod, BaseObject* cage, Cobjbuff* buff, BaseThread* thread, Scheme scheme);
	// A new binding of obj, appended to bindings; null when it could not be made.
	Cobjbuff* MakeBinding(BaseObject* mod, BaseContainer* data, BaseObject* obj, BaseObject* cage, BaseThread* thread, Scheme scheme);

	// The evaluation's steps.
	bool Evaluate(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix& mod_mg, BaseThread* thread, Pass pass);
	bool ViewCage(BaseContainer* data, BaseDocument* doc, CageView& cage) const;
	Cobjbuff* FindOrMakeBinding(BaseObject* mod, BaseContainer* data, BaseObject* obj, const CageView& cage, BaseThread* thread);
	void DropBinding(Int64 index, BaseContainer* data);

	void FreeAllBindings();
	void ClearRestPose();
	// Reads the binding headers and weights of a stream; false when the stream
	// is damaged (then no binding is kept).
	bool ReadBindings(HyperFile* hf);
	// The bytes of the weights the records' counts promise; -1 beyond 64 bits.
	Int64 WeightBytes() const;
	// The weights from the host's value straight into the tables; true when the
	// host passed over them on purpose and told a size that matches the records.
	bool ReadWeightsInPieces(HyperFile* hf);
	// Releases every record that has no complete weight tables.
	void DropRecordsWithoutTables();
	// memoryUsed and its text in the deformer's container.
	void RefreshMemory(BaseContainer* data);
	// The answer to MSG_MORVEX_SUMMARY.
	void Summarise(GeListNode* node, MorvexSummary* summary) const;

	Int32 cageDirty = 0;
	Int64 memoryUsed = 0;
	Int32 bindArmed = 0;
	Random random;
	GeDynamicArray<Cobjbuff*> bindings;
	GeDynamicArray<LVector> restPoints;
	LMatrix restMatrix = IdentityMatrix();
	GeDynamicArray<float> restAreas;
	// The version of the scene-file block last read; 0 when none was.
	Int32 streamVersion = 0;
};

#endif
