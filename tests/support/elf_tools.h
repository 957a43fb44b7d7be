// elf_tools.h - read a built library's dynamic section and symbol table
// with the binutils on the machine.
#pragma once

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace vtest {

// Everything `command` prints on stdout.
inline std::string capture(const std::string &command) {
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Defined dynamic symbols of `lib`: name -> size in bytes.
inline std::map<std::string, unsigned long> definedDynamicSymbols(const std::string &lib) {
    std::map<std::string, unsigned long> syms;
    std::istringstream in(capture("nm -D --defined-only -S '" + lib + "'"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string a, b, c, d;
        fields >> a >> b >> c >> d;
        if (d.empty())
            syms[c] = 0; // no size column: "addr type name"
        else
            syms[d] = std::stoul(b, nullptr, 16);
    }
    return syms;
}

// Undefined dynamic symbols of `lib`.
inline std::set<std::string> undefinedDynamicSymbols(const std::string &lib) {
    std::set<std::string> syms;
    std::istringstream in(capture("nm -D --undefined-only '" + lib + "'"));
    std::string type, name;
    while (in >> type >> name)
        syms.insert(name.substr(0, name.find('@')));
    return syms;
}

// Values of the dynamic-section entries of kind `tag` (NEEDED, SONAME).
inline std::set<std::string> dynamicEntries(const std::string &lib, const std::string &tag) {
    std::set<std::string> out;
    std::istringstream in(capture("readelf -d '" + lib + "'"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("(" + tag + ")") == std::string::npos) continue;
        auto l = line.find('['), r = line.find(']');
        if (l != std::string::npos && r != std::string::npos)
            out.insert(line.substr(l + 1, r - l - 1));
    }
    return out;
}

} // namespace vtest
