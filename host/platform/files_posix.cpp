// files_posix.cpp - whole files in memory, on POSIX systems.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vhost::platform {

// Mapped privately: the bytes are used in place, and what is written to
// them stays in this process.
bool loadFileImage(const std::string &path, FileImage &image, std::string &error) {
    image = FileImage{};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return error = std::strerror(errno), false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return error = "not a regular file", false;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return true;
    }
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    const int mapError = errno;
    ::close(fd);
    if (p == MAP_FAILED) return error = std::strerror(mapError), false;
    image.data = static_cast<unsigned char *>(p);
    image.size = size;
    return true;
}

void freeFileImage(FileImage &image) {
    if (image.data) munmap(image.data, image.size);
    image = FileImage{};
}

} // namespace vhost::platform
