#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints the dpkg status of a minimal Debian system, as a fresh install or
# container starts: this machine's installed packages of priority
# "required", the essential ones and apt, and whatever they depend on. With
# it, "apt-get -s -o Dir::State::status=FILE install ./x.deb" tells what
# installing x.deb on such a system brings.
#   minimal-status.py [STATUS]   (default /var/lib/dpkg/status)
import sys


def paragraphs(text):
    for block in text.strip().split("\n\n"):
        fields, key = {}, None
        for line in block.split("\n"):
            if line[:1] in (" ", "\t") and key:
                fields[key] += "\n" + line
                continue
            key, _, value = line.partition(":")
            fields[key] = value.strip()
        yield fields, block


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "/var/lib/dpkg/status"
    with open(path, encoding="utf-8") as f:
        text = f.read()
    installed, providers = {}, {}
    for fields, block in paragraphs(text):
        if not fields.get("Status", "").endswith(" installed"):
            continue
        name = fields["Package"]
        installed[name] = (fields, block)
        for provided in fields.get("Provides", "").split(","):
            provided = provided.strip().split(" ")[0]
            if provided:
                providers.setdefault(provided, []).append(name)

    def wanted_at_start(name, fields):
        return fields.get("Priority") == "required" or fields.get("Essential") == "yes" or name == "apt"

    pending = [n for n, (fields, _) in installed.items() if wanted_at_start(n, fields)]
    chosen = set()
    while pending:
        name = pending.pop()
        if name in chosen:
            continue
        chosen.add(name)
        fields = installed[name][0]
        for field in ("Pre-Depends", "Depends"):
            for dependency in fields.get(field, "").split(","):
                # The first alternative this machine has satisfies it.
                for alternative in dependency.split("|"):
                    wanted = alternative.strip().split(" ")[0].split(":")[0]
                    if wanted in installed:
                        pending.append(wanted)
                        break
                    if wanted in providers:
                        pending.append(providers[wanted][0])
                        break
    if not chosen:
        sys.exit(f"minimal-status.py: no required package is installed according to {path}")
    sys.stdout.write("\n\n".join(installed[n][1] for n in sorted(chosen)) + "\n")


main()
