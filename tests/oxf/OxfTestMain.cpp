#include "TestSlave.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/prctl.h>

int main(int argc, char** argv) {
    if (argc >= 1 && strncmp(argv[0], "--master-link=", 14) == 0) return runTestSlave(argc, argv);
    // Slaves whose master dies are re-parented to this process, so that tests can reap them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
