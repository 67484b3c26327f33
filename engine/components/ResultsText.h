#pragma once
#include "framework/CString.h"

// One line of the COM tester's clipboard text: the six cells joined by commas
// and ended by CR LF. A cell holding a comma, a double quote or a line break
// is written in double quotes with its quotes doubled, so that it stays one
// field; every other cell is written as it stands.
CString FormatResultsLine(const CString (&cells)[6]);
// One cell as a field of such a line: quoted as above when it needs it.
CString CsvField(const CString& strCell);
