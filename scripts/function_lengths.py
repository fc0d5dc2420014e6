#!/usr/bin/env python3
"""Lists functions longer than a limit in C and C++ sources.

usage: function_lengths.py [--limit N] [--all] DIR_OR_FILE...

How it counts: comments, string and character literals are blanked first
(line breaks kept). A function body is a '{' met at namespace, class or
extern "C" scope whose preceding text is a declarator: it ends in ')',
optionally followed by qualifiers (const, noexcept, override, final, a
trailing return type) or a constructor's member initialisers. Its length is
the number of lines from the line that holds the function's name to the line
of the matching '}', both included, blank lines and comments inside counted.
Lambdas and local classes count as part of the function that holds them.
Preprocessor lines are skipped. Prints "LINES FILE:LINE NAME" for each
function over the limit (every function with --all), then a count.
"""
import argparse
import os
import re
import sys

SOURCE_EXTENSIONS = ('.c', '.cc', '.cpp', '.h', '.hpp')


def blank_comments_and_literals(text):
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == '_')):
            open_paren = text.find('(', i)
            delimiter = text[i + 2:open_paren]
            j = text.find(')' + delimiter + '"', open_paren)
            j = n if j < 0 else j + len(delimiter) + 2
            out.append('""' + re.sub(r'[^\n]', ' ', text[i + 2:j]))
            i = j
        elif c in '"\'':
            if c == '\'' and i > 0 and text[i - 1].isalnum():  # digit separator 1'000
                out.append(' ')
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            j = min(j + 1, n)
            out.append(c + ' ' * (j - i - 2) + c if j - i >= 2 else text[i:j])
            i = j
        else:
            out.append(c)
            i += 1
    text = ''.join(out)
    # Preprocessor lines (with their continuations) say nothing about bodies.
    return re.sub(r'^[ \t]*#(?:[^\n]*\\\n)*[^\n]*', lambda m: re.sub(r'[^\n]', ' ', m.group(0)), text, flags=re.M)


DECLARATOR_END = re.compile(
    r'\)\s*(?:(?:const|noexcept(?:\s*\([^)]*\))?|override|final|volatile|&&?|mutable)\s*)*'
    r'(?:->\s*[\w:<>,\s\*&]+)?\s*$')
INITIALISERS = re.compile(r'\)\s*:\s*[\w:]+\s*[({][\s\S]*[)}]\s*$')
NAME_BEFORE_PARAMETERS = re.compile(r'([~\w:]+(?:\s*operator\s*[^\s(]+)?)\s*\($')
NOT_FUNCTIONS = {'if', 'for', 'while', 'switch', 'catch', 'sizeof', 'return', 'decltype', 'alignof', 'static_assert'}


def function_name(head):
    """The name before the parameter list whose ')' ends head, or None."""
    depth = 0
    for k in range(len(head) - 1, -1, -1):
        ch = head[k]
        if ch == ')':
            depth += 1
        elif ch == '(':
            depth -= 1
            if depth == 0:
                match = NAME_BEFORE_PARAMETERS.search(head[:k + 1])
                if match is None:
                    return None, k
                name = match.group(1)
                if name.split('::')[-1] in NOT_FUNCTIONS:
                    return None, k
                return name, match.start(1)
    return None, 0


def functions(text):
    text = blank_comments_and_literals(text)
    results = []
    scopes = []  # for each open '{': 'scope' (namespace/class) or 'body'
    segment_start = 0  # where the text before the next '{' at scope level starts
    i = 0
    while i < len(text):
        c = text[i]
        if c in ';}' and (not scopes or scopes[-1] == 'scope'):
            if c == '}' and scopes:
                scopes.pop()
            segment_start = i + 1
        elif c == '{':
            inside_body = scopes and scopes[-1] == 'body'
            if inside_body:
                scopes.append('inner')
            else:
                head = text[segment_start:i]
                is_body = False
                name, name_at = None, 0
                stripped = head.rstrip()
                if DECLARATOR_END.search(stripped) or INITIALISERS.search(stripped):
                    target = stripped
                    init = re.search(r'\)\s*:\s*[\w:]+\s*[({]', stripped)
                    if init and not DECLARATOR_END.search(stripped):
                        target = stripped[:init.start() + 1]
                    name, name_at = function_name(DECLARATOR_END.sub(')', target) if DECLARATOR_END.search(target) else target)
                    is_body = name is not None and not re.search(r'=\s*$', stripped)
                if is_body:
                    start_line = text.count('\n', 0, segment_start + name_at) + 1
                    depth, j = 1, i + 1
                    while j < len(text) and depth:
                        if text[j] == '{':
                            depth += 1
                        elif text[j] == '}':
                            depth -= 1
                        j += 1
                    end_line = text.count('\n', 0, j - 1) + 1
                    results.append((end_line - start_line + 1, start_line, name))
                    i = j
                    segment_start = j
                    continue
                scopes.append('scope')
                segment_start = i + 1
        elif c == '}' and scopes:
            scopes.pop()
        i += 1
    return results


def source_files(paths):
    for path in paths:
        if os.path.isfile(path):
            yield path
            continue
        for root, dirs, files in os.walk(path):
            dirs[:] = sorted(d for d in dirs if d not in ('build', '.git'))
            for name in sorted(files):
                if name.endswith(SOURCE_EXTENSIONS):
                    yield os.path.join(root, name)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('paths', nargs='+')
    parser.add_argument('--limit', type=int, default=80)
    parser.add_argument('--all', action='store_true')
    args = parser.parse_args()
    over = 0
    total = 0
    rows = []
    for path in source_files(args.paths):
        with open(path, encoding='utf-8', errors='replace') as f:
            for length, line, name in functions(f.read()):
                total += 1
                if length > args.limit:
                    over += 1
                if length > args.limit or args.all:
                    rows.append((length, path, line, name))
    for length, path, line, name in sorted(rows, reverse=True):
        print('%4d %s:%d %s' % (length, path, line, name))
    print('%d of %d functions over %d lines' % (over, total, args.limit))
    return 0


if __name__ == '__main__':
    sys.exit(main())
