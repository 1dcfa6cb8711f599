// The version query and process snapshot of the Windows kernel, as far as
// this tool uses them, answered from uname(2) and /proc.
#ifndef TARNWICK_LINUX_TOOLHELP_H
#define TARNWICK_LINUX_TOOLHELP_H

#include <cstddef>
#include <cstdint>

typedef std::uint32_t DWORD;
typedef int BOOL;
typedef char CHAR;
typedef void* HANDLE;

constexpr std::size_t MAX_PATH = 260;
constexpr DWORD TH32CS_SNAPPROCESS = 2;
// Reported as dwPlatformId: not one of Windows' ids, and not the NT family.
constexpr DWORD VER_PLATFORM_LINUX = 4;

inline HANDLE const INVALID_HANDLE_VALUE =
    reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;  // set by the caller to sizeof(OSVERSIONINFOA)
    DWORD dwMajorVersion;       // the kernel release, e.g. 6 and 1 for 6.1.0
    DWORD dwMinorVersion;
    DWORD dwPlatformId;
};

struct PROCESSENTRY32 {
    DWORD dwSize;  // set by the caller to sizeof(PROCESSENTRY32)
    DWORD th32ProcessID;
    DWORD th32ParentProcessID;
    CHAR szExeFile[MAX_PATH];  // base name, cut to MAX_PATH - 1 characters
};

// Nonzero on success; fails when dwOSVersionInfoSize is not the record's size.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// A fixed list of the processes present now, parents before their children,
// or INVALID_HANDLE_VALUE. Only TH32CS_SNAPPROCESS is supported; the process
// id argument is ignored, as Windows does for process snapshots.
HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);

// The same, read from a /proc tree mounted at proc_root by fils threads, or
// by as many as pay for themselves on this machine when fils is 0.
HANDLE snapshot_processes(const char* proc_root, unsigned fils = 0);

// Fill pe with the first or next process of the list; zero when there is none
// left or pe->dwSize is not the record's size.
BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* pe);
BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* pe);

BOOL CloseHandle(HANDLE hObject);

#endif
