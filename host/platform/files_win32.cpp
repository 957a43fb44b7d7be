// files_win32.cpp - whole files in memory, on Windows.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace vhost::platform {

namespace {

constexpr size_t kAlign = 64;

} // namespace

// Read through the C runtime into an aligned copy of its own.
bool loadFileImage(const std::string &path, FileImage &image, std::string &error) {
    image = FileImage{};
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return error = std::strerror(errno), false;
    std::vector<unsigned char> bytes;
    unsigned char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return error = "read error", false;
    if (bytes.empty()) return true;
    void *copy = ::operator new[](bytes.size(), std::align_val_t(kAlign), std::nothrow);
    if (!copy) return error = "out of memory for " + std::to_string(bytes.size()) + " bytes", false;
    std::memcpy(copy, bytes.data(), bytes.size());
    image.data = static_cast<unsigned char *>(copy);
    image.size = bytes.size();
    return true;
}

void freeFileImage(FileImage &image) {
    if (image.data) ::operator delete[](image.data, std::align_val_t(kAlign));
    image = FileImage{};
}

} // namespace vhost::platform
