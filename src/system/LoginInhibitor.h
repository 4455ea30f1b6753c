#pragma once
// Holds the login manager's block lock (see InhibitRequest.h) on the system bus
// for as long as it lives, for the front end without Qt. Without a login manager
// or a bus it holds nothing, says so once on `notices`, and the caller goes on.
#include <cstdio>

namespace ofs {

class LoginInhibitor {
 public:
  LoginInhibitor(const char* program, std::FILE* notices);
  // The lock is the file descriptor: closing it releases the lock.
  ~LoginInhibitor();
  LoginInhibitor(const LoginInhibitor&) = delete;
  LoginInhibitor& operator=(const LoginInhibitor&) = delete;

  bool Held() const { return lock_ >= 0; }

 private:
  int lock_ = -1;
};

}  // namespace ofs
