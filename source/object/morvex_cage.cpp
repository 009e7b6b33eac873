// Cage preparation: the triangulation test, the triangulation with a hidden
// copy of the user's shape, and the structure check behind the check button.
#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include "vtn_general.h"

namespace {

// The backup keeps the cage's tags; the clone that is only tried on needs none.
constexpr Int32 CLONE_FOR_BACKUP = COPYFLAGS_NO_ANIMATION | COPYFLAGS_NO_BITS;
constexpr Int32 CLONE_FOR_TEST = CLONE_FOR_BACKUP | COPYFLAGS_NO_BRANCHES;

bool Triangulate(BaseDocument* doc, BaseObject* op)
{
	ModelingCommandData mcd{};
	mcd.doc = doc;
	mcd.op = op;
	return SendModelingCommand(MCOMMAND_TRIANGULATE, mcd);
}

}  // namespace

bool Morvex::Is_Triangulated(PolygonObject* cage)
{
	return TestTriangulation(cage) == CageForm::Triangles;
}

// Tried on a clone, so that a cage the host cannot triangulate is known
// before anything of the user's scene is touched.
Morvex::CageForm Morvex::TestTriangulation(BaseObject* cage)
{
	auto* clone = ToPoly(cage->GetClone(CLONE_FOR_TEST, nullptr));
	if (!clone)
		return CageForm::Untriangulable;
	const bool done = Triangulate(cage->GetDocument(), clone);
	const bool same = clone->GetPolygonCount() == ToPoly(cage)->GetPolygonCount();
	PolygonObject::Free(clone);
	if (!done)
		return CageForm::Untriangulable;
	return same ? CageForm::Triangles : CageForm::Polygons;
}

void Morvex::ReportUntriangulable(BaseObject* cage)
{
	const String text = String("cannot triangulate the cage ") + cage->GetName();
	StatusSetText(text);
	GePrint(text);
}

bool Morvex::TriangulateCage(BaseObject* cage, BaseDocument* doc)
{
	BaseObject* copy = cage->GetClone(CLONE_FOR_BACKUP, nullptr);
	if (!copy)
		return false;
	doc->AddUndo(UNDOTYPE_NEW, copy);
	copy->SetName(cage->GetName() + String("-copy"));
	copy->SetRenderMode(MODE_OFF);
	copy->SetEditorMode(MODE_OFF);
	doc->InsertObject(copy, static_cast<BaseObject*>(cage->GetUp()), static_cast<BaseObject*>(cage->GetPred()));
	doc->AddUndo(UNDOTYPE_CHANGE, cage);
	return Triangulate(doc, cage);
}

bool Morvex::Valuta_struttura(BaseObject* mod, BaseObject* obj, BaseObject* cage)
{
	SelectionTag* tag = SelectionTag::Alloc(Tpointselection);
	if (!tag)
		return false;
	const RayAnswer answer = ClassifyByRays(obj, cage, tag->GetBaseSelect(), nullptr);
	if (answer != RayAnswer::SomeOutside)
	{
		SelectionTag::Free(tag);
		// Without the rays' answer nothing is known to be inside.
		if (answer != RayAnswer::NoneOutside)
			return false;
		Crea_mappa_distanze(mod, obj, cage);
		return true;
	}
	tag->SetName(String("Points outside"));
	obj->InsertTag(tag, nullptr);
	return false;
}
