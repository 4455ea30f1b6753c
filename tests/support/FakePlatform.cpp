#include "support/FakePlatform.h"

namespace ofs::test {

bool FakePlatform::IsNtPlatform() { return isNt; }

bool FakePlatform::EnsureSingleInstance(const std::string& title) {
  ++singleInstanceRequests;
  lastTitle = title;
  return singleInstance;
}

void FakePlatform::RestartSystem() { ++restartRequests; }

}  // namespace ofs::test
