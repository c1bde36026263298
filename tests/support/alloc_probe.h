// Asks the sanitizer's allocator whether an address is the start of a block
// that is still allocated, so that tests can see when the library frees a
// record or a buffer. Tests run under AddressSanitizer; in a build without
// it the probe is unavailable and the tests that need it skip.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define ZOR_TEST_HAS_ALLOC_PROBE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOR_TEST_HAS_ALLOC_PROBE 1
#endif
#endif

#if defined(ZOR_TEST_HAS_ALLOC_PROBE)
extern "C" int __sanitizer_get_ownership(const volatile void* p);
#endif

namespace zortest {

constexpr bool kHasAllocProbe =
#if defined(ZOR_TEST_HAS_ALLOC_PROBE)
    true;
#else
    false;
#endif

// True while p is a live block of the process allocator. Freed blocks stay
// in the sanitizer's quarantine, so a freed address does not come back as a
// new block during a test.
inline bool IsLiveBlock(const void* p) {
#if defined(ZOR_TEST_HAS_ALLOC_PROBE)
  return __sanitizer_get_ownership(p) != 0;
#else
  (void)p;
  return false;
#endif
}

}  // namespace zortest

#define ZOR_REQUIRE_ALLOC_PROBE() \
  do {                            \
    if (!zortest::kHasAllocProbe) GTEST_SKIP() << "needs AddressSanitizer"; \
  } while (0)
