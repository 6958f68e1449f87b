#pragma once
#include <cstdint>

namespace kestrane::os {

using ModuleHandle = void*;
using SensorEntryPoint = int32_t (*)(void* record);

// Loads a library by bare file name: the program's own folder first, then the system's search.
// Returns null when it cannot be loaded.
ModuleHandle LoadModule(const char* fileName);

// Looks an entry point up by name; null when absent.
void* FindEntry(ModuleHandle module, const char* name);

void ReleaseModule(ModuleHandle module);

// Calls a sensor library's entry point. A processor fault inside the call (bad access, arithmetic
// fault, illegal instruction, stack overflow) comes back as an EAccessViolation or
// EExternalException thrown from here; C++ exceptions pass through unchanged. Signal handlers and
// the alternate signal stack are restored after every call.
int32_t CallSensorEntry(SensorEntryPoint entry, void* record);

}  // namespace kestrane::os
