// The kernel's request numbers and argument blocks that the device layer sends and a capture
// records, under the kernel's own names. On Linux they come from the kernel's headers; the
// Windows builds replay captures made on x86-64 Linux, so there they are written out as that
// machine has them (the request numbers, the sizes the recorded replies were made with), and
// the Linux build checks that both agree.
#pragma once

#include <cstdint>

#ifdef __linux__

#include <linux/fs.h>
#include <linux/hdreg.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <fcntl.h>

#include <cerrno>

namespace kyvex::platform::linuxdev {
// The kernel's `long` of the legacy block requests (BLKGETSIZE and the like).
using KernelLong = long;
}  // namespace kyvex::platform::linuxdev

#else  // a build that only replays what Linux recorded

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#define _IOC_NRBITS 8
#define _IOC_TYPEBITS 8
#define _IOC_SIZEBITS 14
#define _IOC_NRSHIFT 0
#define _IOC_TYPESHIFT 8
#define _IOC_SIZESHIFT 16
#define _IOC_DIRSHIFT 30
#define _IOC_NONE 0U
#define _IOC_WRITE 1U
#define _IOC_READ 2U
#define _IOC_DIR(nr) (((nr) >> _IOC_DIRSHIFT) & 0x3U)
#define _IOC_TYPE(nr) (((nr) >> _IOC_TYPESHIFT) & 0xFFU)
#define _IOC_SIZE(nr) (((nr) >> _IOC_SIZESHIFT) & 0x3FFFU)

#define SG_IO 0x2285UL
#define SG_DXFER_NONE (-1)
#define SG_DXFER_TO_DEV (-2)
#define SG_DXFER_FROM_DEV (-3)
#define SG_DXFER_TO_FROM_DEV (-4)
#define NVME_IOCTL_ID 0x4E40UL
#define NVME_IOCTL_ADMIN_CMD 0xC0484E41UL
#define NVME_IOCTL_IO_CMD 0xC0484E43UL
#define NVME_IOCTL_ADMIN64_CMD 0xC0504E47UL
#define NVME_IOCTL_IO64_CMD 0xC0504E48UL
#define HDIO_GETGEO 0x0301UL
#define HDIO_GET_IDENTITY 0x030DUL
#define HDIO_DRIVE_CMD 0x031FUL
#define BLKROGET 0x125EUL
#define BLKGETSIZE 0x1260UL
#define BLKRAGET 0x1263UL
#define BLKFRAGET 0x1265UL
#define BLKSSZGET 0x1268UL
#define BLKIOMIN 0x1278UL
#define BLKIOOPT 0x1279UL
#define BLKALIGNOFF 0x127AUL
#define BLKPBSZGET 0x127BUL
#define BLKDISCARDZEROES 0x127CUL
#define BLKGETSIZE64 0x80081272UL

// Only the player fills these in, field by field: their layout is never handed to a kernel.
typedef struct sg_io_hdr {
  int interface_id;
  int dxfer_direction;
  unsigned char cmd_len;
  unsigned char mx_sb_len;
  unsigned short iovec_count;
  unsigned int dxfer_len;
  void* dxferp;
  unsigned char* cmdp;
  unsigned char* sbp;
  unsigned int timeout;
  unsigned int flags;
  int pack_id;
  void* usr_ptr;
  unsigned char status;
  unsigned char masked_status;
  unsigned char msg_status;
  unsigned char sb_len_wr;
  unsigned short host_status;
  unsigned short driver_status;
  int resid;
  unsigned int duration;
  unsigned int info;
} sg_io_hdr_t;

// A recorded NVMe command is its block's bytes: the layout is the kernel's, byte for byte.
struct nvme_passthru_cmd {
  std::uint8_t opcode;
  std::uint8_t flags;
  std::uint16_t rsvd1;
  std::uint32_t nsid;
  std::uint32_t cdw2;
  std::uint32_t cdw3;
  std::uint64_t metadata;
  std::uint64_t addr;
  std::uint32_t metadata_len;
  std::uint32_t data_len;
  std::uint32_t cdw10;
  std::uint32_t cdw11;
  std::uint32_t cdw12;
  std::uint32_t cdw13;
  std::uint32_t cdw14;
  std::uint32_t cdw15;
  std::uint32_t timeout_ms;
  std::uint32_t result;
};
#define nvme_admin_cmd nvme_passthru_cmd
struct nvme_passthru_cmd64 {
  std::uint8_t opcode;
  std::uint8_t flags;
  std::uint16_t rsvd1;
  std::uint32_t nsid;
  std::uint32_t cdw2;
  std::uint32_t cdw3;
  std::uint64_t metadata;
  std::uint64_t addr;
  std::uint32_t metadata_len;
  std::uint32_t data_len;
  std::uint32_t cdw10;
  std::uint32_t cdw11;
  std::uint32_t cdw12;
  std::uint32_t cdw13;
  std::uint32_t cdw14;
  std::uint32_t cdw15;
  std::uint32_t timeout_ms;
  std::uint32_t rsvd2;
  std::uint64_t result;
};
// The recorded reply is the 64-bit kernel's block: its `start` is a 64-bit long there.
struct hd_geometry {
  unsigned char heads;
  unsigned char sectors;
  unsigned short cylinders;
  std::uint32_t pad;
  std::uint64_t start;
};
static_assert(sizeof(nvme_passthru_cmd) == 72 && sizeof(nvme_passthru_cmd64) == 80 && sizeof(hd_geometry) == 16);

// The open flags and file kinds, as the recorded numbers carry them.
#ifndef O_NONBLOCK
#define O_NONBLOCK 04000
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 02000000
#endif
#ifndef S_ISBLK
#define S_ISBLK(m) (((m) & 0170000) == 0060000)
#endif
#ifndef ENOMEDIUM
#define ENOMEDIUM 123
#endif

namespace kyvex::platform::linuxdev {
using KernelLong = std::int64_t;
}  // namespace kyvex::platform::linuxdev

#endif

namespace kyvex::platform::linuxdev {
// The error numbers a recorded reply carries are x86-64 Linux's; where this C library numbers
// one otherwise, the recorded number is what the layer compares with.
constexpr int kKernelEOPNOTSUPP = 95;
constexpr int kKernelENOMEDIUM = 123;
}  // namespace kyvex::platform::linuxdev

#if defined(__linux__) && defined(__x86_64__)
// The numbers written out for the Windows builds are these.
static_assert(SG_IO == 0x2285 && NVME_IOCTL_ID == 0x4E40 && NVME_IOCTL_ADMIN_CMD == 0xC0484E41 &&
              NVME_IOCTL_IO_CMD == 0xC0484E43 && NVME_IOCTL_ADMIN64_CMD == 0xC0504E47 &&
              NVME_IOCTL_IO64_CMD == 0xC0504E48);
static_assert(HDIO_GETGEO == 0x0301 && HDIO_GET_IDENTITY == 0x030D && HDIO_DRIVE_CMD == 0x031F);
static_assert(BLKROGET == 0x125E && BLKGETSIZE == 0x1260 && BLKRAGET == 0x1263 && BLKFRAGET == 0x1265 &&
              BLKSSZGET == 0x1268 && BLKIOMIN == 0x1278 && BLKIOOPT == 0x1279 && BLKALIGNOFF == 0x127A &&
              BLKPBSZGET == 0x127B && BLKDISCARDZEROES == 0x127C && BLKGETSIZE64 == 0x80081272);
static_assert(SG_DXFER_NONE == -1 && SG_DXFER_TO_DEV == -2 && SG_DXFER_FROM_DEV == -3 && SG_DXFER_TO_FROM_DEV == -4);
static_assert(sizeof(nvme_passthru_cmd) == 72 && sizeof(nvme_passthru_cmd64) == 80 && sizeof(hd_geometry) == 16 &&
              sizeof(kyvex::platform::linuxdev::KernelLong) == 8);
static_assert(_IOC_TYPESHIFT == 8 && _IOC_SIZESHIFT == 16 && _IOC_DIRSHIFT == 30 && _IOC_READ == 2 && _IOC_WRITE == 1);
static_assert(O_NONBLOCK == 04000 && O_CLOEXEC == 02000000);
static_assert(EOPNOTSUPP == kyvex::platform::linuxdev::kKernelEOPNOTSUPP &&
              ENOMEDIUM == kyvex::platform::linuxdev::kKernelENOMEDIUM);
#endif
