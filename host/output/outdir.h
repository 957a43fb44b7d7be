// outdir.h - the output folder, written whole or not at all.
//
// A run writes its results into a new folder beside the one the user named
// (".<name>.partial"), holding a lock in it for the whole run, and puts it
// in the named folder's place only when every file is written. So the named
// folder always holds one complete run, never a mixture of two; a second run
// into the same folder while one is writing is refused; and an interrupted
// or failed run leaves nothing behind. The folder's marker lists the files
// its run wrote (name, size, time written): a folder is replaced only when
// it holds those files and nothing else, as they were written, and belongs
// to this user; anything else in it is named and nothing is removed.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/system.h"

namespace vhost {

class OutputFolder {
  public:
    OutputFolder() = default;
    ~OutputFolder(); // removes the partial folder unless committed
    OutputFolder(const OutputFolder &) = delete;
    OutputFolder &operator=(const OutputFolder &) = delete;

    // Check that `target` can take the results and claim it: false with
    // the reason when it cannot (it names a file, it holds files of
    // something else, another run is writing it, it cannot be made).
    bool claim(const std::string &target, std::string &error);
    // Where the files go until commit().
    const std::string &partial() const { return partial_; }
    // The folder the results end up in.
    const std::string &target() const { return target_; }
    // Put the partial folder in the target's place (the earlier run's
    // folder, if any, is removed); false with the reason.
    bool commit(std::string &error);
    // Remove the partial folder now.
    void discard();

  private:
    std::string target_, partial_;
    platform::FileHandle lock_ = -1;
    bool committed_ = false, createdTarget_ = false;
};

// A file written with every write checked: the first failure is kept and
// reported by close(), with the path and the reason.
class CheckedFile {
  public:
    explicit CheckedFile(const std::string &path);
    ~CheckedFile();
    CheckedFile(const CheckedFile &) = delete;
    CheckedFile &operator=(const CheckedFile &) = delete;

    bool ok() const { return error_.empty(); }
    VHOST_PRINTF_FORMAT(2, 3) void printf(const char *format, ...);
    void write(const void *data, size_t n);
    // Close; false with "<path>: <reason>" in `error` when anything failed.
    bool close(std::string &error);

  private:
    void failed();
    std::string path_, error_;
    FILE *f_ = nullptr;
};

} // namespace vhost
