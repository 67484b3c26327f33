#pragma once
#include "engine/components/ComponentItem.h"
#include "engine/components/VerificationSite.h"
#include "engine/components/WorkProgress.h"
#include <memory>
#include <vector>

class CFolderSearch;

// The work behind "Verify COM Information" and "Verify Files Exist", over the
// records of the catalogue and without a window: the page runs it on its
// list's records and moves the results into cells; the unattended report runs
// it on records of its own.

// One record per catalogue entry, in table order, not yet checked.
std::vector<std::unique_ptr<ComponentItem>> MakeCatalogueRecords();
// Every catalogue record in the list's first order (file name, ascending),
// verified as the two buttons verify them, in the order a user presses them.
std::vector<std::unique_ptr<ComponentItem>> VerifiedCatalogue(const VerificationFolders& folders);

// True when the record's ProgID has a non-empty "\Clsid" default value of
// type REG_SZ under the classes root, read in the registry view of the
// record's file (this program's when the file is unknown or unreadable).
bool IsRegistered(const ComponentItem& item);
// The record's file path by its kind, kept in strLocation. The searches of one
// press answer for the names they cover; anything else is searched on its own.
CString ResolveLocation(ComponentItem& item, const VerificationFolders& folders,
                        const CFolderSearch* pToolSearch = nullptr, const CFolderSearch* pCommonSearch = nullptr);
// Sets strOnSystem and, for a file present, its version; a file not present
// keeps no version of an earlier find.
void VerifyPresence(ComponentItem& item, const VerificationFolders& folders,
                    const CFolderSearch* pToolSearch = nullptr, const CFolderSearch* pCommonSearch = nullptr);

// Every record in the order given (null records are skipped), with the
// progress range 0..n, positions 0..n-1 and back to 0. Each is read in its
// file's registry view: records never looked for are looked for first.
void VerifyRegistration(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                        CWorkProgress& progress);
// The same for presence; each tree is walked once for all its records.
void VerifyFiles(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                 CWorkProgress& progress);
// Only the locations of VerifyFiles, without looking at the files found.
void ResolveLocations(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                      CWorkProgress& progress);

// The six cells a record shows once verified: file name, ProgID, Registered,
// On System, and the version and path when the file is present.
void GetRecordCells(const ComponentItem& item, CString (&cells)[6]);
// A present file: strOnSystem says "Yes".
bool IsPresent(const ComponentItem& item);
