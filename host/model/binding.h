// binding.h - a loaded user-function library, bound as the solver binds it.
//
// Exchange: where the library's exchange block is, one pointer per
// variable of the layout's list (include/vulmora/vulmora_layout.h), each named
// and typed as the library declares it (exchange/exchange.h): x.t1 is the
// address of the library's `float *t1`, x.loc_micro of its `double
// loc_micro[200]`.
//
// Library: the loaded file, its Exchange and its entry points, resolved by
// name; it points the block at the sample's arrays (a state file's are
// bound by replay/state.h).
#pragma once

#include <string>
#include <vector>

#include "exchange/exchange.h"
#include "include/vulmora/vulmora_layout.h"
#include "model/entries.h"
#include "model/sample_config.h"
#include "runtime/state_writer.h"

namespace vhost {

class Sample;

using PropertyFn = double (*)(int);
using ExternalFn = void (*)(void *, int);
using ConvertFn = double (*)(int, double);

// Addresses of the exchange-block variables inside the loaded library.
struct Exchange {
#define VHOST_EXCHANGE_MEMBER(name, bytes) decltype(::name) *name = nullptr;
    VULMORA_EXCHANGE_DATA(VHOST_EXCHANGE_MEMBER) VULMORA_EXCHANGE_TABLES(VHOST_EXCHANGE_MEMBER)
#undef VHOST_EXCHANGE_MEMBER
};

class Library {
  public:
    // Load `path` and resolve every name; false with the reason in `error`.
    bool open(const std::string &path, std::string &error);
    // The entry point `name` (without func_), or null when not exported.
    PropertyFn entry(const std::string &name) const;
    // Point the block at the sample's current step and write the scalars.
    void bind(Sample &s, const SampleConfig &config);
    // The block as it stands, as the state file's writer takes it.
    vulmora_state_view view() const;
    const std::string &path() const { return path_; }

    Exchange x{};
    ExternalFn externalcompute = nullptr;
    ConvertFn fromCGS = nullptr; // the exported fconvertFromCGS

  private:
    std::string path_;
    void *handle_ = nullptr;
    PropertyFn entries_[std::size(kEntryPoints)]{};
};

// Where the default library (the worked examples) is looked for, in order.
std::vector<std::string> defaultLibraryCandidates();

// The template source a user copies to start a library: the installed
// share/vulmora/template.c beside the executable's folder, else the source
// tree's this program was built from; "" when neither is there.
std::string templateSourcePath();

} // namespace vhost
