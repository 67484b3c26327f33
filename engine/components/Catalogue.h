#pragma once
// The COM server files the authoring tool relies on, as a constant table.
// Plain C++ with no dependency on the framework: the sample servers use it too,
// to find the ProgID that belongs to the file name they are installed under.

// Where a catalogue file is looked for.
enum ComponentKind {
    KIND_TOOL_SYSTEM = 0,      // anywhere in the tool's System folder tree
    KIND_WINDOWS_SYSTEM = 1,   // the Windows system directory
    KIND_COMMON_FILES = 2,     // the common files tree, else the tool's System folder
};

struct CatalogueEntry {
    const char* pszFileName;
    const char* pszProgID;     // empty for servers that register no ProgID
    int nKind;
};

extern const CatalogueEntry g_catalogue[];
extern const int g_nCatalogueEntries;

// The entry whose file name matches, ignoring case; null when there is none.
const CatalogueEntry* FindCatalogueEntry(const char* pszFileName);
