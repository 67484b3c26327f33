#pragma once
// What a module file says about itself, read from the file's bytes on disk:
// its processor, exports, imports and version resource. The file is read as
// data, never mapped for execution, and every offset and count in it is
// checked against its size, so a damaged or hostile file gives "not a
// Windows module" or the part that could be read.
#include "framework/CString.h"
#include <string>
#include <vector>

struct PeFileInfo {
    DWORD dwReadError = 0;           // why the file could not be read; 0 when it was
    bool bFolder = false;            // the path names a folder
    bool bModule = false;            // DOS and PE headers that hold together
    WORD wMachine = 0;               // IMAGE_FILE_MACHINE_*
    bool bDll = false;
    bool bExportsDamaged = false;    // the export table leaves the file
    bool bImportsDamaged = false;    // the import table leaves the file
    std::vector<std::string> exports;   // exported names, in table order
    std::vector<std::string> imports;   // DLLs imported directly, each once
    bool bHasVersion = false;
    DWORD dwVersionMS = 0;
    DWORD dwVersionLS = 0;
    bool bOleSelfRegister = false;   // the version resource carries "OLESelfRegister"

    bool Exports(const char* pszName) const;
};

// Reads the file (up to a limit far above any module) and parses it.
PeFileInfo ReadPeFile(const CString& strPath);
// Parses bytes already in memory; never reads outside them.
PeFileInfo ParsePeImage(const BYTE* pData, size_t nSize);

// The registry view a module of this file's machine registers in: 64 for
// x64 and ARM64, 32 for x86; 0 when it is no module of either.
int ModuleViewBits(const PeFileInfo& file);
