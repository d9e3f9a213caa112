// main() of every test program: runs a registered child function when started
// as a child process, the tests otherwise.
#include <gmock/gmock.h>
#include <shlobj.h>

#include <string>

#include "support/support.h"

int main(int argc, char** argv) {
    // The company folder under the application-data folder, as the program
    // makes it at start: test programs that link the program's resources keep
    // their events file there.
    char folder[MAX_PATH] = {};
    if (::SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE))
        ::CreateDirectoryA((std::string(folder) + "\\Korvel").c_str(), nullptr);

    bool isChild = false;
    int code = testsupport::ChildMain::runIfChild(argc, argv, isChild);
    if (isChild) return code;
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
