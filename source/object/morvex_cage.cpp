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
	BaseDocument* doc = cage->GetDocument();
	// Without a clone to try on, or when the host cannot triangulate it, the
	// cage counts as not triangulated: an unchanged count would prove nothing.
	auto* clone = ToPoly(cage->GetClone(CLONE_FOR_TEST, nullptr));
	if (!clone)
		return false;
	const bool same = Triangulate(doc, clone) && clone->GetPolygonCount() == cage->GetPolygonCount();
	PolygonObject::Free(clone);
	return same;
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
	if (!trova_punti_ext(obj, cage, tag->GetBaseSelect()))
	{
		SelectionTag::Free(tag);
		Crea_mappa_distanze(mod, obj, cage);
		return true;
	}
	tag->SetName(String("Points outside"));
	obj->InsertTag(tag, nullptr);
	return false;
}
