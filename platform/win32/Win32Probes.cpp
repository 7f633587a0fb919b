// The two virtual-machine probes execute their instructions for real. Outside a VMware or
// Virtual PC guest the processor faults (privileged instruction for the port read, illegal
// instruction for 0F 3F); a vectored exception handler, registered only for the duration of
// the probe, moves the instruction pointer past the faulting instruction and the probe
// answers false. GCC has no structured exception blocks, hence the handler.
#include "platform/win32/WinApi.h"

#include "platform/win32/Win32Platform.h"

extern "C" {
void kyvex_vmware_probe(kyvex::platform::X86Registers* regs);
void kyvex_vpc_probe(kyvex::platform::X86Registers* regs);
extern const char kyvex_vmware_probe_fault_ip[], kyvex_vmware_probe_resume[];
extern const char kyvex_vpc_probe_fault_ip[], kyvex_vpc_probe_resume[];
}

#if defined(__x86_64__)
// Microsoft x64 convention: the record's address arrives in RCX; R8 holds it because the
// instruction may change the four registers, and RBX is saved for the caller.
#define KYVEX_PROBE_ASM(name, instruction)                \
  "  .text\n"                                              \
  "  .globl " #name "\n"                                   \
  #name ":\n"                                              \
  "  push %rbx\n"                                          \
  "  mov %rcx, %r8\n"                                      \
  "  mov 0(%r8), %eax\n"                                   \
  "  mov 4(%r8), %ebx\n"                                   \
  "  mov 8(%r8), %ecx\n"                                   \
  "  mov 12(%r8), %edx\n"                                  \
  "  .globl " #name "_fault_ip\n"                          \
  #name "_fault_ip:\n"                                     \
  "  " instruction "\n"                                    \
  "  .globl " #name "_resume\n"                            \
  #name "_resume:\n"                                       \
  "  mov %eax, 0(%r8)\n"                                   \
  "  mov %ebx, 4(%r8)\n"                                   \
  "  mov %ecx, 8(%r8)\n"                                   \
  "  mov %edx, 12(%r8)\n"                                  \
  "  pop %rbx\n"                                           \
  "  ret\n"
asm(KYVEX_PROBE_ASM(kyvex_vmware_probe, "in %dx, %eax")
    KYVEX_PROBE_ASM(kyvex_vpc_probe, ".byte 0x0F, 0x3F, 0x07, 0x0B"));
#else
// cdecl: the record's address is at 12(%esp) after the two pushes; ESI holds it because the
// instruction may change the four registers. C names carry a leading underscore here.
#define KYVEX_PROBE_ASM(name, instruction)                \
  "  .text\n"                                              \
  "  .globl _" #name "\n"                                  \
  "_" #name ":\n"                                          \
  "  push %ebx\n"                                          \
  "  push %esi\n"                                          \
  "  mov 12(%esp), %esi\n"                                 \
  "  mov 0(%esi), %eax\n"                                  \
  "  mov 4(%esi), %ebx\n"                                  \
  "  mov 8(%esi), %ecx\n"                                  \
  "  mov 12(%esi), %edx\n"                                 \
  "  .globl _" #name "_fault_ip\n"                         \
  "_" #name "_fault_ip:\n"                                 \
  "  " instruction "\n"                                    \
  "  .globl _" #name "_resume\n"                           \
  "_" #name "_resume:\n"                                   \
  "  mov %eax, 0(%esi)\n"                                  \
  "  mov %ebx, 4(%esi)\n"                                  \
  "  mov %ecx, 8(%esi)\n"                                  \
  "  mov %edx, 12(%esi)\n"                                 \
  "  pop %esi\n"                                           \
  "  pop %ebx\n"                                           \
  "  ret\n"
asm(KYVEX_PROBE_ASM(kyvex_vmware_probe, "in %dx, %eax")
    KYVEX_PROBE_ASM(kyvex_vpc_probe, ".byte 0x0F, 0x3F, 0x07, 0x0B"));
#endif

namespace kyvex::platform {
namespace {

volatile LONG g_faulted = 0;
const char* g_faultIp = nullptr;
const char* g_resumeIp = nullptr;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  CONTEXT* ctx = info->ContextRecord;
#if defined(__x86_64__)
  auto& ip = ctx->Rip;
#else
  auto& ip = ctx->Eip;
#endif
  if (reinterpret_cast<const char*>(ip) != g_faultIp) return EXCEPTION_CONTINUE_SEARCH;
  g_faulted = 1;
  ip = reinterpret_cast<std::uintptr_t>(g_resumeIp);
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool RunGuarded(void (*probe)(X86Registers*), const char* faultIp, const char* resumeIp,
                X86Registers& regs) {
  g_faulted = 0;
  g_faultIp = faultIp;
  g_resumeIp = resumeIp;
  PVOID handler = AddVectoredExceptionHandler(1, OnException);
  if (!handler) return false;  // without a guard the instruction must not run
  X86Registers work = regs;
  probe(&work);
  RemoveVectoredExceptionHandler(handler);
  if (g_faulted) return false;
  regs = work;
  return true;
}

}  // namespace

bool Win32Platform::ProbeVMwarePort(X86Registers& regs) {
  return RunGuarded(kyvex_vmware_probe, kyvex_vmware_probe_fault_ip, kyvex_vmware_probe_resume, regs);
}

bool Win32Platform::ProbeVirtualPCCall(X86Registers& regs) {
  return RunGuarded(kyvex_vpc_probe, kyvex_vpc_probe_fault_ip, kyvex_vpc_probe_resume, regs);
}

}  // namespace kyvex::platform
