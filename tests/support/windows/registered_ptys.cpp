// Under Wine the ports are Wine's own COM ports: nothing to register, the pairs come from
// the host (see test_support.cpp here).
#include "support/registered_ptys.h"

namespace testsupport {

RegisteredPtys::RegisteredPtys(int count) {
    for (int i = 0; i < count; ++i) {
        ptys_.push_back(std::make_unique<PtyPair>());
        numbers_.push_back(ptys_.back()->portNumber());
    }
}

}  // namespace testsupport
