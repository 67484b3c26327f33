#include "engine/components/ResultsText.h"

CString CsvField(const CString& strCell)
{
    if (strCell.Str().find_first_of(",\"\r\n") == std::string::npos) return strCell;
    CString strQuoted = "\"";
    for (char ch : strCell.Str()) {
        if (ch == '"') strQuoted += '"';
        strQuoted += ch;
    }
    strQuoted += '"';
    return strQuoted;
}

CString FormatResultsLine(const CString (&cells)[6])
{
    CString strLine;
    strLine.Format("%s,%s,%s,%s,%s,%s\r\n", CsvField(cells[0]).GetString(), CsvField(cells[1]).GetString(),
                   CsvField(cells[2]).GetString(), CsvField(cells[3]).GetString(),
                   CsvField(cells[4]).GetString(), CsvField(cells[5]).GetString());
    return strLine;
}
