// What the user does in the application to a node: presses a button of its
// description, looks at its icon, drops an object into one of its link fields.
// The tool drives the plug-in through these as a user would.
#ifndef VTNHOST_ACTIONS_H
#define VTNHOST_ACTIONS_H

#include "vtnhost/scene.h"

namespace vtnhost {

// Message 18 with a one-level DescID of the button's id; the plug-in's answer.
bool pressButton(Node* node, Int32 button_id);
// Message 1001090; true when the node filled the record.
bool requestIcon(Node* node, IconData* icon);
// The parameter links target (nothing when null).
void setLink(Node* owner, Int32 param_id, const Node* target);

}  // namespace vtnhost

#endif
