#pragma once
#include "framework/CString.h"

// Puts the text on the clipboard, replacing what was there: exactly, as
// CF_UNICODETEXT, and as CF_TEXT in the user's ANSI code page ("?" for what
// that code page lacks). The clipboard keeps its old content when this fails.
bool PlaceTextOnClipboard(HWND hOwner, const CString& strText);
