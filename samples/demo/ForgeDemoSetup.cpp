// ForgeDemoSetup.exe /install ROOT | /remove ROOT: prepares or removes the
// demo installation under ROOT, using the sample servers and projects that
// were built beside this program. A console program: it reports on stderr
// and ends with 0 on success.
#include "DemoInstallation.h"
#include <cstdio>

namespace {
std::string OwnFolder()
{
    char szPath[MAX_PATH] = "";
    const DWORD n = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ".";
    std::string strPath(szPath, n);
    return strPath.substr(0, strPath.find_last_of('\\'));
}
}

int main(int argc, char** argv)
{
    if (argc != 3 || (lstrcmpiA(argv[1], "/install") != 0 && lstrcmpiA(argv[1], "/remove") != 0)) {
        fprintf(stderr, "usage: ForgeDemoSetup /install ROOT | /remove ROOT\n");
        return 2;
    }
    const bool bInstall = lstrcmpiA(argv[1], "/install") == 0;
    CDemoInstallation demo(argv[2], OwnFolder());
    std::string strError;
    if (!(bInstall ? demo.Prepare(strError) : demo.Remove(strError))) {
        fprintf(stderr, "ForgeDemoSetup: %s\n", strError.c_str());
        return 1;
    }
    if (bInstall) printf("Demo installation ready in %s\n", demo.InstallFolder().c_str());
    return 0;
}
