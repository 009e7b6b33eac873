// The deformer's answers to the host's messages and the user's buttons.
#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include "vtn_basebitmap.h"
#include "vtn_general.h"

namespace {

// What of the cage the deformer follows: where it is, its shape, what other deformers made of it.
constexpr Int32 DIRTYFLAGS_CAGE = DIRTYFLAGS_MATRIX | DIRTYFLAGS_DATA | DIRTYFLAGS_CACHE;

// The display tag that marks a prepared cage.
void AddCageTag(BaseObject* cage, BaseDocument* doc)
{
	if (cage->GetTag(Tdisplay))
		return;
	BaseTag* tag = BaseTag::Alloc(Tdisplay);
	if (!tag)
		return;
	BaseContainer* bc = tag->GetDataInstance();
	bc->SetParameter(DescID(DescLevel{1000, VTN_DA_LONG, 0}), GeData(Int32(6)));
	bc->SetParameter(DescID(DescLevel{1013, VTN_DA_LONG, 0}), GeData(Int32(0)));
	GeData on;
	on.SetLong(1);
	tag->SetParameter(DescID(DescLevel{1007, VTN_DA_BOOL, 0}), on, DESCFLAGS_SET_USERINTERACTION);
	cage->InsertTag(tag, nullptr);
	doc->AddUndo(UNDOTYPE_NEW, tag);
}

}  // namespace

bool Morvex::Message(GeListNode* node, Int32 type, void* data)
{
	switch (type)
	{
		case MSG_MENUPREPARE:
			static_cast<BaseObject*>(node)->SetDeformMode(true);
			break;
		case MSG_GETCUSTOMICON:
		{
			auto* request = static_cast<GetCustomIconData*>(data);
			if (memoryUsed > 0 && request && request->dat)
			{
				GetIcon(ID_MORVEXER_ICONS, request->dat);
				request->dat->x = 0;
				request->dat->y = 0;
				request->dat->w = 32;
				request->dat->h = 32;
				request->filled = 1;
			}
			break;
		}
		case MSG_DESCRIPTION_COMMAND:
		{
			const auto* command = static_cast<const VtnDescriptionCommand*>(data);
			if (!command || command->id.depth < 1)
				break;
			switch (command->id.level[0].id)
			{
				case MORVEX_BIND: BindCommand(node); break;
				case MORVEX_RESTORE_CAGE: Set_to_orig_pos(node); break;
				case MORVEX_CHECK: CheckCommand(node); break;
				default: break;
			}
			break;
		}
		case MSG_MORVEX_SUMMARY: Summarise(node, static_cast<MorvexSummary*>(data)); break;
		default: break;
	}
	return true;
}

void Morvex::BindCommand(GeListNode* node)
{
	auto* op = static_cast<BaseObject*>(node);
	BaseDocument* doc = op->GetDocument();
	auto* cage = doc ? static_cast<BaseObject*>(op->GetData().GetObjectLink(MORVEX_CAGE, doc)) : nullptr;
	// A cage the host cannot triangulate stops the bind before anything changes:
	// the scene, its undo records and the bindings the deformer holds.
	const CageForm form = cage ? TestTriangulation(cage) : CageForm::Triangles;
	if (form == CageForm::Untriangulable)
	{
		ReportUntriangulable(cage);
		return;
	}

	// The reset, but the memory figure shows the text for 0 bytes rather than "0".
	BaseContainer* data = op->GetDataInstance();
	Azzera_memoria(data);
	data->SetString(MORVEX_MEMORY, MemoryToString(0));
	if (!doc || !cage)
		return;
	if (form == CageForm::Polygons && !TriangulateCage(cage, doc))
	{
		ReportUntriangulable(cage);
		return;
	}

	PolygonObject* poly = ToPoly(cage);
	const LVector* points = poly->GetPointR();
	const CPolygon* polys = poly->GetPolygonR();
	const Int32 point_count = poly->GetPointCount();
	const Int32 poly_count = poly->GetPolygonCount();
	if (!points || !polys || point_count == 0 || poly_count == 0)
		return;
	// A corner naming no point would make every later step read outside the cage.
	if (!CornersInRange(polys, poly_count, point_count))
		return;
	if (!restAreas.SetCount(poly_count) || !restPoints.SetCount(point_count))
	{
		ClearRestPose();
		return;
	}

	restMatrix = cage->GetMg();
	cage->SetRenderMode(MODE_OFF);
	ObjectColorProperties colors;
	cage->GetColorProperties(&colors);
	colors.xray = 1;
	cage->SetColorProperties(&colors);
	AddCageTag(cage, doc);

	for (Int32 i = 0; i < point_count; ++i)
		restPoints[i] = points[i];
	for (Int32 i = 0; i < poly_count; ++i)
		restAreas[i] = HeronArea(points[polys[i].a], points[polys[i].b], points[polys[i].c]);

	op->SetDeformMode(true);
	bindArmed = 1;
	cage->Message(MSG_UPDATE);
	EventAdd(0);
}

void Morvex::Set_to_orig_pos(GeListNode* node)
{
	auto* op = static_cast<BaseObject*>(node);
	auto* cage = static_cast<BaseObject*>(op->GetDataInstance()->GetObjectLink(MORVEX_CAGE, op->GetDocument()));
	if (!cage)
		return;
	cage->SetMg(restMatrix);
	PolygonObject* poly = ToPoly(cage);
	LVector* points = poly->GetPointW();
	const Int32 count = poly->GetPointCount();
	if (!points || count == 0 || count != restPoints.GetCount())
		return;
	for (Int32 i = 0; i < count; ++i)
		points[i] = restPoints[i];
	cage->Message(MSG_UPDATE);
}

void Morvex::CheckCommand(GeListNode* node)
{
	auto* op = static_cast<BaseObject*>(node);
	BaseDocument* doc = op->GetDocument();
	if (!doc)
		return;
	auto* cage = static_cast<BaseObject*>(op->GetData().GetObjectLink(MORVEX_CAGE, doc));
	auto* mesh = static_cast<BaseObject*>(op->GetData().GetObjectLink(MORVEX_CHECK_OBJECT, doc));
	if (!cage || !mesh)
		return;
	Valuta_struttura(op, mesh, cage);
}

void Morvex::CheckDirty(BaseObject* op, BaseDocument* doc)
{
	auto* cage = static_cast<BaseObject*>(op->GetDataInstance()->GetObjectLink(MORVEX_CAGE, doc));
	if (!cage)
		return;
	const Int32 dirty = cage->GetDirty(DIRTYFLAGS_CAGE);
	if (dirty == cageDirty)
		return;
	cageDirty = dirty;
	op->SetDirty(DIRTYFLAGS_DATA);
}
