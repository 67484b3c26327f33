#pragma once
#include "report/Report.h"
#include <string>

enum class ReportFormat { Text, Csv, Json };

// The report as the bytes of its file. Text and csv are in the ANSI code page,
// as the clipboard's text is, and carry its summary and rows byte for byte;
// json is UTF-8 (schema 1, described in the README).
std::string FormatReport(const ReportContent& content, ReportFormat format);

// Text of the program's code page as a JSON string (quotes included), in UTF-8.
std::string JsonString(const CString& strText);
