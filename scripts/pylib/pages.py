"""What the harness knows of the program's pages and settings, for the web,
board and load stages, the demo and the bench: read from the build folder's
northbeam-facts.json, which the build writes from src/funlib.hpp's tables
(NB_FACTS names it; by default the newest below build/). The pictures are
every file of images/.
"""

import glob
import json
import os
import urllib.parse

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def facts_path():
    """NB_FACTS, or the newest facts file of a build below build/."""
    if os.environ.get("NB_FACTS"):
        return os.environ["NB_FACTS"]
    found = glob.glob(os.path.join(SOURCE, "build", "*northbeam-facts.json"))
    found += glob.glob(os.path.join(SOURCE, "build", "*", "northbeam-facts.json"))
    if not found:
        raise SystemExit(
            "no northbeam-facts.json below build/: configure a build first (cmake -S . -B build)"
        )
    return max(found, key=os.path.getmtime)


with open(facts_path()) as f:
    FACTS = json.load(f)


def as_sent(value):
    """A page name as a form sends it in a query (a space as "+")."""
    return urllib.parse.quote_plus(value)


# The menu pages in menu order: the request's index_link value as a form
# sends it, and the button's label without its padding.
PAGES = [(as_sent(p["value"]), p["label"].strip()) for p in FACTS["pages"]]
VALUES = [value for value, _ in PAGES]
# The home page, the settings form, and the pages of the board's commands.
HOME = VALUES[FACTS["home"]]
FORM = VALUES[FACTS["form"]]
COMMANDS = {command: VALUES[index] for command, index in FACTS["commands"].items()}
# The program's address on the board.
CGI = FACTS["cgi"]
# The title of every document.
TITLE = FACTS["title"]
# The settings in the file's order: name, the form's label, default, text
# field width (0: none); the ones the form shows as text fields; the defaults.
FIELDS = FACTS["fields"]
TEXT_FIELDS = [f["name"] for f in FIELDS if f["size"] > 0]
DEFAULTS = {f["name"]: f["default"] for f in FIELDS}
# The pictures the pages name as ../images/NAME: every file of images/.
IMAGES = os.path.join(SOURCE, "images")
PICTURES = sorted(os.listdir(IMAGES))


def query(*values):
    """The query that asks for these pages in one document."""
    return "rc=1" + "".join(f"&{FACTS['index_link']}=" + value for value in values)


def path(*values):
    """The program's address asking for these pages."""
    return CGI + "?" + query(*values)
