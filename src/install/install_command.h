// The install command of temporary mode and the removal of the extraction
// folder afterwards.
#pragma once

// Runs `command` from the extraction folder and waits for it (process, grace
// time, windows of the configured class). True when it was started, whatever
// happened afterwards; false when it could not be started.
bool RunInstallCommand();

// Removes the folder in `path` with everything in it, as far as possible.
// `path` is working storage (capacity bytes); its content afterwards is not
// meaningful.
void RemoveFolderTree(char* path, unsigned capacity);
