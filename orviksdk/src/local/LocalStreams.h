// The streams of the local backend.
//
// LocalReadStream reads one open file by descriptor: the file's content is
// the one it had when opened, even if a writer publishes a new version
// meanwhile (publishing replaces the directory entry, not the file).
//
// LocalWriteStream never writes to the target itself. It writes a temporary
// file in the target's directory: an unnamed O_TMPFILE where the file
// system supports it, else a hidden file ".<name>.ovk-tmp.<random>" that
// listings skip. close() publishes it with one rename(2) over the target,
// after an optional fsync ("fs.local.fsync"), so readers see the previous
// content or the new one whole, never a mix. A failed close, an abandoned
// stream (freed unclosed) or a killed process leaves the previous content:
// an unnamed temporary file vanishes with its descriptor, a named one is
// removed by the stream (only a killed process can leave one behind, and
// listings never show it). Append copies the existing bytes into the
// temporary file first.
//
// Not thread-safe by themselves; the core serialises calls (Backend.h).
#ifndef ORVIKSDK_SRC_LOCAL_LOCALSTREAMS_H_
#define ORVIKSDK_SRC_LOCAL_LOCALSTREAMS_H_

#include <memory>
#include <string>
#include <vector>

#include "../Backend.h"
#include "Fd.h"

namespace ovk {
namespace local {

// Whether a directory entry is a writer's hidden temporary file.
bool IsTempName(const char* name);

class LocalReadStream : public Stream {
 public:
  LocalReadStream(Fd file, StorePath path) : file_(std::move(file)), path_(std::move(path)) {}

  Error read(char* buffer, uint64_t n, int64_t* got) override;
  Error pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) override;
  Error preadv(const std::vector<ReadRange>& ranges, int64_t* total) override;
  Error write(const char* data, uint64_t n) override;
  Error flush() override;
  Error tell(int64_t* position) override;
  Error seek(int64_t offset, int64_t* position) override;
  Error length(int64_t* length) override;
  Error close() override;

 private:
  friend class LocalWriteStream;  // copies from file_ by the kernel

  Fd file_;
  const StorePath path_;
  int64_t position_ = 0;
};

class LocalWriteStream : public Stream {
 public:
  // Starts writing `path`, the entry `name` of the directory `dir`.
  // Fails if the target is a directory or (for append) a link.
  static Error Open(Fd dir, const StorePath& path, bool append, int32_t perm,
                    bool fsync, std::unique_ptr<Stream>* out);
  ~LocalWriteStream() override;

  Error read(char* buffer, uint64_t n, int64_t* got) override;
  Error pread(char* buffer, uint64_t n, int64_t offset, int64_t* got) override;
  Error preadv(const std::vector<ReadRange>& ranges, int64_t* total) override;
  Error write(const char* data, uint64_t n) override;
  Error flush() override;
  Error tell(int64_t* position) override;
  Error seek(int64_t offset, int64_t* position) override;
  Error length(int64_t* length) override;
  Error close() override;
  // From a LocalReadStream, by copy_file_range: the kernel copies (or
  // shares, on file systems with reflinks) the bytes.
  bool copyFrom(Stream& source, int64_t* copied, Error* error) override;

 private:
  LocalWriteStream(Fd dir, StorePath path, bool fsync)
      : dir_(std::move(dir)), path_(std::move(path)), name_(path_.name()), fsync_(fsync) {}

  Error createTemp(int32_t perm);
  // Appends the bytes of the file `source` from `offset` to its end.
  Error appendFrom(int source, int64_t offset, const char* operation, int64_t* copied);
  Error writeAll(const char* data, uint64_t n);
  Error publish();
  // Removes the named temporary file, if any; the unnamed one goes with fd.
  void discard();

  Fd dir_;                  // the target's directory (O_PATH)
  const StorePath path_;
  const std::string name_;  // the target's name in dir_
  const bool fsync_;
  Fd file_;                 // the temporary file
  std::string tempName_;    // its name, while it has one in dir_
  bool anonymous_ = false;  // an O_TMPFILE without a name yet
  int64_t size_ = 0;        // bytes in the file, buffered ones included
  std::vector<char> buffer_;
  size_t used_ = 0;         // bytes waiting in buffer_
  Error failed_;            // set when the stream broke; every later call reports it
};

}  // namespace local
}  // namespace ovk

#endif  // ORVIKSDK_SRC_LOCAL_LOCALSTREAMS_H_
