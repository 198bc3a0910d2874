"""The stand-in board folder and the document root, laid in one place for the
web and load stages and for the demo:
  standin.py board FLAVOUR BOARD LOG      a board folder (FLAVOUR: web, load or demo) whose
                                          /etc/Configure logs to LOG
  standin.py docroot DOCROOT PROGRAM      cgi-bin/northbeam, images/ and the board's index.html

The flavours:
  web   fixed /proc files and commands, so that a page through a web server can be
        compared byte for byte with the program's own; an apply takes 2 seconds
  load  commands that print their own PID on every line; an apply takes no time
  demo  this machine's CPU, memory and commands, a sample PCI list; an apply takes 2 seconds
"""

import os
import shutil
import sys

import pages

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
STANDIN = os.path.join(HERE, "standin-board")

# Seconds an apply of the stand-in Configure takes, by flavour.
PAUSE = {"web": "2", "load": "0", "demo": "2"}
# Each flavour's board files: path in the board, then a stand-in file, or a
# link to this machine's own file when it starts with "/".
FILES = {
    "web": {"proc/cpuinfo": "cpuinfo", "proc/meminfo": "meminfo",
            "sbin/ifconfig": "ifconfig", "sbin/route": "route"},
    "load": {"sbin/ifconfig": "loadcmd", "sbin/route": "loadcmd"},
    "demo": {"proc/cpuinfo": "/proc/cpuinfo", "proc/meminfo": "/proc/meminfo", "proc/pci": "pci",
             "sbin/ifconfig": "democmd", "sbin/route": "democmd"},
}


def configure_text(board, log, pause):
    """The stand-in Configure, with this board's absolute paths."""
    with open(os.path.join(STANDIN, "Configure")) as f:
        text = f.read()
    for key, value in (("@SELF@", os.path.join(board, "etc", "Configure")),
                       ("@SETTINGS@", os.path.join(board, "tmp", "config.out")),
                       ("@LOG@", log), ("@PAUSE@", pause)):
        text = text.replace(key, value)
    return text


def lay_board(flavour, board, log):
    """A fresh board folder: proc/, sbin/, etc/Configure and an empty tmp/."""
    shutil.rmtree(board, ignore_errors=True)
    for sub in ("proc", "sbin", "etc", "tmp"):
        os.makedirs(os.path.join(board, sub))
    for path, source in FILES[flavour].items():
        target = os.path.join(board, path)
        if source.startswith("/"):
            os.symlink(source, target)
        else:
            shutil.copy(os.path.join(STANDIN, source), target)
    configure = os.path.join(board, "etc", "Configure")
    with open(configure, "w") as f:
        f.write(configure_text(board, log, PAUSE[flavour]))
    os.chmod(configure, 0o755)
    os.makedirs(os.path.dirname(log), exist_ok=True)
    open(log, "w").close()


def lay_docroot(docroot, program):
    """The board's document root: the program, its pictures, and the address
    of the server itself leading to the interface."""
    shutil.rmtree(docroot, ignore_errors=True)
    os.makedirs(os.path.join(docroot, "cgi-bin"))
    os.makedirs(os.path.join(docroot, "images"))
    shutil.copy(program, os.path.join(docroot, "cgi-bin", "northbeam"))
    for picture in pages.PICTURES:
        shutil.copy(os.path.join(pages.IMAGES, picture), os.path.join(docroot, "images"))
    shutil.copy(os.path.join(SOURCE, "board", "index.html"), docroot)


def main(argv):
    if len(argv) == 4 and argv[0] == "board" and argv[1] in FILES:
        lay_board(argv[1], os.path.abspath(argv[2]), os.path.abspath(argv[3]))
        return 0
    if len(argv) == 3 and argv[0] == "docroot":
        lay_docroot(os.path.abspath(argv[1]), argv[2])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
