// svg_plain.cpp - SVG files made of plain elements only.
#include "output/svg_plain.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

#include "output/outdir.h"

namespace vhost {

namespace {

const std::regex kUse(R"(<use\s+([^>]*?)\s*/>)");
const std::regex kHref(R"(\s*xlink:href\s*=\s*['"]#([^'"]*)['"])");
const std::regex kId(R"(\s+id\s*=\s*['"]([^'"]*)['"])");
// A definition on a line of its own: an element with an id, closed on that line.
const std::regex kDefinition(R"(^\s*(<(\w+)\s[^>]*\bid\s*=\s*['"]([^'"]*)['"][^>]*/>)\s*$)");

using Definitions = std::map<std::string, std::string>;

// The elements `use` (its attributes) stands for, references resolved
// through `defs`, `depth` levels at most (definitions that refer to each
// other end there).
std::string expand(const std::string &attributes, const Definitions &defs, int depth) {
    std::smatch m;
    if (depth <= 0 || !std::regex_search(attributes, m, kHref)) return "";
    const auto it = defs.find(m[1].str());
    if (it == defs.end()) return "";
    std::string rest = std::regex_replace(std::regex_replace(attributes, kHref, ""), kId, "");
    rest.erase(0, rest.find_first_not_of(" \t\n"));
    rest.erase(rest.find_last_not_of(" \t\n") + 1);
    std::string inner;
    std::smatch u;
    if (std::regex_match(it->second, u, kUse))
        inner = expand(u[1].str(), defs, depth - 1);
    else
        inner = std::regex_replace(it->second, kId, "");
    if (inner.empty()) return "";
    return (rest.empty() ? "<g>" : "<g " + rest + ">") + inner + "</g>";
}

// Every element of a line of its own with an id, inside <defs>, by that id.
Definitions definitions(const std::string &svg) {
    Definitions defs;
    const size_t open = svg.find("<defs>"), close = svg.find("</defs>");
    if (open == std::string::npos || close == std::string::npos || close < open) return defs;
    size_t start = open;
    while (start < close) {
        const size_t end = std::min(svg.find('\n', start), close);
        const std::string line = svg.substr(start, end - start);
        std::smatch m;
        if (std::regex_match(line, m, kDefinition)) defs[m[3].str()] = m[1].str();
        start = end + 1;
    }
    return defs;
}

} // namespace

std::string inlineUses(const std::string &svg) {
    const Definitions defs = definitions(svg);
    std::string out;
    out.reserve(svg.size() * 2);
    size_t from = 0;
    for (;;) {
        const size_t at = svg.find("<use", from);
        const size_t end = at == std::string::npos ? at : svg.find("/>", at);
        if (end == std::string::npos) break;
        out.append(svg, from, at - from);
        const std::string attributes = svg.substr(at + 4, end - at - 4);
        // A definition that is itself a <use> goes: its users get its
        // elements in place.
        std::smatch id;
        if (!std::regex_search(attributes, id, kId)) out += expand(attributes, defs, 8);
        from = end + 2;
    }
    out.append(svg, from, std::string::npos);
    return out;
}

bool inlineUsesInFile(const std::string &path, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return error = path + ": cannot be read", false;
    if (text.find("<use") == std::string::npos) return true;
    const std::string plain = inlineUses(text);
    CheckedFile f(path);
    f.write(plain.data(), plain.size());
    return f.close(error);
}

} // namespace vhost
