#pragma once

// AddressSanitizer keeps freed memory in quarantine, pads every allocation and maps shadow
// memory for all of it, so resident memory figures of a sanitized build say nothing about
// the program's own use. Tests that bound memory check it in the normal build only.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool residentMemoryIsMeaningful = false;
#else
inline constexpr bool residentMemoryIsMeaningful = true;
#endif
