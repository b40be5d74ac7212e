#!/usr/bin/python3
"""Writes THIRD-PARTY-NOTICES for the Windows pinemail.exe to standard output
(UTF-8): the copyright notices and licences of every library linked into it,
taken from the files its build used. The linker's map says which archives and
members went in; libcurl's come from the Debian source tree the build
unpacked, the toolchain's from the copyright files of the Debian packages that
own the archives. An archive that no rule here covers stops the script, so
the notices cannot fall behind the build.

Usage: third_party_notices.py BUILD_DIR   (a Windows build folder)
"""

import fnmatch
import os
import re
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
RULE = "=" * 72

# The Debian packages of the mingw-w64 toolchain whose archives may be linked,
# and the notice each gets.
MINGW_RUNTIME = "mingw-w64-x86-64-dev"
GCC_RUNTIME = ("gcc-mingw-w64-x86-64-posix", "g++-mingw-w64-x86-64-posix")

# The parts of the mingw-w64 source that its linked libraries are built from
# (the C runtime, the import libraries, winpthreads), and the parts of those
# folders that go into no library a program links by default.
MINGW_LINKED_SOURCES = ("mingw-w64-crt/", "mingw-w64-libraries/winpthreads/")
MINGW_UNLINKED_SOURCES = ("mingw-w64-crt/profile/", "mingw-w64-crt/testcases/",
                          "mingw-w64-libraries/winpthreads/tests_pthread/")

# libstdc++ members that carry code under a licence of its own, with the
# notice kept beside this script.
LIBSTDCXX_EMBEDDED = {"floating_from_chars.o": "notices/fast_float.txt"}


class NoticeError(Exception):
    """The notices cannot be made complete from what the build left."""


def read_text(path):
    try:
        return Path(path).read_text(encoding="utf-8")
    except OSError as error:
        raise NoticeError(f"cannot read {path}: {error.strerror}") from None


# --- what the link used ---------------------------------------------------

def linked_inputs(build):
    """{real path: set of members} of every object and archive the link of
    pinemail.exe used; a whole object has the member None."""
    map_path = build / "src" / "pinemail.map"
    if not map_path.is_file():
        raise NoticeError(f"no link map {map_path}: link pinemail.exe again with this tree's "
                          "CMake files")
    text = read_text(map_path)
    # CMake runs the link in the target's folder; relative paths start there.
    link_dir = build / "src" / "app"
    members_part = text.split("\nMemory Configuration", 1)[0]
    found = {}

    def add(raw, member):
        path = Path(raw) if os.path.isabs(raw) else link_dir / raw
        found.setdefault(os.path.realpath(path), set()).add(member)

    for archive, member in re.findall(r"^([^\s(][^(\n]*\.a)\(([^)\n]+)\)", members_part, re.M):
        add(archive, member)
    for loaded in re.findall(r"^LOAD (\S.*)$", text, re.M):
        if loaded.endswith((".o", ".obj")):
            add(loaded, None)
    if not found:
        raise NoticeError("the link map names no input: was pinemail.exe linked with -Map?")
    return found


def package_owners(paths):
    """{path: Debian package} for files installed by packages."""
    done = subprocess.run(["dpkg-query", "-S", *paths], capture_output=True, text=True)
    owners = {}
    for line in done.stdout.splitlines():
        if line.startswith("diversion ") or ": " not in line:
            continue
        packages, path = line.split(": ", 1)
        owners[path] = packages.split(",")[0].split(":")[0].strip()
    return owners


def package_version(package):
    done = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package],
                          capture_output=True, text=True)
    if done.returncode != 0 or not done.stdout:
        raise NoticeError(f"package {package} is not installed")
    return done.stdout


# --- Debian machine-readable copyright files ------------------------------

def paragraphs(text):
    """The paragraphs of a deb822 file, each a list of (field, value lines)."""
    result = []
    for block in re.split(r"\n[ \t]*\n", text.strip("\n")):
        fields = []
        for line in block.splitlines():
            if line[:1] in (" ", "\t") and fields:
                fields[-1][1].append(line)
            elif ":" in line:
                name, value = line.split(":", 1)
                fields.append((name, [value.strip()]))
        result.append(fields)
    return result


def field(paragraph, name):
    for key, lines in paragraph:
        if key.lower() == name.lower():
            return lines
    return None


def file_patterns(paragraph):
    lines = field(paragraph, "Files")
    return " ".join(lines).split() if lines else []


def license_names(paragraph):
    """The licence names a Files paragraph refers to ("A and B", "A or B")."""
    synopsis = field(paragraph, "License")[0]
    return [name for name in re.split(r"\s+(?:and|or)\s+", synopsis) if name]


def render(paragraph, files=None):
    lines = []
    for name, value in paragraph:
        if name == "Files" and files is not None:
            lines.append("Files: " + files[0])
            lines += ["       " + pattern for pattern in files[1:]]
            continue
        lines.append(f"{name}: {value[0]}".rstrip())
        lines += value[1:]
    return "\n".join(lines)


def with_licence_texts(kept, all_paragraphs):
    """The kept Files paragraphs followed by the stand-alone License
    paragraphs they name; a name with no text anywhere stops the script."""
    standalone = {field(p, "License")[0]: p for p in all_paragraphs
                  if field(p, "License") and not field(p, "Files")}
    needed = []
    for paragraph, _ in kept:
        if len(field(paragraph, "License")) > 1:
            continue  # the text is in the paragraph itself
        for name in license_names(paragraph):
            if name not in standalone:
                raise NoticeError(f"no text for the licence {name}")
            if name not in needed:
                needed.append(name)
    parts = [render(paragraph, files) for paragraph, files in kept]
    return "\n\n".join(parts + [render(standalone[name]) for name in needed])


# --- the sections -----------------------------------------------------------

def curl_section(build, members):
    source = build / "curl" / "source"
    header = read_text(build / "curl" / "install" / "include" / "curl" / "curlver.h")
    version = re.search(r'^#define LIBCURL_VERSION "([^"]+)"', header, re.M)
    debian = re.match(r"curl \(([^)]+)\)", read_text(source / "debian" / "changelog"))
    if not version or not debian:
        raise NoticeError("the version of the libcurl build is not known")
    title = f"libcurl {version.group(1)}"
    origin = [f"Built from the Debian source package curl {debian.group(1)}"]
    text = read_text(source / "COPYING").strip("\n")
    others = curl_files_under_other_licences(source, members)
    if others:
        text += ("\n\nThese files of libcurl linked into pinemail.exe carry a licence of "
                 "their own:\n\n" + others)
    return title, origin, text


def curl_files_under_other_licences(source, members):
    """The debian/copyright paragraphs (licence other than curl's) of the
    sources of the linked members ("url.c.obj" is lib/**/url.c)."""
    all_paragraphs = paragraphs(read_text(source / "debian" / "copyright"))
    files = [p for p in all_paragraphs if field(p, "Files")]
    kept = []
    for member in sorted(m for m in members if m):
        name = member.removesuffix(".obj").removesuffix(".o")
        for path in sorted((source / "lib").rglob(name)):
            relative = path.relative_to(source).as_posix()
            # As in every machine-readable copyright file, the last match wins.
            matching = [p for p in files
                        if any(fnmatch.fnmatch(relative, pat) for pat in file_patterns(p))]
            if matching and field(matching[-1], "License")[0] != "curl":
                if all(p is not matching[-1] for p, _ in kept):
                    kept.append((matching[-1], None))
    return with_licence_texts(kept, all_paragraphs) if kept else ""


def mingw_section():
    version = package_version(MINGW_RUNTIME)
    title = "mingw-w64 runtime and winpthreads"
    origin = [f"From the Debian package {MINGW_RUNTIME} {version}"]
    all_paragraphs = paragraphs(read_text(f"/usr/share/doc/{MINGW_RUNTIME}/copyright"))
    kept = []
    for paragraph in all_paragraphs:
        patterns = [pattern for pattern in file_patterns(paragraph)
                    if pattern == "*" or (pattern.startswith(MINGW_LINKED_SOURCES)
                                          and not pattern.startswith(MINGW_UNLINKED_SOURCES))]
        if patterns:
            kept.append((paragraph, patterns))
    if not kept:
        raise NoticeError(f"no paragraph of the {MINGW_RUNTIME} copyright file applies")
    intro = ("The parts of the mingw-w64 copyright file that apply to the C runtime,\n"
             "the import libraries and winpthreads, which pinemail.exe links:")
    header = render(all_paragraphs[0])
    text = "\n\n".join([intro, header, with_licence_texts(kept, all_paragraphs)])
    return title, origin, text


def between(text, start, end, what):
    """The lines of text from the one that starts with `start` up to the one
    that starts with `end`."""
    match = re.search(rf"^{re.escape(start)}.*?(?=^{re.escape(end)})", text, re.M | re.S)
    if not match:
        raise NoticeError(f"{what}: the text changed; '{start}' not found")
    return match.group(0).strip("\n")


def gcc_section(packages, libstdcxx, members):
    title = "libgcc and libstdc++ (GCC)"
    origin = [f"From the Debian package {p} {package_version(p)}" for p in packages]
    copyright_file = f"/usr/share/doc/{packages[0]}/copyright"
    text = read_text(copyright_file)
    statement = between(text, "GCC is Copyright", "The libbacktrace library", copyright_file)
    # The exception, up to the end of its last section.
    exception = re.search(r"^GCC RUNTIME LIBRARY EXCEPTION\n.*?^2\. No Weakening[^\n]*\n\n.*?"
                          r"(?=\n[ \t]*\n|\Z)", text, re.M | re.S)
    if not exception:
        raise NoticeError(f"{copyright_file}: the runtime library exception is not found")
    parts = [statement,
             "The GNU General Public License, version 3, is at\n"
             "https://www.gnu.org/licenses/gpl-3.0.html.",
             exception.group(0)]
    if libstdcxx:
        parts.append(stl_notice(Path(libstdcxx).parent))
        for member, notice in sorted(LIBSTDCXX_EMBEDDED.items()):
            if member in members.get(libstdcxx, ()):
                parts.append(read_text(HERE / notice).strip("\n"))
    return title, origin, "\n\n".join(parts)


def stl_notice(gcc_dir):
    """The Hewlett-Packard and Silicon Graphics notices of the STL parts of
    libstdc++, from the headers installed with the library."""
    header = gcc_dir / "include" / "c++" / "bits" / "stl_algobase.h"
    for comment in re.findall(r"/\*(.*?)\*/", read_text(header), re.S):
        if "Hewlett-Packard" in comment and "Permission to use" in comment:
            lines = [re.sub(r"^ ?\* ?", "", line).rstrip() for line in comment.splitlines()]
            body = re.sub(r"\n{3,}", "\n\n", "\n".join(lines).strip("\n"))
            return "The STL parts of libstdc++ carry these notices:\n\n" + body
    raise NoticeError(f"{header}: the STL notices are not found")


# --- putting it together -----------------------------------------------------

def sections(build):
    inputs = linked_inputs(build)
    build_root = os.path.realpath(build)
    curl_library = os.path.realpath(build / "curl" / "install" / "lib" / "libcurl.a")
    system = sorted(p for p in inputs
                    if p != curl_library and not p.startswith(build_root + os.sep))
    owners = package_owners(system)
    unknown = [f"{p} ({owners.get(p, 'no package')})" for p in system
               if owners.get(p) not in (MINGW_RUNTIME, *GCC_RUNTIME)]
    if unknown:
        raise NoticeError("no notice is known for what these brought into pinemail.exe: "
                          + ", ".join(unknown))
    result = []
    if curl_library in inputs:
        result.append(curl_section(build, inputs[curl_library]))
    if MINGW_RUNTIME in owners.values():
        result.append(mingw_section())
    gcc = [p for p in GCC_RUNTIME if p in owners.values()]
    if gcc:
        libstdcxx = next((p for p in system if p.endswith("/libstdc++.a")), None)
        result.append(gcc_section(gcc, libstdcxx, inputs))
    return result


def notices(build):
    parts = sections(build)
    lines = ["pinemail.exe に組み込まれているライブラリの著作権表示とライセンス",
             "Copyright notices and licences of the libraries linked into pinemail.exe",
             RULE, "",
             "pinemail.exe contains these libraries, linked statically:", ""]
    lines += [f"  {n}. {title}" for n, (title, _, _) in enumerate(parts, 1)]
    for n, (title, origin, text) in enumerate(parts, 1):
        lines += ["", "", RULE, f"{n}. {title}", RULE, "", *origin, "", text]
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    try:
        sys.stdout.write(notices(Path(sys.argv[1])))
    except NoticeError as error:
        sys.exit(f"third_party_notices: {error}")


if __name__ == "__main__":
    main()
