#pragma once
#include "engine/components/ComponentItem.h"

// How two records compare in one of the list's six columns: texts ignoring
// case, the version by its words. Negative, zero or positive.
int CompareRecords(const ComponentItem& a, const ComponentItem& b, int nColumn);
