// Whether this build runs under AddressSanitizer, whose shadow memory and bookkeeping
// make memory figures meaningless and address-space limits unworkable.
#pragma once

inline bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}
