#pragma once
#include "comtester/ComponentItem.h"

class CImportResolver;

// The one-line verdict the report's problems section gives a verified row
// that is not present or whose ProgID is not registered: the verdict of the
// row's diagnosis, as the COM tester's details show it.
CString RowVerdict(const ComponentItem& item, const CImportResolver& resolver);
