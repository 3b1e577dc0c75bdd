// Linked into the test programs that show dialogs: registers the system window classes
// once before the first test, as the programs' entry does at start.
#include <gtest/gtest.h>

#include "platform/ui/dialogs.h"

namespace {

class WindowClasses : public ::testing::Environment {
  public:
    void SetUp() override { platform::StartWindowClasses(); }
};

[[maybe_unused]] ::testing::Environment* const windowClasses =
    ::testing::AddGlobalTestEnvironment(new WindowClasses);

}  // namespace
