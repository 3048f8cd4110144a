// Settings saves killed at each of their system calls: a child process saves a new tree over an
// old settings file while this process traces it, and kills it with SIGKILL when it is about to
// make its n-th system call, for every n the save makes. Each time the file must hold the old
// tree or the new one, whole; the save's temporary files may be left behind. Exit status 0 when
// every kill left old or new, 1 otherwise, 2 when the save cannot be traced here.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "zt/zt_settings.h"
#include "zthost/settings_store.h"

namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kName = L"Kill";

CZtLiteVariantW Tree(std::int32_t mark, std::size_t padding) {
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", 8);
    tree.OpenLevel(L"CZtStimulationDeviceVerove_0");
    tree.AddInt(L"Mark", mark);
    tree.AddString(L"Padding", std::wstring(padding, L'p').c_str());
    tree.Finalize();
    return tree;
}

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* SyscallName(long number) {
    static const std::map<long, const char*> names = {
        {SYS_openat, "openat"},
        {SYS_read, "read"},
        {SYS_write, "write"},
        {SYS_close, "close"},
        {SYS_fsync, "fsync"},
        {SYS_fdatasync, "fdatasync"},
        {SYS_renameat2, "renameat2"},
        {SYS_newfstatat, "newfstatat"},
        {SYS_statx, "statx"},
        {SYS_unlinkat, "unlinkat"},
        {SYS_lseek, "lseek"},
        {SYS_fstat, "fstat"},
        {SYS_getrandom, "getrandom"},
        {SYS_fchmod, "fchmod"},
        {SYS_linkat, "linkat"},
        {SYS_mkdirat, "mkdirat"},
        {SYS_futex, "futex"},
        {SYS_mmap, "mmap"},
        {SYS_munmap, "munmap"},
        {SYS_brk, "brk"},
        {SYS_getpid, "getpid"},
        {SYS_ftruncate, "ftruncate"},
        {SYS_fcntl, "fcntl"},
        {SYS_ioctl, "ioctl"},
        {SYS_exit_group, "exit_group"},
        {SYS_pread64, "pread64"},
        {SYS_readlinkat, "readlinkat"},
        {SYS_fadvise64, "fadvise64"},
#ifdef SYS_rename
        {SYS_rename, "rename"},
        {SYS_open, "open"},
        {SYS_stat, "stat"},
        {SYS_lstat, "lstat"},
        {SYS_unlink, "unlink"},
        {SYS_access, "access"},
#endif
    };
    const auto it = names.find(number);
    return it == names.end() ? "?" : it->second;
}

// The child: stops for the tracer, saves the new tree, ends without running exit handlers.
[[noreturn]] void SaveTraced(const CZtLiteVariantW& tree) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
        _exit(3);
    }
    raise(SIGSTOP);
    _exit(ZT_SaveSettingsFile(kName, tree) == 0 ? 0 : 4);
}

struct SRun {
    bool traced = false;
    int calls = 0;        // system calls entered before the kill, or in all
    long killedAt = -1;   // the system call the child was about to make
    bool exited = false;  // ran to its end
};

// Runs a traced save; kills it at the entry of system call killAt (1-based; 0: never).
SRun Run(const CZtLiteVariantW& tree, int killAt) {
    SRun run;
    const pid_t child = fork();
    if (child == 0) {
        SaveTraced(tree);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
        return run;
    }
    ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    run.traced = true;
    bool entering = true;
    for (;;) {
        if (ptrace(PTRACE_SYSCALL, child, nullptr, nullptr) != 0 ||
            waitpid(child, &status, 0) != child) {
            break;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            run.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            return run;
        }
        if (!WIFSTOPPED(status) || WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            continue;
        }
        if (entering && ++run.calls == killAt) {
            __ptrace_syscall_info info{};
            if (ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info) > 0) {
                run.killedAt = static_cast<long>(info.entry.nr);
            }
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return run;
        }
        entering = !entering;
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return run;
}

// Leaves the folder holding only the old file, as it was before the save.
void Restore(const fs::path& folder, const std::string& oldBytes) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        fs::remove(entry.path());
    }
    std::ofstream(folder / "Kill.bin", std::ios::binary) << oldBytes;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/verove-settings-kill-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("settings kill check: mkdtemp");
        return 2;
    }
    const fs::path folder = pattern;
    zthost::SetSettingsLocation(folder.wstring());

    const CZtLiteVariantW newTree = Tree(2, 30000);
    if (ZT_SaveSettingsFile(kName, newTree) != 0) {
        std::fprintf(stderr, "settings kill check: the save fails untraced\n");
        return 2;
    }
    const std::string newBytes = Bytes(folder / "Kill.bin");
    if (ZT_SaveSettingsFile(kName, Tree(1, 20000)) != 0) {
        return 2;
    }
    const std::string oldBytes = Bytes(folder / "Kill.bin");

    Restore(folder, oldBytes);
    const SRun whole = Run(newTree, 0);
    if (!whole.traced || !whole.exited || Bytes(folder / "Kill.bin") != newBytes) {
        std::fprintf(stderr, "settings kill check: cannot trace a save here\n");
        fs::remove_all(folder);
        return 2;
    }
    std::printf("settings kill check: a save makes %d system calls\n", whole.calls);

    int torn = 0, oldKept = 0, newWritten = 0, leftovers = 0;
    for (int n = 1; n <= whole.calls; ++n) {
        Restore(folder, oldBytes);
        const SRun run = Run(newTree, n);
        const std::string bytes = Bytes(folder / "Kill.bin");
        CZtLiteVariantW loaded;
        const bool reads = ZT_LoadSettingsFile(kName, &loaded) == 0;
        const char* found = !reads              ? "UNREADABLE"
                            : bytes == oldBytes ? "old"
                            : bytes == newBytes ? "new"
                                                : "TORN";
        int others = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            others += entry.path().filename() != "Kill.bin";
        }
        std::printf("  killed before call %3d (%-10s): %s%s\n", n, SyscallName(run.killedAt), found,
                    others ? ", a temporary file left" : "");
        torn += found[0] < 'a';
        oldKept += bytes == oldBytes;
        newWritten += bytes == newBytes;
        leftovers += others > 0;
    }
    fs::remove_all(folder);
    std::printf(
        "settings kill check: %d kills, %d kept the old file, %d found the new one, %d "
        "left a temporary file, %d left neither\n",
        whole.calls, oldKept, newWritten, leftovers, torn);
    return torn == 0 ? 0 : 1;
}
