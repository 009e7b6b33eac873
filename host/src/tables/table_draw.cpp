// Draw sub-table: the viewport operations of the default handle drawing.
#include <cmath>

#include "tables/tables.h"
#include "vtnhost/matrix.h"
#include "vtnhost/viewport.h"

namespace vtnhost {
namespace {

void DrSetPen(BaseDraw* bd, const LVector* color) { Viewport::from(bd)->pen = *color; }
void DrGetHandleColor(BaseDraw*, Int32, LVector* out) { *out = Viewport::handleColor(); }
void DrSetMatrix(BaseDraw* bd, const LMatrix* mg) { Viewport::from(bd)->matrix = *mg; }
void DrDrawHandle(BaseDraw* bd, const LVector* p, Int32)
{
	Viewport* v = Viewport::from(bd);
	v->handles.push_back(apply(v->matrix, *p));
}
bool DrPointInRange(BaseDraw* bd, const LVector* p, Int32 x, Int32 y)
{
	const Viewport* v = Viewport::from(bd);
	return std::fabs(p->x - x) <= v->hitRadius && std::fabs(p->y - y) <= v->hitRadius;
}

VTN_Draw draw_table = [] {
	VTN_Draw t{};
	t.SetPen = DrSetPen;
	t.GetHandleColor = DrGetHandleColor;
	t.SetMatrix = DrSetMatrix;
	t.DrawHandle = DrDrawHandle;
	t.PointInRange = DrPointInRange;
	return t;
}();

}  // namespace

void installDrawTable(VTNOS* os) { os->draw = &draw_table; }

}  // namespace vtnhost
