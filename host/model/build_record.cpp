// build_record.cpp - a library's build record, read, parsed, shown and
// compared.
#include "model/build_record.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "runtime/build_record.h"

namespace vhost {

bool parseBuildRecord(const std::string &text, BuildRecord &r) {
    BuildRecord read; // `text` may be r's own
    read.text = text;
    std::istringstream in(text);
    std::string line;
    bool versioned = false;
    while (std::getline(in, line)) {
        for (char c : line)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
        const size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string value = sp == std::string::npos ? "" : line.substr(sp + 1);
        if (key == "vulmora")
            read.version = value, versioned = true;
        else if (key == "compiler")
            read.compiler = value;
        else if (key == "build-type")
            read.buildType = value;
        else if (key == "flags")
            read.flags = value;
        else if (key == "options")
            read.options = value;
        else if (key == "defines")
            read.defines = value;
        else if (key == "source") {
            const size_t last = value.rfind(' ');
            if (last == std::string::npos || value.size() - last - 1 != 64) return false;
            read.sources.emplace_back(value.substr(0, last), value.substr(last + 1));
        } // a key of a later version is kept in the text, and not refused
    }
    if (!versioned) return false;
    r = std::move(read);
    return true;
}

bool readBuildRecord(const std::string &path, BuildRecord &record, std::string &error) {
    record = BuildRecord{};
    std::string text(VULMORA_RECORD_MAX, '\0');
    char why[160];
    switch (vulmora_record_read(path.c_str(), text.data(), text.size(), why, sizeof why)) {
    case VULMORA_RECORD_NONE:
        return true;
    case VULMORA_RECORD_FOUND:
        text.resize(text.find('\0'));
        if (parseBuildRecord(text, record)) return true;
        record = BuildRecord{};
        return error = path + ": its build record is damaged", false;
    default:
        return error = path + ": " + why, false;
    }
}

std::string buildRecordLine(const BuildRecord &r) {
    if (r.empty()) return kNoBuildRecord;
    std::string t;
    for (const auto &[name, hash] : r.sources)
        t += (t.empty() ? "" : " ") + name + " " + hash.substr(0, 12);
    if (r.sources.empty()) t = "no user sources";
    return t + ", " + r.compiler + ", " + (r.buildType.empty() ? "no build type" : r.buildType);
}

std::vector<std::string> buildRecordChanges(const BuildRecord &before, const BuildRecord &now) {
    std::vector<std::string> out;
    if (before.empty() || now.empty() || before.text == now.text) return out;
    auto find = [](const BuildRecord &r, const std::string &name) {
        return std::find_if(r.sources.begin(), r.sources.end(),
                            [&](const auto &s) { return s.first == name; });
    };
    for (const auto &[name, hash] : before.sources) {
        const auto it = find(now, name);
        if (it == now.sources.end())
            out.push_back(name + ": removed");
        else if (it->second != hash)
            out.push_back(name + ": " + hash.substr(0, 12) + " -> " + it->second.substr(0, 12));
    }
    for (const auto &[name, hash] : now.sources)
        if (find(before, name) == before.sources.end())
            out.push_back(name + ": added (" + hash.substr(0, 12) + ")");
    const std::pair<const char *, std::string BuildRecord::*> fields[] = {
        {"compiler", &BuildRecord::compiler},
        {"build type", &BuildRecord::buildType},
        {"flags", &BuildRecord::flags},
        {"the target's options", &BuildRecord::options},
        {"the target's definitions", &BuildRecord::defines},
        {"vulmora", &BuildRecord::version}};
    auto shown = [](const std::string &v) { return v.empty() ? std::string("(none)") : v; };
    for (const auto &[label, field] : fields)
        if (before.*field != now.*field)
            out.push_back(std::string(label) + ": " + shown(before.*field) + " -> " +
                          shown(now.*field));
    return out;
}

} // namespace vhost
