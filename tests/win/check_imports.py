#!/usr/bin/python3
"""Every 32-bit program of the Windows build must load on Windows XP SP2 and Server 2003.

The loader of those systems refuses a program that imports a function their DLLs do not
export, or that asks for a newer subsystem version. This reads every .exe's import table and
header with objdump and checks them against the exports below.

The table holds the functions of those systems' DLLs that the suite's programs use (the DLLs
export many more). A function enters it only once it is known to exist in the DLL of XP SP2
and of Server 2003 (the first release of each); a new import that is not here fails the check
until someone has made sure of that.

Usage: check_imports.py OBJDUMP BUILD_DIR
"""
import os
import re
import subprocess
import sys

XP_SP2_EXPORTS = {
    "ADVAPI32.DLL": """
        GetLengthSid GetTokenInformation GetUserNameW IsValidSid OpenProcessToken OpenThreadToken
        RegCloseKey RegOpenKeyExW RegQueryValueExW
    """,
    "COMDLG32.DLL": "GetSaveFileNameW",
    "GDI32.DLL": """
        CreateFontW CreatePen CreateSolidBrush DeleteObject LineTo MoveToEx SelectObject SetBkColor
        SetBkMode SetTextColor
    """,
    "KERNEL32.DLL": """
        AddVectoredExceptionHandler CloseHandle CreateDirectoryW CreateEventA CreateEventW CreateFileA
        CreateFileW CreateHardLinkW CreateMutexW CreatePipe CreateProcessA CreateProcessW CreateSemaphoreA
        CreateThread DebugBreak DeleteCriticalSection DeleteFileW DeviceIoControl DuplicateHandle
        EnterCriticalSection FileTimeToSystemTime FindClose FindFirstFileW FindFirstVolumeW
        FindNextFileW FindNextVolumeW FindVolumeClose FlushFileBuffers FormatMessageA FreeLibrary
        GetCommandLineA GetComputerNameW GetCurrentProcess GetCurrentProcessId GetCurrentThread
        GetCurrentThreadId GetDiskFreeSpaceExW GetDriveTypeA GetEnvironmentVariableW GetExitCodeProcess
        GetFileAttributesExW GetFileAttributesW GetFileInformationByHandle GetFileSizeEx GetFileType
        GetFullPathNameW GetHandleInformation GetLastError GetLocalTime GetLogicalDriveStringsA
        GetModuleFileNameA GetModuleFileNameW GetModuleHandleA GetModuleHandleExW GetModuleHandleW
        GetProcAddress GetProcessAffinityMask GetProcessTimes GetStartupInfoA GetStartupInfoW
        GetStdHandle GetSystemDirectoryW GetSystemInfo GetSystemTimeAdjustment GetSystemTimeAsFileTime
        GetTempFileNameA GetTempPathA GetTempPathW GetThreadContext GetThreadPriority GetThreadTimes
        GetTickCount GetVersion GetVersionExW GetVolumeInformationW InitializeCriticalSection
        IsBadReadPtr IsDBCSLeadByteEx IsDebuggerPresent LeaveCriticalSection LoadLibraryA LoadLibraryW
        LocalFree MapViewOfFile MoveFileExW MultiByteToWideChar OpenProcess OpenThread
        OutputDebugStringA QueryPerformanceCounter QueryPerformanceFrequency RaiseException ReadFile
        ReleaseMutex ReleaseSemaphore RemoveDirectoryW RemoveVectoredExceptionHandler ResetEvent ResumeThread
        SetConsoleOutputCP SetEndOfFile SetErrorMode SetEvent SetFilePointer SetFilePointerEx
        SetLastError SetProcessAffinityMask SetSystemTime SetThreadAffinityMask SetThreadContext SetThreadPriority
        SetUnhandledExceptionFilter Sleep SuspendThread TerminateProcess TlsAlloc TlsGetValue TlsSetValue
        TryEnterCriticalSection UnmapViewOfFile VirtualProtect VirtualQuery WaitForMultipleObjects
        WaitForSingleObject WideCharToMultiByte WriteFile lstrcmpiA
    """,
    "MSVCRT.DLL": """
        __getmainargs __initenv __mb_cur_max __p__acmdln __p__commode __p__fmode __p__wcmdln
        __set_app_type __setusermatherr __wgetmainargs __winitenv _amsg_exit _beginthreadex _cexit
        _close _creat _dup _dup2 _endthreadex _errno _exit _fdopen _filelengthi64 _fileno _findclose
        _fstat64 _get_osfhandle _getcwd _getpid _initterm _iob _isatty _lock _lseeki64 _mkdir
        _nextafter _onexit _open _open_osfhandle _read _rmdir _set_error_mode _setjmp3 _setmode
        _stat _strdup _stricmp _telli64 _ultoa _unlink _unlock _wchdir _wchmod _wcsicmp _wfindfirst
        _wfindnext _wfopen _wfullpath _wgetcwd _wmkdir _wopen _write _wstat64 _wutime abort atof
        atoi calloc exit fclose fflush fgetpos fopen fprintf fputc fputs fputwc fread free fseek
        fsetpos ftell fwprintf fwrite getc getenv getwc isalnum iscntrl islower isspace isupper
        iswctype isxdigit localeconv localtime longjmp malloc memchr memcmp memcpy memmove memset
        printf putc putwc realloc remove setlocale setvbuf signal strchr strcmp strcoll strerror
        strftime strlen strncmp strrchr strstr strtol strtoul strxfrm time tolower toupper towlower
        towupper ungetc ungetwc vfprintf wcscat wcscmp wcscoll wcscpy wcsftime wcslen wcsstr
        wcstombs wcsxfrm
    """,
    "OLE32.DLL": """
        CoInitializeEx CoTaskMemFree CoUninitialize FmtIdToPropStgName PropVariantClear
        StgCreateDocfile StgOpenStorage
    """,
    "USER32.DLL": """
        AdjustWindowRectEx BeginPaint CreateWindowExW DefWindowProcW DispatchMessageW DrawTextW EndPaint
        EnumChildWindows FindWindowExW FindWindowW GetClassNameW GetDlgCtrlID GetMessageW GetWindowLongW
        GetWindowTextLengthW GetWindowTextW IsChild IsWindowVisible LoadCursorW MessageBoxW MoveWindow
        PostMessageW PostQuitMessage RegisterClassExW SendMessageW SetCursor SetWindowLongW
        SetWindowTextW ShowScrollBar ShowWindow TranslateMessage UpdateWindow
    """,
    "VERSION.DLL": "GetFileVersionInfoSizeW GetFileVersionInfoW VerQueryValueW",
}
EXPORTS = {dll: set(names.split()) for dll, names in XP_SP2_EXPORTS.items()}
# XP is Windows 5.1: a program that asks for a later subsystem does not start there.
HIGHEST_SUBSYSTEM = (5, 1)


def programs(build_dir):
    for root, dirs, files in os.walk(build_dir):
        dirs[:] = [d for d in dirs if d != "CMakeFiles" and not d.startswith("wineprefix")]
        for f in sorted(files):
            if f.lower().endswith(".exe"):
                yield os.path.join(root, f)


def read(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, timeout=120)
    if out.returncode != 0:
        sys.exit(f"{objdump} -p {exe} failed: {out.stderr.strip()}")
    imports, dll, header = [], None, {}
    for line in out.stdout.splitlines():
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            dll = m.group(1).upper()
            continue
        m = re.match(r"^\t[0-9a-f]+\t\s*\d+\s+(\S+)", line)
        if m and dll:
            imports.append((dll, m.group(1)))
            continue
        m = re.match(r"^(Major|Minor)(Subsystem)Version\s+(\d+)", line)
        if m:
            header[m.group(1)] = int(m.group(3))
        if line.startswith("The Function Table") or line.startswith("There is an export table"):
            dll = None
    return imports, (header.get("Major", 0), header.get("Minor", 0))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check_imports.py OBJDUMP BUILD_DIR")
    objdump, build_dir = sys.argv[1:]
    exes = list(programs(build_dir))
    if not exes:
        sys.exit(f"no programs found under {build_dir}")
    problems = []
    for exe in exes:
        imports, subsystem = read(objdump, exe)
        name = os.path.relpath(exe, build_dir)
        if not imports:
            problems.append(f"{name}: no imports read (is this a PE program?)")
        for dll, func in imports:
            if dll not in EXPORTS:
                problems.append(f"{name}: imports from {dll}, a DLL not checked for XP SP2 and Server 2003 ({func})")
            elif func not in EXPORTS[dll]:
                problems.append(f"{name}: imports {dll}!{func}, not exported there on XP SP2 / Server 2003")
        if subsystem > HIGHEST_SUBSYSTEM:
            problems.append(f"{name}: subsystem version {subsystem[0]}.{subsystem[1]} (XP runs up to 5.1)")
    if problems:
        sys.exit("\n".join(problems))
    print(f"ok: {len(exes)} programs import only what Windows XP SP2 and Server 2003 export")


main()
