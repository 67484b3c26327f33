// Test programs run on a single-threaded COM apartment with the common
// controls ready, as the utility's own thread does.
#include <gtest/gtest.h>
#include <ole2.h>
#include <commctrl.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
