// binding.cpp - resolving and filling the exchange block.
#include "model/binding.h"

#include <cstring>
#include <filesystem>
#include <type_traits>

#include "model/fields.h"
#include "model/sample.h"
#include "model/units.h"
#include "platform/system.h"

namespace vhost {

namespace fs = std::filesystem;

// ---- resolving ---------------------------------------------------------------

namespace {

// Every variable of the layout's lists: the block, then the tables.
#define VHOST_EXCHANGE_VARIABLES(X) VULMORA_EXCHANGE_DATA(X) VULMORA_EXCHANGE_TABLES(X)

// Every exported variable of the layout's list, by name.
enum class Var : size_t {
#define VHOST_VAR(name, bytes) name,
    VHOST_EXCHANGE_VARIABLES(VHOST_VAR)
#undef VHOST_VAR
};
constexpr const char *kVarNames[] = {
#define VHOST_VAR(name, bytes) #name,
    VHOST_EXCHANGE_VARIABLES(VHOST_VAR)
#undef VHOST_VAR
};

// The library's declarations have the layout's sizes (on a 64-bit host,
// which the sizes are given for), and each of the sample's arrays the
// element type of its variable.
#define VHOST_SIZE(name, bytes) &&sizeof(::name) == (bytes)
static_assert(sizeof(void *) != 8 || (true VHOST_EXCHANGE_VARIABLES(VHOST_SIZE)),
              "the exchange block's sizes");
#undef VHOST_SIZE
#define VHOST_TYPE(variable, member, type, extent, vtu)                                            \
    &&std::is_same_v<decltype(::variable), type *>
static_assert(true VHOST_SAMPLE_ARRAYS(VHOST_TYPE, VHOST_ARRAY_NONE), "the sample's array types");
#undef VHOST_TYPE

} // namespace

// The library and every exchange variable; a missing name means the file
// was not built with vulmora_add_user_library.
bool Library::open(const std::string &path, std::string &error) {
    handle_ = platform::loadLibrary(path, error);
    if (!handle_) return false;
    void *addr[std::size(kVarNames)];
    for (size_t k = 0; k < std::size(kVarNames); ++k) {
        addr[k] = platform::findSymbol(handle_, kVarNames[k]);
        if (!addr[k]) {
            error = "'" + path + "' is not a user-function library: it does not export '" +
                    kVarNames[k] + "'";
            return false;
        }
    }
    for (size_t k = 0; k < std::size(kEntryPoints); ++k) {
        std::string name = std::string("func_") + kEntryPoints[k].name;
        entries_[k] = reinterpret_cast<PropertyFn>(platform::findSymbol(handle_, name.c_str()));
    }
#define VHOST_ADDRESS(name, bytes)                                                                 \
    x.name = static_cast<decltype(x.name)>(addr[static_cast<size_t>(Var::name)]);
    VHOST_EXCHANGE_VARIABLES(VHOST_ADDRESS)
#undef VHOST_ADDRESS
    externalcompute =
        reinterpret_cast<ExternalFn>(platform::findSymbol(handle_, "func_externalcompute"));
    fromCGS = reinterpret_cast<ConvertFn>(platform::findSymbol(handle_, "fconvertFromCGS"));
    path_ = path;
    return true;
}

// Linear search over the property entry points; called once per entry point.
PropertyFn Library::entry(const std::string &name) const {
    for (size_t k = 0; k < std::size(kEntryPoints); ++k)
        if (name == kEntryPoints[k].name) return entries_[k];
    return nullptr;
}

// ---- filling -----------------------------------------------------------------

// Counts, selectors, scalars and pointers into the sample's arrays.
void Library::bind(Sample &s, const SampleConfig &config) {
    *x.nnod = s.nnod;
    *x.nvnod = s.nnod;
    *x.nel = s.nel;
    *x.nstr1 = 6;
    *x.TWO_D = 0;
    *x.cur_node = 0;
    *x.location = 0;
#define VHOST_SELECTOR(member, variable, code, fallback, label, alias)                             \
    *x.variable = config.units.member;
    VHOST_UNIT_SELECTORS(VHOST_SELECTOR)
#undef VHOST_SELECTOR
    *x.stress_scale = config.stressScale;
    *x.func_temp = config.tempTable ? 0.0 : -9999.0;
    *x.loc_poro = 0.0;
#define VHOST_POINT_AT(variable, member, type, extent, vtu) *x.variable = s.member.data();
    VHOST_SAMPLE_ARRAYS(VHOST_POINT_AT, VHOST_ARRAY_NONE)
#undef VHOST_POINT_AT
    *x.micModelsA = s.model;
    *x.micCNTA = s.catalog;
}

// The scalars by value, every section at the array the block points at
// (the library's own arrays at their address).
vulmora_state_view Library::view() const {
    vulmora_state_view v{};
#define VHOST_TO_VIEW(variable, header) v.header = *x.variable;
    VHOST_STATE_SCALARS(VHOST_TO_VIEW)
#undef VHOST_TO_VIEW
#define VHOST_TO_VIEW(member, variable, code, fallback, label, alias) v.variable = *x.variable;
    VHOST_UNIT_SELECTORS(VHOST_TO_VIEW)
#undef VHOST_TO_VIEW
    v.mic_models = *x.micModelsA, v.mic_cnt = *x.micCNTA;
#define VHOST_TO_SECTION(name, type, extent) v.data[VULMORA_SECTION_##name] = *x.name;
    VULMORA_STATE_BLOCK_SECTIONS(VHOST_TO_SECTION)
#undef VHOST_TO_SECTION
    return v;
}

// ---- the default library -------------------------------------------------------

// Relative to the executable only: next to it (the installed layout on
// every platform, and the Windows build tree), then in the build tree's
// ../examples; the delivered template is the last resort, in the build
// tree's .. or the installed ../lib.
std::vector<std::string> defaultLibraryCandidates() {
    const std::string examples = platform::libraryFileName("vulmora_examples");
    const std::string delivered = platform::libraryFileName("vulmora");
    std::vector<std::string> out;
    std::string exe = platform::executablePath();
    if (exe.empty()) return out;
    fs::path dir = fs::path(exe).parent_path();
    for (const fs::path &p :
         {dir / examples, dir / ".." / "examples" / examples, dir / delivered,
          dir / ".." / delivered, dir / ".." / "lib" / delivered, dir / ".." / "lib64" / delivered})
        out.push_back(p.lexically_normal().string());
    return out;
}

std::string templateSourcePath() {
    std::vector<fs::path> candidates;
    const std::string exe = platform::executablePath();
    if (!exe.empty())
        candidates.push_back(fs::path(exe).parent_path() / ".." / "share" / "vulmora" /
                             "template.c");
#ifdef VULMORA_TREE_TEMPLATE
    candidates.emplace_back(VULMORA_TREE_TEMPLATE);
#endif
    for (const fs::path &p : candidates) {
        std::error_code ec;
        if (fs::is_regular_file(p, ec)) return p.lexically_normal().string();
    }
    return "";
}

} // namespace vhost
