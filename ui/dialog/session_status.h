// What this session of NLCONF works with, always in sight on the status line
// under the panes: the profile (the last settings file loaded, applied after
// every Read), the record the pairs go to, and the session's PASS and FAIL
// counts. After a change of profile or record, show it again; after each
// Run Pair, count its result.
#pragma once

#include "module/settings_file.h"

const SettingsFile* loadedProfile();
// Its whole path; empty while no profile is loaded.
const wchar_t* loadedProfilePath();
// The file just loaded from path (made whole here) is the profile from now on.
void keepProfile(const SettingsFile& file, const wchar_t* path);
void forgetProfile();

// The record's whole path; empty while no record is kept.
const wchar_t* recordFilePath();
// path is whole already (a file dialog's, or made whole from the command line).
void keepRecordIn(const wchar_t* path);

void showSessionStatus();
void notePairResult(bool pass);
