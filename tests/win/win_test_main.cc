// The Windows tests' entry point: the main thread is a single-threaded COM apartment, as every
// connection thread of the server is.
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return result;
}
