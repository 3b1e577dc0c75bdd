// Pseudo-terminals registered as COM0: to COM<count - 1>: in a private registry file, with
// empty discovery roots so that none of the host's serial devices is seen. Under Wine, which
// has no COM0, they are the COM ports of the pairs the host made.
#pragma once

#include <memory>
#include <vector>

#include "support/test_support.h"

namespace testsupport {

class RegisteredPtys {
  public:
    explicit RegisteredPtys(int count);
    RegisteredPtys(const RegisteredPtys&) = delete;
    RegisteredPtys& operator=(const RegisteredPtys&) = delete;
    PtyPair& pty(int index) { return *ptys_[static_cast<size_t>(index)]; }
    // The COM port number of pty(index).
    int number(int index) const { return numbers_[static_cast<size_t>(index)]; }

  private:
    TempDir dir_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
    std::vector<std::unique_ptr<PtyPair>> ptys_;
    std::vector<int> numbers_;
};

}  // namespace testsupport
