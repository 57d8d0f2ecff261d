#!/usr/bin/env python3
"""Assembles the portable package from finished builds: the program, the help file, the
release plug-ins, the Japanese read-me and the licence of everything the link maps say the
modules contain; writes the zip and prints its listing.

  tools/dist-package.py --arch i686|x86_64 --build build/win --chm build/host/Pravel.chm
                        --version 2.55 --out build/dist/Pravel-2.55-win32
"""
import argparse, os, re, shutil, subprocess, sys, time, zipfile

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RELEASE_PLUGINS = ["webp", "tiff", "heif"]  # shipped when the build made them; test plug-ins never
MINGW_RUNTIME = "@MINGW@"


def die(message):
    print("dist: " + message, file=sys.stderr)
    sys.exit(1)


def archives_in_map(map_path):
    """The archive files that gave the link at least one member."""
    found = set()
    with open(map_path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    start = text.find("Archive member included")
    end = text.find("Discarded input sections")
    if start < 0:
        die(map_path + " lists no archive members")
    for match in re.finditer(r"^(\S+\.a)\(", text[start:end if end > start else len(text)], re.M):
        found.add(os.path.normpath(match.group(1)))
    return found


def read_licence_table(arch):
    table = {}
    with open(os.path.join(HERE, "dist", "licenses.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            words = line.split()
            # ARCHIVE LICENCE-FILE NAME... SOURCE...: the name runs up to the first source.
            archive, target, rest = words[0], words[1], words[2:]
            sources = [w for w in rest if "/" in w or w == "@OWN@"]
            name = " ".join(w for w in rest if w not in sources)
            table[archive] = (target, name, [s.replace("@ARCH@", arch.replace("_", "-")) for s in sources])
    return table


def licence_of(archive_path, table, triplet):
    base = os.path.basename(archive_path)
    if base in table:
        return base, table[base]
    # The mingw-w64 runtime's own archives and the import libraries of the system DLLs.
    if os.path.normpath("/usr/%s/lib" % triplet) == os.path.dirname(os.path.realpath(archive_path)):
        return base, table[MINGW_RUNTIME]
    die("%s is linked into a shipped module but dist/licenses.txt names no licence for %s" % (archive_path, base))


def write_licences(maps, arch, out_dir):
    triplet = arch + "-w64-mingw32"
    table = read_licence_table(arch)
    chosen = {}  # licence file -> (library name, sources)
    for m in maps:
        for archive in sorted(archives_in_map(m)):
            _, (target, name, sources) = licence_of(archive, table, triplet)
            chosen[target] = (name, sources)
    chosen["Pravel.txt"] = ("Pravel", ["@OWN@"])
    os.makedirs(out_dir)
    for target, (name, sources) in sorted(chosen.items()):
        parts = []
        for s in sources:
            path = os.path.join(HERE, "LICENSE") if s == "@OWN@" else s if s.startswith("/") else os.path.join(HERE, "build", "src", s)
            if not os.path.isfile(path):
                die("the licence text %s of %s is missing" % (path, name))
            with open(path, encoding="utf-8", errors="replace") as f:
                parts.append(f.read().rstrip() + "\n")
        with open(os.path.join(out_dir, target), "w", encoding="utf-8", newline="\r\n") as f:
            f.write(("\n" + "-" * 72 + "\n\n").join(parts))
    return sorted({name for name, _ in chosen.values() if name != "Pravel"})


def strip_copy(strip_tool, source, target):
    os.makedirs(os.path.dirname(target), exist_ok=True)
    subprocess.run([strip_tool, "--strip-debug", "-o", target, source], check=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--arch", choices=["i686", "x86_64"], required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--chm", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()

    stage = os.path.abspath(a.out)
    if os.path.exists(stage):
        shutil.rmtree(stage)
    os.makedirs(stage)
    strip_tool = "%s-w64-mingw32-strip" % a.arch
    maps = [os.path.join(a.build, "Pravel.map")]
    strip_copy(strip_tool, os.path.join(a.build, "Pravel.exe"), os.path.join(stage, "Pravel.exe"))
    shutil.copyfile(a.chm, os.path.join(stage, "Pravel.chm"))
    for name in RELEASE_PLUGINS:
        module = os.path.join(a.build, "plugins", name + ".spi")
        if os.path.isfile(module):
            strip_copy(strip_tool, module, os.path.join(stage, "plugins", name + ".spi"))
            maps.append(os.path.join(a.build, "plugins", name + ".map"))
    for m in maps:
        if not os.path.isfile(m):
            die(m + " is missing: the module's link map names what it contains")
    libraries = write_licences(maps, a.arch, os.path.join(stage, "licenses"))

    with open(os.path.join(HERE, "dist", "readme-ja.txt"), encoding="utf-8") as f:
        readme = f.read().replace("@VERSION@", a.version)
    readme = readme.replace("@LIBRARIES@", "\n".join("  ・" + n for n in libraries))
    # UTF-8 with a byte-order mark and CR LF: Notepad reads it as such on every Windows.
    with open(os.path.join(stage, "readme.txt"), "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write(readme)

    zip_path = stage + ".zip"
    if os.path.exists(zip_path):
        os.remove(zip_path)
    # Entries carry the time of the commit packed (SOURCE_DATE_EPOCH), so the same commit
    # packs into the same zip.
    stamp = time.gmtime(int(os.environ.get("SOURCE_DATE_EPOCH", time.time())))[:6]
    top = os.path.basename(stage)
    files = []
    for root, _, names in os.walk(stage):
        for n in names:
            files.append(os.path.relpath(os.path.join(root, n), stage))
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for rel in sorted(files):
            info = zipfile.ZipInfo(top + "/" + rel.replace(os.sep, "/"), date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(os.path.join(stage, rel), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    print("dist: %s (%d bytes)" % (zip_path, os.path.getsize(zip_path)))
    with zipfile.ZipFile(zip_path) as z:
        for i in z.infolist():
            print("  %9d  %s" % (i.file_size, i.filename))


if __name__ == "__main__":
    main()
