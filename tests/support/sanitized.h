#pragma once

// Whether this build runs under AddressSanitizer: its processor time says
// nothing about the program's own, so checks of it are left out there.

namespace tarnwick::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

} // namespace tarnwick::test
