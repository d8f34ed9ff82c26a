#!/usr/bin/env python3
"""Generates the C++ classes of a Petri net from its declarative description.

Placeholder: writes only the net class shell and main; the full generator
replaces it."""
import argparse
import json
import os
import sys


def files(desc):
    return ["ImplementedNetClass.h", "buildnet.cpp", "main.cpp"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--description", required=True)
    ap.add_argument("--output-dir", required=True)
    ap.add_argument("--list", action="store_true")
    a = ap.parse_args()
    with open(a.description) as f:
        desc = json.load(f)
    if a.list:
        print("\n".join(files(desc)))
        return 0
    os.makedirs(a.output_dir, exist_ok=True)
    out = {
        "ImplementedNetClass.h": "#pragma once\n#include \"NetClass.h\"\n\nclass ImplementedNetClass : public NetClass {\npublic:\n    ~ImplementedNetClass() override {}\n    void buildNet() override {}\n    void createTokens() override {}\n    Ptr<Token> copyToken(Ptr<Token>) override { return Ptr<Token>(); }\n    Ptr<Token> upcastToken(Ptr<Token>) override { return Ptr<Token>(); }\n};\n",
        "buildnet.cpp": "#include \"ImplementedNetClass.h\"\n",
        "main.cpp": "#include \"MainClass.h\"\n\nint main(int argc, char** argv) {\n    MainClass* program = new MainClass();\n    program->main(argc, argv);\n    delete program;\n    return 0;\n}\n",
    }
    for name, text in out.items():
        with open(os.path.join(a.output_dir, name), "w") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
