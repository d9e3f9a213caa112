// main() of every test program: runs a registered child function when started
// as a child process, the tests otherwise.
#include <gmock/gmock.h>

#include "support/support.h"

int main(int argc, char** argv) {
    bool isChild = false;
    int code = testsupport::ChildMain::runIfChild(argc, argv, isChild);
    if (isChild) return code;
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
