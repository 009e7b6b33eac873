// Numbers the host and its plug-ins must agree on: node types, messages, dirty
// kinds, value kinds, clone flags, modeling commands, undo types, object and
// pointer modes, icon and parameter flags. Both sides take them from here
// only; a number written out anywhere else can drift from its partner unseen.
#ifndef VTN_ABI_IDS_H
#define VTN_ABI_IDS_H

#include "vtn_types.h"

// Types of the host's own nodes (GetType, IsInstanceOf, AllocNode, Tag Alloc).
enum : Int32
{
	Opolygon = 5100,         // polygon object: points and polygons
	Onull = 5140,            // null object: a group with no geometry
	Tdisplay = 5613,         // display tag: how the editor draws its object
	Tpointselection = 5674,  // point selection tag: a named BaseSelect of points
};

// Messages to nodes (the atom's Message slot and NodeData::Message).
enum : Int32
{
	MSG_UPDATE = 5,                // an object's points or settings changed; no data
	MSG_DESCRIPTION_COMMAND = 18,  // a button of the description was pressed: VtnDescriptionCommand
	MSG_MENUPREPARE = 22,          // the object is about to be created from a menu; no data
	MSG_GETCUSTOMICON = 1001090,   // the node may fill the icon to show: GetCustomIconData
};

// Dirty kinds. A node keeps one count per kind; GetDirty sums the kinds asked for.
enum : Int32
{
	DIRTYFLAGS_MATRIX = 2,
	DIRTYFLAGS_DATA = 4,
	DIRTYFLAGS_SELECT = 8,
	DIRTYFLAGS_CACHE = 16,
};

// Kinds of a GeData value and of a container entry.
enum VtnDataType
{
	VTN_DA_NIL = 0,
	VTN_DA_LONG = 15,
	VTN_DA_REAL = 19,
	VTN_DA_STRING = 130,
	VTN_DA_LINK = 133,
	VTN_DA_BOOL = 400006001,
};

// Clone flags (the object's Clone slot). Bits this host does not act on are
// accepted and passed over.
enum : Int32
{
	COPYFLAGS_NO_HIERARCHY = 0x04,  // children are not copied
	COPYFLAGS_NO_ANIMATION = 0x08,  // animation tracks are not copied
	COPYFLAGS_NO_BITS = 0x10,       // selection and fold bits are not copied
	COPYFLAGS_NO_BRANCHES = 0x100,  // tags and other branches are not copied
};

// Modeling commands (SendModelingCommand).
enum : Int32
{
	MCOMMAND_TRIANGULATE = 221,  // splits every quad and n-gon of data->op into triangles, in place
};

// Undo types (AddUndo).
enum : Int32
{
	UNDOTYPE_CHANGE = 40,  // the object is about to change
	UNDOTYPE_NEW = 44,     // the object or tag was just inserted
};

// Editor and render modes of an object.
enum : Int32
{
	MODE_ON = 0,
	MODE_OFF = 1,
	MODE_UNDEF = 2,  // follows the parent
};

// Mouse pointers (ShowMouse).
enum : Int32
{
	MOUSE_NORMAL = 2,
	MOUSE_BUSY = 3,
};

// Flags of the icon library's RegisterIcon.
enum : Int32
{
	ICONFLAG_COPY = 1,  // the host keeps its own copy of the region; the caller may free the bitmap
};

// Flags of the atom's SetParameter.
enum : Int32
{
	DESCFLAGS_SET_USERINTERACTION = 8,  // set as the user would, through the description
};

#endif
