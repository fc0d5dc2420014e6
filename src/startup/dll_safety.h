// DLL loading that cannot be planted: an installer is started from folders
// such as Downloads, where anyone may have left a DLL named like a system
// one. The stub imports statically only DLLs that Windows always takes from
// the system folder; everything else comes from the system folder by full
// path.
#pragma once

// Where the running Windows can (SetDefaultDllDirectories, found at run
// time so that older Windows still start), restricts every later DLL search
// to the system folder, and drops the current folder from the search.
void RestrictDllSearch();

// Drops the current folder from this process's DLL search, or gives the
// system's default search back. Processes started meanwhile inherit the
// setting, so the stub gives the default back only while it starts the
// installer, whose own folder must stay in its search.
void DropCurrentFolderFromDllSearch(bool drop);

// Loads comctl32 from the system folder by its full path and calls its
// InitCommonControls, so that the progress bar class exists. Nothing is
// reported when it cannot be loaded: the progress window then fails to come
// up, which ends the run without a pass.
void InitCommonControlsFromSystem();
