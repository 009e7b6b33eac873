// A small software renderer for the command-line tool: flat-shaded, z-buffered
// meshes with wireframes over them, several panels side by side, one PNG.
// It exists so a deformation can be looked at without any 3D application.
#ifndef MORVEXER_RENDER_H
#define MORVEXER_RENDER_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "abi/vtn_types.h"

namespace mvx
{

struct RenderMesh
{
	std::vector<LVector> points;
	std::vector<std::vector<Int32>> faces; // any corner count; polygons are filled as fans
	std::array<uint8_t, 3> color;
};

struct Panel
{
	std::vector<RenderMesh> solids;     // filled, flat-shaded, two-sided, z-buffered
	std::vector<RenderMesh> wireframes; // lines over the solids; the parts behind a solid are drawn faded
};

// Looks down at the scene from the front right, a little from above.
inline constexpr LVector kDefaultViewDir{-1.0, -0.6, -1.2};

// The image is panels.size() * panel_width wide and panel_height high, RGB,
// rows top to bottom. All panels share one orthographic camera looking along
// view_dir (up +y; a zero or non-finite view_dir means the default) that
// frames every finite point of every panel, so panels can be compared pixel
// for pixel. Points that are not finite are left out,
// with every face and line that uses them. Empty for no panels or a size out
// of range (the whole image at most 16384 wide and 2^28 pixels).
std::vector<uint8_t> renderImage(const std::vector<Panel>& panels, int panel_width, int panel_height, const LVector& view_dir);
std::vector<uint8_t> renderImage(const std::vector<Panel>& panels, int panel_width, int panel_height);

// Writes the image as an 8-bit RGB PNG, through a temporary file beside path
// and a rename, so path is either the old file or the complete new one.
// False with "PATH: problem" in *error (if given) on failure.
bool renderPng(const std::vector<Panel>& panels, int panel_width, int panel_height, const LVector& view_dir,
	const std::string& path, std::string* error);
bool renderPng(const std::vector<Panel>& panels, int panel_width, int panel_height, const std::string& path,
	std::string* error);

} // namespace mvx

#endif
