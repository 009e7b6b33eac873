// Evaluation: which deformers act on an object, in which order, and the
// deform cache they leave. The order is the key decision of the host.
#include <chrono>

#include "vtnhost/host.h"

namespace vtnhost {

namespace {

// The deformers acting on op: those under op itself, then under each of its
// ancestors going outward, each level in tree order.
std::vector<Object*> deformersFor(Object* op)
{
	std::vector<Object*> out;
	for (Object* level = op; level; level = level->parent())
		for (const auto& c : level->children())
			if (c->isDeformer() && c->deformMode)
				out.push_back(c.get());
	return out;
}

}  // namespace

void Host::evaluate(Document* doc, Thread* thread)
{
	lastDeformerSeconds_ = 0.0;
	for (Object* o : doc->objects())
		if (o->plugin())
			o->callCheckDirty(doc);
	for (Object* o : doc->objects())
	{
		Object* target = o->isPolygonObject() ? o : o->generatorCache.get();
		if (!target)
			continue;
		const std::vector<Object*> deformers = deformersFor(o);
		if (deformers.empty())
		{
			target->deformCache.reset();
			continue;
		}
		// The last cache stays as it is while the deformers run: they may read it.
		std::vector<LVector> buffer = std::move(target->spareCachePoints);
		buffer.assign(target->points.begin(), target->points.end());
		target->setEvaluationBuffer(&buffer);
		const auto start = std::chrono::steady_clock::now();
		for (Object* d : deformers)
			d->callModifyObject(doc, target, thread ? thread->asThread() : nullptr);
		lastDeformerSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		target->setEvaluationBuffer(nullptr);
		std::unique_ptr<Object> cache = newPolygonObject(target->name, std::move(buffer), target->polygons);
		cache->matrix = target->globalMatrix();
		cache->cacheParent = target;
		if (target->deformCache)
			target->spareCachePoints = std::move(target->deformCache->points);
		target->deformCache = std::move(cache);
	}
}

}  // namespace vtnhost
