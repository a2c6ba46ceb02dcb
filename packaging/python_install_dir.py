"""Prints where the robosim package goes under an install prefix, relative to it:
where Debian's python3 looks for packages of that prefix.

    /usr/bin/python3 packaging/python_install_dir.py PREFIX

/usr gives lib/python3/dist-packages (Debian's own packages), /usr/local gives
lib/python3.X/dist-packages (what pip and make install use), and any other prefix
what sysconfig's posix_prefix scheme says (lib/python3.X/site-packages), which
python3 does not search by itself.
"""

import os
import sys
import sysconfig


def package_dir(prefix):
    schemes = sysconfig.get_scheme_names()
    if prefix == "/usr" and "deb_system" in schemes:
        scheme, base = "deb_system", prefix
    elif prefix == "/usr/local" and "posix_local" in schemes:
        # Debian's posix_local scheme adds "local" to a base of /usr itself.
        scheme, base = "posix_local", "/usr"
    else:
        scheme, base = "posix_prefix", prefix
    return sysconfig.get_path("platlib", scheme, vars={"base": base, "platbase": base})


def main():
    if len(sys.argv) != 2 or not os.path.isabs(sys.argv[1]):
        sys.exit("usage: python_install_dir.py ABSOLUTE-PREFIX")
    prefix = os.path.normpath(sys.argv[1])
    relative = os.path.relpath(package_dir(prefix), prefix)
    if relative.startswith(os.pardir):
        sys.exit(f"python_install_dir.py: the package directory for {prefix} is outside it")
    print(relative)


if __name__ == "__main__":
    main()
