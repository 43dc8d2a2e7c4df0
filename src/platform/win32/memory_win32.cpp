// Win32: how much memory the process can still obtain.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"

namespace vek::plat {

std::uint64_t memory_available() {
  // Memory is committed when it is allocated: what the commit limit still
  // allows, and no more than the process's free address space.
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
  return std::min<std::uint64_t>(status.ullAvailPageFile, status.ullAvailVirtual);
}

}  // namespace vek::plat
