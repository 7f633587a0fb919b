// <windows.h> without the A/W name macros that collide with the platform layer's method
// names (GetVersionEx, RegQueryValue, ...). Include this instead of <windows.h> in any file
// that also uses the platform layer.
#pragma once

#include <windows.h>
#include <winver.h>

#undef GetVersionEx
#undef RegQueryValue
#undef GetComputerName
#undef GetUserName
#undef GetModuleHandle
#undef LoadLibrary
#undef GetModuleFileName
#undef GetFileVersionInfoSize
#undef GetFileVersionInfo
#undef CreateFile
#undef GetTempPath
#undef CreateProcess
#undef GetEnvironmentVariable
#undef CopyFile
#undef DeleteFile
#undef CreateDirectory
#undef RemoveDirectory
#undef GetDriveType
#undef GetLogicalDriveStrings
// winnt.h of 64-bit Windows names the intrinsic this way too.
#undef ReadTimeStampCounter
