#pragma once
#include "comtester/ComponentItem.h"

// The one-line verdict the report's problems section gives a verified row
// that is not present or whose ProgID is not registered. For now the plain
// reason: "not present", "not registered", or both.
CString RowVerdict(const ComponentItem& item);
