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
extern const char kyvex_vmware_fault_ip[], kyvex_vmware_resume[];
extern const char kyvex_vpc_fault_ip[], kyvex_vpc_resume[];
}

// cdecl: the record's address is at 12(%esp) after the two pushes; esi holds it because the
// instruction may change the four registers.
asm(R"(
  .text
  .globl _kyvex_vmware_probe
_kyvex_vmware_probe:
  push %ebx
  push %esi
  mov 12(%esp), %esi
  mov 0(%esi), %eax
  mov 4(%esi), %ebx
  mov 8(%esi), %ecx
  mov 12(%esi), %edx
  .globl _kyvex_vmware_fault_ip
_kyvex_vmware_fault_ip:
  in %dx, %eax
  .globl _kyvex_vmware_resume
_kyvex_vmware_resume:
  mov %eax, 0(%esi)
  mov %ebx, 4(%esi)
  mov %ecx, 8(%esi)
  mov %edx, 12(%esi)
  pop %esi
  pop %ebx
  ret

  .globl _kyvex_vpc_probe
_kyvex_vpc_probe:
  push %ebx
  push %esi
  mov 12(%esp), %esi
  mov 0(%esi), %eax
  mov 4(%esi), %ebx
  mov 8(%esi), %ecx
  mov 12(%esi), %edx
  .globl _kyvex_vpc_fault_ip
_kyvex_vpc_fault_ip:
  .byte 0x0F, 0x3F, 0x07, 0x0B
  .globl _kyvex_vpc_resume
_kyvex_vpc_resume:
  mov %eax, 0(%esi)
  mov %ebx, 4(%esi)
  mov %ecx, 8(%esi)
  mov %edx, 12(%esi)
  pop %esi
  pop %ebx
  ret
)");

namespace kyvex::platform {
namespace {

volatile LONG g_faulted = 0;
const char* g_faultIp = nullptr;
const char* g_resumeIp = nullptr;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  CONTEXT* ctx = info->ContextRecord;
  if (reinterpret_cast<const char*>(ctx->Eip) != g_faultIp) return EXCEPTION_CONTINUE_SEARCH;
  g_faulted = 1;
  ctx->Eip = reinterpret_cast<DWORD>(g_resumeIp);
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
  return RunGuarded(kyvex_vmware_probe, kyvex_vmware_fault_ip, kyvex_vmware_resume, regs);
}

bool Win32Platform::ProbeVirtualPCCall(X86Registers& regs) {
  return RunGuarded(kyvex_vpc_probe, kyvex_vpc_fault_ip, kyvex_vpc_resume, regs);
}

}  // namespace kyvex::platform
