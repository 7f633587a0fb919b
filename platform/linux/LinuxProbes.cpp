// The two virtual-machine probes execute their instructions for real. Outside a VMware or
// Virtual PC guest the processor faults (a general-protection fault for the port read, an
// invalid-opcode fault for 0F 3F); a signal handler installed only for the duration of the
// probe moves the instruction pointer past the faulting instruction and the probe answers
// false. The previous handlers are restored afterwards, so nothing is left behind.
#include "platform/linux/LinuxPlatform.h"

#if defined(__x86_64__) && defined(__linux__)
#include <signal.h>
#include <ucontext.h>
#endif

#include <cstring>

#if defined(__x86_64__) && defined(__linux__)
extern "C" {
void kyvex_vmware_probe(kyvex::platform::X86Registers* regs);
void kyvex_vpc_probe(kyvex::platform::X86Registers* regs);
extern const char kyvex_vmware_fault_ip[], kyvex_vmware_resume[];
extern const char kyvex_vpc_fault_ip[], kyvex_vpc_resume[];
}

// Each probe loads the four registers from the record, executes the instruction and stores
// the registers back; r8 holds the record because the instruction may change the others.
asm(R"(
  .text
  .globl kyvex_vmware_probe
  .type kyvex_vmware_probe,@function
kyvex_vmware_probe:
  push %rbx
  mov %rdi, %r8
  mov 0(%r8), %eax
  mov 4(%r8), %ebx
  mov 8(%r8), %ecx
  mov 12(%r8), %edx
  .globl kyvex_vmware_fault_ip
kyvex_vmware_fault_ip:
  in %dx, %eax
  .globl kyvex_vmware_resume
kyvex_vmware_resume:
  mov %eax, 0(%r8)
  mov %ebx, 4(%r8)
  mov %ecx, 8(%r8)
  mov %edx, 12(%r8)
  pop %rbx
  ret
  .size kyvex_vmware_probe, .-kyvex_vmware_probe

  .globl kyvex_vpc_probe
  .type kyvex_vpc_probe,@function
kyvex_vpc_probe:
  push %rbx
  mov %rdi, %r8
  mov 0(%r8), %eax
  mov 4(%r8), %ebx
  mov 8(%r8), %ecx
  mov 12(%r8), %edx
  .globl kyvex_vpc_fault_ip
kyvex_vpc_fault_ip:
  .byte 0x0F, 0x3F, 0x07, 0x0B
  .globl kyvex_vpc_resume
kyvex_vpc_resume:
  mov %eax, 0(%r8)
  mov %ebx, 4(%r8)
  mov %ecx, 8(%r8)
  mov %edx, 12(%r8)
  pop %rbx
  ret
  .size kyvex_vpc_probe, .-kyvex_vpc_probe
)");

namespace kyvex::platform {
namespace {

volatile sig_atomic_t g_faulted = 0;
const char* g_faultIp = nullptr;
const char* g_resumeIp = nullptr;
struct sigaction g_previous[3];
constexpr int kSignals[3] = {SIGSEGV, SIGILL, SIGBUS};

void RestoreHandlers() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
}

void OnFault(int, siginfo_t*, void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
  auto& ip = uc->uc_mcontext.gregs[REG_RIP];
  if (reinterpret_cast<const char*>(ip) == g_faultIp) {
    g_faulted = 1;
    ip = reinterpret_cast<greg_t>(g_resumeIp);
    return;
  }
  // Not our instruction: put the previous handlers back and let the fault happen again
  // under them.
  RestoreHandlers();
}

bool RunGuarded(void (*probe)(X86Registers*), const char* faultIp, const char* resumeIp,
                X86Registers& regs) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = OnFault;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  g_faulted = 0;
  g_faultIp = faultIp;
  g_resumeIp = resumeIp;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &sa, &g_previous[i]);
  X86Registers work = regs;
  probe(&work);
  RestoreHandlers();
  if (g_faulted) return false;
  regs = work;
  return true;
}

}  // namespace

bool LinuxPlatform::ProbeVMwarePort(X86Registers& regs) {
  if (recorded_) return RecordedVMwarePort(regs);
  return RunGuarded(kyvex_vmware_probe, kyvex_vmware_fault_ip, kyvex_vmware_resume, regs);
}

bool LinuxPlatform::ProbeVirtualPCCall(X86Registers& regs) {
  if (recorded_) return RecordedVirtualPcCall(regs);
  return RunGuarded(kyvex_vpc_probe, kyvex_vpc_fault_ip, kyvex_vpc_resume, regs);
}

}  // namespace kyvex::platform

#else  // not x86-64 Linux: neither guest interface is probed (elsewhere only captures are shown)

namespace kyvex::platform {
bool LinuxPlatform::ProbeVMwarePort(X86Registers& regs) { return recorded_ && RecordedVMwarePort(regs); }
bool LinuxPlatform::ProbeVirtualPCCall(X86Registers& regs) { return recorded_ && RecordedVirtualPcCall(regs); }
}  // namespace kyvex::platform

#endif
