// loaded_library.h - a built user-function library, loaded as the host does.
//
// dlopen the file, resolve the exchange block and the entry points by name,
// write the block, call.
#pragma once

#include <dlfcn.h>
#include <stdexcept>
#include <string>

namespace vtest {

class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string &path)
        : handle_(path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (!handle_) throw std::runtime_error("cannot load '" + path + "'");
    }
    ~LoadedLibrary() { dlclose(handle_); }
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;

    // Address of the exported symbol `name`, or null.
    void *find(const char *name) const { return dlsym(handle_, name); }

    // The exported variable `name`, which must exist.
    template <class T> T &var(const char *name) const { return *static_cast<T *>(must(name)); }
    // The exported function `name` as type F, which must exist.
    template <class F> F fn(const char *name) const { return reinterpret_cast<F>(must(name)); }

  private:
    void *must(const char *name) const {
        void *p = find(name);
        if (!p) throw std::runtime_error(std::string("missing symbol ") + name);
        return p;
    }
    void *handle_;
};

} // namespace vtest
