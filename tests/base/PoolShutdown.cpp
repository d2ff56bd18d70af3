// The tests of this binary share theBaseApp's pool. Its worker may still be
// letting go of a finished job after the job's done message, so it is
// joined before the process's own objects go, as a host's session does at
// its end.
#include <gtest/gtest.h>

#include "base/ULVbase.h"

namespace {

class PoolShutdown : public ::testing::Environment {
public:
    void TearDown() override { theBaseApp.shutdown(); }
};

const ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new PoolShutdown);

}  // namespace
