// What the user does to a node in the application.
#include "vtnhost/actions.h"

namespace vtnhost {

bool pressButton(Node* node, Int32 button_id)
{
	VtnDescriptionCommand cmd{};
	cmd.id.depth = 1;
	cmd.id.level[0] = {button_id, 0, 0};
	return node->callMessage(MSG_DESCRIPTION_COMMAND, &cmd);
}

bool requestIcon(Node* node, IconData* icon)
{
	GetCustomIconData request{icon, 0};
	node->callMessage(MSG_GETCUSTOMICON, &request);
	return request.filled != 0;
}

void setLink(Node* owner, Int32 param_id, const Node* target)
{
	owner->container().entries[param_id] = Value::Link(target ? target->id() : 0);
}

}  // namespace vtnhost
