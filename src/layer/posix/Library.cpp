#include "layer/Library.hpp"

#include <dlfcn.h>
#include <signal.h>
#include <setjmp.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "layer/Exceptions.hpp"

namespace kestrane::os {

namespace {

std::string ProgramFolder()
{
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0)
        return {};
    path.resize(static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

}  // namespace

ModuleHandle LoadModule(const char* fileName)
{
    if (std::strchr(fileName, '/') == nullptr) {
        // Without a known folder of our own, "/" + name would load from the root folder.
        const std::string folder = ProgramFolder();
        const std::string local = folder + "/" + fileName;
        if (!folder.empty() && access(local.c_str(), F_OK) == 0)
            return dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* FindEntry(ModuleHandle module, const char* name)
{
    return module ? dlsym(module, name) : nullptr;
}

void ReleaseModule(ModuleHandle module)
{
    if (module)
        dlclose(module);
}

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kAltStackSize = 64 * 1024;

struct Fault {
    int signal;
    int code;
    void* address;      // the address accessed, for a bad access
    void* instruction;  // where it happened
    bool write;
};

thread_local sigjmp_buf* t_recover = nullptr;
thread_local Fault t_fault;

void OnFault(int sig, siginfo_t* info, void* context)
{
    void* pc = nullptr;
    bool write = false;
#if defined(__x86_64__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    pc = reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RIP]);
    write = (uc->uc_mcontext.gregs[REG_ERR] & 2) != 0;
#else
    (void)context;
#endif
    if (!t_recover) {
        // Another thread's fault, not one of a guarded call: let it take the default course rather
        // than jump through a null buffer.
        signal(sig, SIG_DFL);
        return;
    }
    t_fault = {sig, info->si_code, info->si_addr, pc, write};
    siglongjmp(*t_recover, 1);
}

// Installs the fault handlers on an alternate stack for one call and puts back what was there.
class FaultGuard {
public:
    FaultGuard()
    {
        thread_local std::unique_ptr<unsigned char[]> altStack(new unsigned char[kAltStackSize]);
        stack_t ss{};
        ss.ss_sp = altStack.get();
        ss.ss_size = kAltStackSize;
        sigaltstack(&ss, &oldStack_);

        struct sigaction sa{};
        sa.sa_sigaction = OnFault;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(kFaultSignals); ++i)
            sigaction(kFaultSignals[i], &sa, &old_[i]);
    }
    ~FaultGuard()
    {
        for (std::size_t i = 0; i < std::size(kFaultSignals); ++i)
            sigaction(kFaultSignals[i], &old_[i], nullptr);
        sigaltstack(&oldStack_, nullptr);
    }
    FaultGuard(const FaultGuard&) = delete;
    FaultGuard& operator=(const FaultGuard&) = delete;

private:
    struct sigaction old_[std::size(kFaultSignals)];
    stack_t oldStack_{};
};

std::string ModuleOf(void* address)
{
    Dl_info info{};
    if (address && dladdr(address, &info) && info.dli_fname) {
        const char* slash = std::strrchr(info.dli_fname, '/');
        return slash ? slash + 1 : info.dli_fname;
    }
    return "?";
}

[[noreturn]] void ThrowFault(const Fault& f)
{
    char text[256];
    const std::string module = ModuleOf(f.instruction);
    if (f.signal == SIGSEGV || f.signal == SIGBUS) {
        std::snprintf(text, sizeof text, "Access violation at address %p in module '%s'. %s of address %p",
                      f.instruction, module.c_str(), f.write ? "Write" : "Read", f.address);
        throw EAccessViolation(text);
    }
    const char* what = f.signal == SIGFPE ? (f.code == FPE_INTDIV ? "Integer divide by zero" : "Arithmetic fault")
                                          : "Illegal instruction";
    std::snprintf(text, sizeof text, "%s at address %p in module '%s' (signal %d)", what, f.instruction,
                  module.c_str(), f.signal);
    throw EExternalException(text);
}

}  // namespace

int32_t CallSensorEntry(SensorEntryPoint entry, void* record)
{
    sigjmp_buf recover;
    sigjmp_buf* const outer = t_recover;
    volatile int32_t result = 0;
    volatile bool faulted = false;
    {
        FaultGuard guard;
        t_recover = &recover;
        if (sigsetjmp(recover, 1) == 0) {
            try {
                result = entry(record);
            } catch (...) {
                t_recover = outer;
                throw;
            }
        } else {
            faulted = true;
        }
        t_recover = outer;
    }
    if (faulted)
        ThrowFault(t_fault);
    return result;
}

}  // namespace kestrane::os
