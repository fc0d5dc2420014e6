#include "install/path_variables.h"

#include "common/text.h"

// No variable is known yet: the text is copied as it stands.
void ExpandPathVariables(const char* text, char* out, uint32_t capacity, const char*) {
    TextCopy(out, capacity, text);
}
