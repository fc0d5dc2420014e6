#include "pack/command_prefix.h"

const char EXTRACT_DIR_PREFIX[] = "%ExtractDir%\\";

ProgramSpan FindProgram(const std::string& command) {
    return lzh_format::FindProgram(command.c_str(), lzh_format::NameEnd::BlankOrTab);
}

bool NamesFolder(const std::string& program) {
    if (program.find_first_of("\\/:") != std::string::npos) return true;
    return program.size() > 1 && program[0] == '%' && program.find('%', 1) != std::string::npos;
}

std::string PrefixProgram(const std::string& command) {
    ProgramSpan program = FindProgram(command);
    std::string prefixed = command;
    bool quoted = program.begin > 0 && command[program.begin - 1] == '"';
    if (quoted) {
        prefixed.insert(program.begin, EXTRACT_DIR_PREFIX);
        return prefixed;
    }
    // The extraction folder may hold blanks ("Documents and Settings"); an
    // unquoted path would let Windows try each shorter prefix first.
    prefixed.insert(program.begin + program.length, "\"");
    prefixed.insert(program.begin, std::string("\"") + EXTRACT_DIR_PREFIX);
    return prefixed;
}
