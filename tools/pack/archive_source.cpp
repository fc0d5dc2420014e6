#include "pack/archive_source.h"

bool LoadArchive(const PackOptions& options, pe::Bytes* archive, std::string* error) {
    if (!pe::ReadFile(options.archive, archive, error)) {
        *error = "--archive: " + *error;
        return false;
    }
    if (archive->empty()) {
        *error = "--archive: " + options.archive + " is empty";
        return false;
    }
    return true;
}
