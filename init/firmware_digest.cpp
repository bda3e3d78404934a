// The record of the installed firmware's MD5 digest, computed over an image assembled from the
// flash when the record does not already hold one.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brimlib.h"
#include "brimlib/common/unique_fd.h"
#include "brimlib/files/readers.h"

namespace {

constexpr const char *kRecord = "/mnt/SysCurVerMd5";
constexpr const char *kImage = "/tmp/tmpFw";
constexpr const char *kLeadingSource = "/etc/nohw.dat";
constexpr const char *kKernelFlash = "/dev/mtdblock0";
constexpr const char *kRootFlash = "/dev/mtdblock1";

constexpr int kLeadingLen = 0xC000;
constexpr int kKernelOffset = 0x30000;
constexpr int kKernelHeaderLen = 16;
constexpr uint32_t kRootLen = 0x208002;

// Room for one digest line and then some: a longer record reads as "not a digest" and is redone.
constexpr size_t kRecordCap = 64;

class HeapBuffer {
 public:
  explicit HeapBuffer(size_t n) : p_(static_cast<unsigned char *>(std::malloc(n))) {}
  ~HeapBuffer() { std::free(p_); }
  HeapBuffer(const HeapBuffer &) = delete;
  HeapBuffer &operator=(const HeapBuffer &) = delete;
  unsigned char *get() const { return p_; }

 private:
  unsigned char *p_;
};

bool write_all(int fd, const unsigned char *p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// The temporary image, removed again unless the digest is taken from it.
class TempImage {
 public:
  TempImage() {
    // Always from an empty file: one left behind by an interrupted run must not stand in front
    // of this run's image. Exclusive creation after the removal also refuses a planted link.
    ::unlink(kImage);
    fd_.reset(::open(kImage, O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600));
  }
  ~TempImage() {
    if (!kept_) {
      fd_.reset();
      ::unlink(kImage);
    }
  }
  TempImage(const TempImage &) = delete;
  TempImage &operator=(const TempImage &) = delete;

  bool ok() const { return fd_.ok(); }
  bool append(const unsigned char *p, size_t n) { return write_all(fd_.get(), p, n); }
  // Closes the file and leaves it for the digest command (which removes it itself).
  void finish() {
    fd_.reset();
    kept_ = true;
  }

 private:
  brim::unique_fd fd_;
  bool kept_ = false;
};

// Copies one piece of a source into the image. False when it was not copied whole; `stop` is
// then what the read returned (-1 when the buffer could not be had, the source not opened, or
// the image not written).
bool copy_piece(TempImage &image, const char *source, int offset, uint64_t len, int &stop) {
  stop = -1;
  if (len > INT32_MAX) return false;
  HeapBuffer buf(static_cast<size_t>(len));
  if (buf.get() == nullptr) return false;
  int got = f_read(source, buf.get(), offset, static_cast<int>(len));
  if (got != static_cast<int>(len)) {
    stop = got;
    return false;
  }
  // A short image would be digested and recorded as the firmware's for good.
  return image.append(buf.get(), static_cast<size_t>(len));
}

}  // namespace

extern "C" int setFWMd5(void) {
  char record[kRecordCap];
  std::memset(record, 0, sizeof record);
  brim::read_text_file(kRecord, record, sizeof record);
  std::printf("ROOTFS_OFFSET_T=%x SysCurVerMd5=%s\n", static_cast<unsigned>(kRootLen), record);
  std::fflush(stdout);
  if (std::strlen(record) == 32) return 32;

  char cmd[128];
  std::memset(cmd, 0, sizeof cmd);

  unsigned char header[kKernelHeaderLen];
  if (f_read(kKernelFlash, header, kKernelOffset, kKernelHeaderLen) != kKernelHeaderLen) return 16;
  uint32_t kernel_len = (uint32_t{header[12]} << 24) | (uint32_t{header[13]} << 16) |
                        (uint32_t{header[14]} << 8) | uint32_t{header[15]};

  const unsigned char root_header[16] = {'r', '6', 'c', 'r', 0x00, 0x2D, 0x00, 0x00,
                                         0x00, 0x26, 0x00, 0x00, 0x00, 0x20, 0x80, 0x02};

  TempImage image;
  if (!image.ok()) return -1;
  int stop = -1;
  if (!copy_piece(image, kLeadingSource, 0, kLeadingLen, stop)) return stop;
  if (!copy_piece(image, kKernelFlash, kKernelOffset, uint64_t{kernel_len} + kKernelHeaderLen, stop)) return stop;
  if (!image.append(root_header, sizeof root_header)) return -1;
  if (!copy_piece(image, kRootFlash, 0, kRootLen, stop)) return stop;
  image.finish();

  std::snprintf(cmd, sizeof cmd, "md5sum %s | cut -d' ' -f1 > %s", kImage, kRecord);
  BrimSystem(cmd, 0);
  std::memset(cmd, 0, sizeof cmd);
  std::snprintf(cmd, sizeof cmd, "rm -rf %s 2>/dev/null", kImage);
  return BrimSystem(cmd, 0);
}
