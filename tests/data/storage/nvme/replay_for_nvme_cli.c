// Lets nvme-cli read the recorded pages of this folder, so that its reading can check ours:
// loaded with LD_PRELOAD, it makes /dev/nvme9n1 a device that answers Identify Controller,
// Identify Namespace 1 and the health log from the files ($NVME_PAGES names the folder,
// $NVME_LOG another log file). The *.nvme-cli.json files were written with
//   gcc -shared -fPIC -o replay.so replay_for_nvme_cli.c -ldl
//   NVME_PAGES=$PWD LD_PRELOAD=./replay.so nvme smart-log /dev/nvme9n1 -o json
// (and id-ctrl, id-ns -n 1; NVME_LOG=pm981-worn.smart-log.bin for the worn disk's log), with
// nvme-cli 2.3. Nothing in the build uses it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <stdint.h>
#include <errno.h>
static int fake_fd = -1;
static const char* dir() { const char* d = getenv("NVME_PAGES"); return d ? d : "."; }
static int load(const char* name, void* buf, unsigned len) {
  char p[512]; snprintf(p, sizeof p, "%s/%s", dir(), name);
  FILE* f = fopen(p, "rb"); if (!f) return -1;
  memset(buf, 0, len); fread(buf, 1, len, f); fclose(f); return 0;
}
static int is_fake(const char* path) { return path && strcmp(path, "/dev/nvme9n1") == 0; }
int open(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...) = 0; if (!real) real = dlsym(RTLD_NEXT, "open");
  va_list ap; va_start(ap, flags); int mode = va_arg(ap, int); va_end(ap);
  if (is_fake(path)) { fake_fd = real("/dev/null", O_RDONLY); return fake_fd; }
  return real(path, flags, mode);
}
int open64(const char* path, int flags, ...) {
  va_list ap; va_start(ap, flags); int mode = va_arg(ap, int); va_end(ap);
  return open(path, flags, mode);
}
int fstat(int fd, struct stat* st) {
  static int (*real)(int, struct stat*) = 0; if (!real) real = dlsym(RTLD_NEXT, "fstat");
  int r = real(fd, st);
  if (fd == fake_fd && r == 0) { st->st_mode = S_IFBLK | 0660; st->st_rdev = makedev(259, 0); }
  return r;
}
int fstat64(int fd, struct stat64* st) {
  static int (*real)(int, struct stat64*) = 0; if (!real) real = dlsym(RTLD_NEXT, "fstat64");
  int r = real(fd, st);
  if (fd == fake_fd && r == 0) { st->st_mode = S_IFBLK | 0660; st->st_rdev = makedev(259, 0); }
  return r;
}
int stat(const char* path, struct stat* st) {
  static int (*real)(const char*, struct stat*) = 0; if (!real) real = dlsym(RTLD_NEXT, "stat");
  if (is_fake(path)) { int r = real("/dev/null", st); st->st_mode = S_IFBLK | 0660; return r; }
  return real(path, st);
}
int ioctl(int fd, unsigned long req, ...) {
  static int (*real)(int, unsigned long, ...) = 0; if (!real) real = dlsym(RTLD_NEXT, "ioctl");
  va_list ap; va_start(ap, req); void* arg = va_arg(ap, void*); va_end(ap);
  if (fd != fake_fd) return real(fd, req, arg);
  if (req == NVME_IOCTL_ID) return 1;
  if (req == NVME_IOCTL_ADMIN_CMD || req == NVME_IOCTL_ADMIN64_CMD) {
    struct nvme_passthru_cmd* c = (struct nvme_passthru_cmd*)arg;
    void* buf = (void*)(uintptr_t)c->addr;
    if (c->opcode == 0x06 && (c->cdw10 & 0xff) == 1) return load("pm981.id-ctrl.bin", buf, c->data_len);
    if (c->opcode == 0x06 && (c->cdw10 & 0xff) == 0) return load("pm981.id-ns.bin", buf, c->data_len);
    if (c->opcode == 0x02 && (c->cdw10 & 0xff) == 2) return load(getenv("NVME_LOG") ? getenv("NVME_LOG") : "pm981.smart-log.bin", buf, c->data_len);
    return 0x4002;
  }
  errno = ENOTTY; return -1;
}
int stat64(const char* path, struct stat64* st) {
  static int (*real)(const char*, struct stat64*) = 0; if (!real) real = dlsym(RTLD_NEXT, "stat64");
  if (is_fake(path)) { int r = real("/dev/null", st); st->st_mode = S_IFBLK | 0660; st->st_rdev = makedev(259, 0); return r; }
  return real(path, st);
}
int __open64_2(const char* path, int flags) { return open(path, flags, 0); }
int __open_2(const char* path, int flags) { return open(path, flags, 0); }
