// svg_plain.h - SVG files made of plain elements only.
//
// gnuplot draws each point as a <use> of a symbol defined once, and some of
// its symbols are <use>s of others; many converters draw such a file as
// empty axes. Each <use> is replaced by a group holding a copy of what it
// refers to (with the <use>'s own transform, colour and fill), so every
// viewer draws the same picture.
#pragma once

#include <string>

namespace vhost {

// The SVG text `svg` with every <use> element replaced by the elements it
// stands for; a reference to no definition is dropped.
std::string inlineUses(const std::string &svg);

// Rewrite the SVG file at `path` so (a file of the output folder being
// made, which is put in place only when whole); false with the reason.
bool inlineUsesInFile(const std::string &path, std::string &error);

} // namespace vhost
