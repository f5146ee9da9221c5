"""Writes the docstrings of the board functions from the comments of the
library's public header, so that each text is written once.

usage: make_board_docs.py HEADER OUTPUT

Each function's text is the run of comment lines right above its declaration
(section rulers dropped). An overloaded name's later forms are keyed
"Name#2", "Name#3".
"""
import re
import sys

DECLARATION = re.compile(r"^\s+(?:int|usbErrorCode)\s+(\w+)\(")
COMMENT = re.compile(r"^\s*// ?(.*)$")


def docs_of(lines):
    docs, seen, comment = {}, {}, []
    in_public = False
    for line in lines:
        if line.strip() == "public:":
            in_public = True
            continue
        if line.strip() == "private:":
            break
        if not in_public:
            continue
        match = COMMENT.match(line)
        if match:
            text = match.group(1).rstrip()
            if not text.startswith("----"):
                comment.append(text)
            continue
        declaration = DECLARATION.match(line)
        if declaration:
            name = declaration.group(1)
            seen[name] = seen.get(name, 0) + 1
            key = name if seen[name] == 1 else f"{name}#{seen[name]}"
            docs[key] = "\n".join(comment)
        comment = []
    return docs


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_board_docs.py HEADER OUTPUT")
    with open(sys.argv[1], encoding="utf-8") as header:
        docs = docs_of(header.read().splitlines())
    if not docs:
        sys.exit(f"make_board_docs.py: no declarations found in {sys.argv[1]}")
    out = ["// Generated from the library's public header by make_board_docs.py.",
           "#pragma once", "", "#include <string_view>", "", "namespace vantrel::python {", "",
           "struct BoardDocEntry {", "  std::string_view key;", "  const char* text;", "};", "",
           "inline constexpr BoardDocEntry kBoardDocs[] = {"]
    for key, text in docs.items():
        if ")doc\"" in text:
            sys.exit("make_board_docs.py: a comment closes the raw string")
        out.append(f'    {{"{key}", R"doc({text})doc"}},')
    out += ["};", "", "}  // namespace vantrel::python", ""]
    with open(sys.argv[2], "w", encoding="utf-8") as output:
        output.write("\n".join(out))


if __name__ == "__main__":
    main()
